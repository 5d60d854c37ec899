#include "StatusAccess.h"

#include <strings.h>

#include <vector>

#include "CgiRequest.h"
#include "RequestIo.h"

namespace {

bool isMode(const std::string& mode, const char* name) { return strcasecmp(mode.c_str(), name) == 0; }

}  // namespace

Refusal statusRefusal(const RequestIo& io, const CgiRequest& request) {
    if (!isMode(request.get("mode"), "status"))
        return {nullptr, nullptr, std::string()};
    const std::string user = request.remoteUserName();
    const char* allowed = io.setting("CORVANE_STATUS_USERS");
    std::vector<std::string> names;
    CgiRequest::splitString(allowed ? allowed : "", names, " \t\n,");
    for (const std::string& name : names)
        if (name == user)
            return {nullptr, nullptr, std::string()};
    return {"403 Forbidden", "", "User '" + user + "' may not see the status"};
}

bool isOperatorMode(const std::string& mode) { return isMode(mode, "ping") || isMode(mode, "status"); }
