#include "ServerPolicy.h"

#include <arpa/inet.h>
#include <strings.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "CgiRequest.h"
#include "base/tcp/CoIoTcpDescriptor.h"
#include "client/api/CorvaneServerHandle.h"

namespace {

bool isHostChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_'; }

// A port of one to five digits, 1 to 65535; 0 when text is not one.
int portOf(const std::string& text) {
    if (text.empty() || text.size() > 5)
        return 0;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return 0;
    const int port = std::atoi(text.c_str());
    return port <= 65535 ? port : 0;
}

// A database name must not start with a digit: the library would read
// leading digits as a port.
bool isDatabase(const std::string& text) {
    if (text.empty() || !(std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_'))
        return false;
    for (char c : text)
        if (!isHostChar(c))
            return false;
    return true;
}

bool isHostName(const std::string& text) {
    if (text.empty() || !std::isalnum(static_cast<unsigned char>(text[0])))
        return false;
    for (char c : text)
        if (!isHostChar(c))
            return false;
    return true;
}

// Parses an IPv4 or IPv6 address into out (IPv4 in its first four bytes).
int familyOf(const std::string& text, in6_addr* out) {
    *out = in6_addr{};
    if (inet_pton(AF_INET, text.c_str(), out) == 1)
        return AF_INET;
    if (inet_pton(AF_INET6, text.c_str(), out) == 1)
        return AF_INET6;
    return 0;
}

bool samePrefix(const in6_addr& a, const in6_addr& b, int bits) {
    const unsigned char* x = a.s6_addr;
    const unsigned char* y = b.s6_addr;
    for (int i = 0; bits > 0; ++i, bits -= 8) {
        const unsigned char mask = bits >= 8 ? 0xff : static_cast<unsigned char>(0xff << (8 - bits));
        if ((x[i] & mask) != (y[i] & mask))
            return false;
    }
    return true;
}

// The address the library connects to for host: the host itself when it is
// an address, else the first its lookup gives.
int addressOf(const std::string& host, in6_addr* out) {
    if (const int family = familyOf(host, out))
        return family;
    std::string address;
    if (!Corvane::CoIoTcpDescriptor::getIpAddrFromHostName(host.c_str(), address))
        return 0;
    return familyOf(address, out);
}

}  // namespace

ServerPolicy::ServerPolicy(const char* allowed) {
    std::vector<std::string> words;
    CgiRequest::splitString(allowed ? allowed : "", words, " \t\n,");
    restricted_ = !words.empty();
    for (const std::string& word : words) {
        Entry entry;
        if (!parseEntry(word, &entry)) {
            badEntry_ = word;
            return;
        }
        entries_.push_back(entry);
    }
}

bool ServerPolicy::parseEntry(const std::string& text, Entry* entry) const {
    if (strcasecmp(text.c_str(), "discovered") == 0) {
        entry->discovered = true;
        return true;
    }
    std::string host = text;
    if (text[0] == '[') {  // [address]:port or [address]/bits:port
        const size_t close = text.find(']');
        if (close == std::string::npos)
            return false;
        host = text.substr(1, close - 1);
        std::string rest = text.substr(close + 1);
        const size_t colon = rest.rfind(':');
        if (colon != std::string::npos) {
            if (!(entry->port = portOf(rest.substr(colon + 1))))
                return false;
            rest.resize(colon);
        }
        // Only a prefix may stand between the bracket and the port: more
        // text would be read into the address and name another one.
        if (!rest.empty() && rest[0] != '/')
            return false;
        host += rest;
    } else if (std::count(text.begin(), text.end(), ':') == 1) {  // one colon: a port follows
        const size_t colon = text.find(':');
        if (!(entry->port = portOf(text.substr(colon + 1))))
            return false;
        host = text.substr(0, colon);
    }
    const size_t slash = host.find('/');
    const std::string base = host.substr(0, slash);
    entry->family = familyOf(base, &entry->address);
    if (!entry->family) {
        if (slash != std::string::npos || !isHostName(base))
            return false;
        entry->name = base;
        return true;
    }
    const int maxBits = entry->family == AF_INET ? 32 : 128;
    entry->prefixBits = maxBits;
    if (slash != std::string::npos) {
        const std::string bits = host.substr(slash + 1);
        if (bits.empty() || bits.size() > 3 || bits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        entry->prefixBits = std::atoi(bits.c_str());
        if (entry->prefixBits > maxBits)
            return false;
    }
    return true;
}

bool ServerPolicy::parse(const std::string& server, std::string* host, int* port) {
    const size_t colon = server.find(':');
    *host = server.substr(0, colon);
    *port = 0;
    if (!isHostName(*host))
        return false;
    if (colon == std::string::npos)
        return true;
    const std::string suffix = server.substr(colon + 1);
    *port = portOf(suffix);
    return *port != 0 || isDatabase(suffix);
}

void ServerPolicy::check(const std::string& server) const {
    std::string host;
    int port;
    if (!parse(server, &host, &port))
        throw "Invalid Corvane server '" + server + "'";
    if (!badEntry_.empty())
        throw "Corvane server '" + server + "' is not allowed: the entry '" + badEntry_ +
            "' of CORVANE_ALLOWED_SERVERS is not a host, address or range";
    if (restricted_ && !allows(server))
        throw "Corvane server '" + server + "' is not allowed";
}

bool ServerPolicy::allows(const std::string& server) const {
    std::string host;
    int port;
    parse(server, &host, &port);
    in6_addr address{};
    const int literal = familyOf(host, &address);  // 0 for a host name
    const auto portFits = [port](const Entry& entry) { return entry.port == 0 || entry.port == port; };
    // First what needs neither discovery nor a name lookup, which is how
    // most requests are allowed: asking discovery costs more than all the
    // rest of the check.
    for (const Entry& entry : entries_) {
        if (entry.discovered || !portFits(entry))
            continue;
        if (entry.name.empty()
                ? literal && entry.family == literal && samePrefix(entry.address, address, entry.prefixBits)
                : strcasecmp(entry.name.c_str(), host.c_str()) == 0)
            return true;
    }
    // Then discovery, and addresses that take a lookup: a listed name's, or
    // the host name's against a listed range.
    int family = literal ? literal : -1;  // looked up on first need
    for (const Entry& entry : entries_) {
        if (entry.discovered) {
            if (CorvaneServerHandle::isDiscovered(server.c_str()))
                return true;
            continue;
        }
        if (!portFits(entry) || (literal && entry.name.empty()))
            continue;
        if (family < 0)
            family = addressOf(host, &address);
        if (!family)
            continue;
        if (!entry.name.empty()) {
            in6_addr named{};
            if (addressOf(entry.name, &named) == family && samePrefix(named, address, family == AF_INET ? 32 : 128))
                return true;
        } else if (entry.family == family && samePrefix(entry.address, address, entry.prefixBits)) {
            return true;
        }
    }
    return false;
}
