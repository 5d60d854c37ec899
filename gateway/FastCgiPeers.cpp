#include "FastCgiPeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <sstream>

FastCgiPeers::FastCgiPeers(const std::string& list) : checked_(list.find_first_not_of(" \t,") != std::string::npos) {
    std::istringstream entries(list);
    for (std::string entry; std::getline(entries, entry, ',');) {
        const size_t first = entry.find_first_not_of(" \t");
        if (first == std::string::npos)
            continue;
        const std::string text = entry.substr(first, entry.find_last_not_of(" \t") + 1 - first);
        in_addr v4{};
        in6_addr v6{};
        if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&v4);
            addresses_.emplace_back(bytes, bytes + 4);
        } else if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
            const bool mapped = IN6_IS_ADDR_V4MAPPED(&v6);
            addresses_.emplace_back(v6.s6_addr + (mapped ? 12 : 0), v6.s6_addr + 16);
        }
    }
}

bool FastCgiPeers::allow(int fd) const {
    if (!checked_)
        return true;
    sockaddr_storage peer{};  // of no family when there is no peer: not listed
    socklen_t size = sizeof peer;
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size);
    if (peer.ss_family == AF_UNIX)
        return true;
    const uint8_t* address = nullptr;
    size_t length = 0;
    if (peer.ss_family == AF_INET) {
        address = reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr);
        length = 4;
    } else if (peer.ss_family == AF_INET6) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_addr;
        const bool mapped = IN6_IS_ADDR_V4MAPPED(&v6);
        address = v6.s6_addr + (mapped ? 12 : 0);
        length = mapped ? 4 : 16;
    }
    for (const std::vector<uint8_t>& allowed : addresses_)
        if (allowed.size() == length && std::memcmp(allowed.data(), address, length) == 0)
            return true;
    return false;
}
