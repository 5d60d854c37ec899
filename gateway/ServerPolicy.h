// Internal to the gateway.
// Which servers a request may name. Every server text must read as a host
// name or an IPv4 address with an optional ":port" (digits) or ":database";
// when the site lists what the gateway may reach (CORVANE_ALLOWED_SERVERS:
// host names, addresses and CIDR ranges, each with an optional ":port",
// IPv6 ones in brackets when a port follows, and the word "discovered" for
// any server discovery lists), anything else is refused before a
// connection is made. A host name is checked by the address the library
// connects to, the first its lookup gives. Built per request, used by its
// thread only.
#pragma once

#include <netinet/in.h>

#include <string>
#include <vector>

class ServerPolicy {
public:
    // allowed: the setting's value; null or blank lets every server through.
    explicit ServerPolicy(const char* allowed);

    // Throws "Invalid Corvane server '<server>'" or "Corvane server
    // '<server>' is not allowed" as a std::string; a malformed setting
    // refuses every server, naming the entry.
    void check(const std::string& server) const;

    // True when server reads as a server text; fills its host and port
    // (0 when it names a database or nothing).
    static bool parse(const std::string& server, std::string* host, int* port);

private:
    struct Entry {
        bool discovered = false;
        std::string name;   // a host name, compared without case
        int family = 0;     // AF_INET or AF_INET6 for an address or range
        in6_addr address{};  // IPv4 in the first four bytes
        int prefixBits = 0;
        int port = 0;  // 0: any
    };
    bool parseEntry(const std::string& text, Entry* entry) const;
    bool allows(const std::string& server) const;

    bool restricted_ = false;
    std::string badEntry_;  // the first entry that did not parse
    std::vector<Entry> entries_;
};
