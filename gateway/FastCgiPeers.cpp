#include "FastCgiPeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

FastCgiPeers::FastCgiPeers(const std::string& list) : checked_(list.find_first_not_of(" \t,") != std::string::npos) {
    size_t at = 0;
    while (at <= list.size()) {
        size_t end = list.find(',', at);
        if (end == std::string::npos)
            end = list.size();
        const size_t first = list.find_first_not_of(" \t", at);
        const size_t last = list.find_last_not_of(" \t", end == 0 ? 0 : end - 1);
        if (first < end && last != std::string::npos && last >= first) {
            const std::string text = list.substr(first, last - first + 1);
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
        at = end + 1;
    }
}

bool FastCgiPeers::allow(int fd) const {
    if (!checked_)
        return true;
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0)
        return false;
    const uint8_t* address = nullptr;
    size_t length = 4;
    if (peer.ss_family == AF_INET) {
        address = reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr);
    } else if (peer.ss_family == AF_INET6) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_addr;
        const bool mapped = IN6_IS_ADDR_V4MAPPED(&v6);
        address = v6.s6_addr + (mapped ? 12 : 0);
        length = mapped ? 4 : 16;
    } else {
        return true;
    }
    for (const std::vector<uint8_t>& allowed : addresses_)
        if (allowed.size() == length && std::memcmp(allowed.data(), address, length) == 0)
            return true;
    return false;
}
