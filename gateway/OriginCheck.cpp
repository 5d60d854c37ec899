#include "OriginCheck.h"

#include <strings.h>

#include <string>
#include <vector>

#include "CgiRequest.h"
#include "RequestIo.h"

namespace {

// "host:port" in lower case, the port filled in with defaultPort when
// authority has none; empty when authority is empty.
std::string hostAndPort(std::string authority, const char* defaultPort) {
    for (char& c : authority)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (authority.empty())
        return authority;
    // The port follows the last colon, outside an IPv6 address's brackets.
    const size_t colon = authority.rfind(':');
    const size_t bracket = authority.rfind(']');
    if (colon == std::string::npos || (bracket != std::string::npos && colon < bracket))
        return authority + ":" + defaultPort;
    return authority;
}

// The Origin's "host:port"; empty for "null" or anything not an origin.
std::string originHost(const std::string& origin, const char** defaultPort) {
    const size_t scheme = origin.find("://");
    if (scheme == std::string::npos)
        return std::string();
    *defaultPort = strncasecmp(origin.c_str(), "https", scheme) == 0 && scheme == 5 ? "443" : "80";
    const std::string authority = origin.substr(scheme + 3);
    if (authority.find_first_of("/?#@") != std::string::npos)
        return std::string();
    return hostAndPort(authority, *defaultPort);
}

bool isTrusted(const std::string& origin, const char* trusted) {
    std::vector<std::string> list;
    CgiRequest::splitString(trusted ? trusted : "", list, " \t\n");
    for (const std::string& entry : list)
        if (strcasecmp(entry.c_str(), origin.c_str()) == 0)
            return true;
    return false;
}

}  // namespace

bool isCrossSiteRequest(const RequestIo& io) {
    const char* origin = io.variable("HTTP_ORIGIN");
    if (origin && isTrusted(origin, io.setting("CORVANE_TRUSTED_ORIGINS")))
        return false;
    if (const char* site = io.variable("HTTP_SEC_FETCH_SITE"))
        return std::string(site) != "same-origin" && std::string(site) != "none";
    if (!origin)
        return false;
    const char* defaultPort = "80";
    const std::string from = originHost(origin, &defaultPort);
    const char* host = io.variable("HTTP_HOST");
    return from.empty() || !host || from != hostAndPort(host, defaultPort);
}
