// Internal to the gateway.
// The peers a FastCGI listener takes connections from: the addresses of a
// list such as FCGI_WEB_SERVER_ADDRS ("10.0.0.1, ::1"); an empty list
// allows any. Immutable once made; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class FastCgiPeers {
public:
    // Entries that are no address are left out; an IPv4 address in IPv6
    // form counts as the IPv4 one.
    explicit FastCgiPeers(const std::string& list);

    // True when the peer of the connected socket fd is listed, or the list
    // allows any, or fd is a socket file (its permissions decide).
    bool allow(int fd) const;

private:
    bool checked_;                                 // the list names any
    std::vector<std::vector<uint8_t>> addresses_;  // raw addresses, 4 or 16 bytes
};
