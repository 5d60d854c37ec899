#include "Refusals.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "CgiRequest.h"
#include "ModeTable.h"
#include "RequestIo.h"
#include "base/env/EnvVar.h"

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

// The mode a query names, read as a GET request's parameters are read.
std::string queryMode(const char* query) {
    std::string text = query ? query : "";
    std::replace(text.begin(), text.end(), '+', ' ');
    std::vector<std::string> tokens;
    CgiRequest::splitString(text, tokens, "&;");
    std::string mode;
    for (const std::string& token : tokens)
        if (token.compare(0, 5, "mode=") == 0) {
            const std::string value = CgiRequest::decode(token.substr(5));
            mode = mode.empty() ? value : mode + ":" + value;
        }
    return mode;
}

// Over plain http a browser tells nothing of where a link, an image or a
// GET form comes from, so under a web server a write runs only for a POST,
// which a browser sends from another site only with an Origin. A method
// other than GET, HEAD and POST brings no parameters; its query still says
// what it asked for.
bool needsPost(const RequestIo& io, const std::string& mode) {
    const char* method = io.variable("REQUEST_METHOD");
    if (!io.fromWebServer() || !method || std::strcmp(method, "POST") == 0 || !isWriteMode(mode))
        return false;
    const bool getOrHead = std::strcmp(method, "GET") == 0 || std::strcmp(method, "HEAD") == 0;
    return !getOrHead || Corvane::leadingDigits(io.setting("CORVANE_ALLOW_GET_WRITES")) == 0;
}

}  // namespace

Refusal refusalOf(const RequestIo& io, const CgiRequest& request) {
    if (isCrossSiteRequest(io))
        return {"403 Forbidden", "", "Cross-site request refused"};
    std::string mode = request.get("mode");
    if (mode.empty())
        mode = queryMode(io.variable("QUERY_STRING"));
    if (needsPost(io, mode))
        return {"405 Method Not Allowed", "Allow: POST\n", "Mode '" + mode + "' needs a POST request"};
    const char* user = io.variable("REMOTE_USER");
    if (io.fromWebServer() && (!user || !*user))
        return {"401 Unauthorized", "", "No authenticated user"};
    return {nullptr, nullptr, std::string()};
}

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
