#include "ModeTable.h"

#include <strings.h>

#include <clocale>
#include <cstring>
#include <mutex>

#include "AccountModes.h"
#include "AdminModes.h"
#include "CgiRequest.h"
#include "NodeModes.h"
#include "RequestLimits.h"
#include "RequestLog.h"
#include "ServerDoor.h"
#include "StatusModes.h"
#include "ServerListMode.h"
#include "WatchMode.h"

namespace {

// What a mode is, besides its name and function.
enum Trait : unsigned {
    kLocal = 0,  // the gateway's own: its accounts, figures and streams
    // Display names go through the process locale, and a failure past the
    // request's deadline says so.
    kServers = 1,
    kWrites = 2,  // a POST only, under a web server
    // Works on no node of a named server: needs neither host nor node.
    kWithoutNode = 4,
};

// Order matters only for reading; names never overlap.
const struct Mode {
    const char* name;
    ModeFunction run;
    unsigned traits;
    bool is(Trait trait) const { return (traits & trait) != 0; }
} kModes[] = {
    {"destroyNode", destroyNode, kServers | kWrites},
    {"destroyNodeRecursive", destroyNodeRecursive, kServers | kWrites},
    {"getMetadata", getMetadata, kServers},
    {"setMetadata", setMetadata, kServers | kWrites},
    {"createNode", createNode, kServers | kWrites},
    {"getUser", getUser, kLocal},
    {"loadUser", loadUser, kLocal},
    {"saveUser", saveUser, kWrites},
    {"isAdmin", isAdmin, kServers},
    {"getChildren", getChildren, kServers},
    {"getNodeInfo", getNodeInfo, kServers},
    {"ping", ping, kWithoutNode},
    {"status", status, kWithoutNode},
    {"getServers", getServers, kServers | kWithoutNode},
    {"watch", watchWithoutFastCgi, kLocal},
};

// Names ignore case; null for no mode.
const Mode* modeNamed(const std::string& name) {
    for (const Mode& mode : kModes)
        if (name.size() == std::strlen(mode.name) && strcasecmp(name.c_str(), mode.name) == 0)
            return &mode;
    return nullptr;
}

// The checks every mode shares, then the mode; throws its failure message.
std::string runChecked(const ModeContext& context) {
    if (!context.request.failure().empty())
        throw context.request.failure();
    const std::string withNul = context.request.parameterWithNul();
    if (!withNul.empty())
        throw "Parameter '" + withNul + "' holds a NUL byte";
    const Mode* mode = modeNamed(context.request.get("mode"));
    const bool withoutNode = mode && mode->is(kWithoutNode);
    if (context.host.empty() && !withoutNode)
        throw std::string("Corvane server not specified");
    if (context.request.get("nodeId").empty() && !withoutNode)
        throw std::string("Node ID not specified");
    if (!mode)
        throw std::string("Unknown mode");
    if (!mode->is(kServers)) {
        if (mode->is(kWrites))
            RequestLog::enter(RequestLog::Phase::Save);
        return mode->run(context);
    }
    useUtf8Characters();
    try {
        return mode->run(context);
    } catch (const std::string&) {
        // An operation stopped at the deadline fails in the words of its
        // stop, often behind a prefix of the walk.
        if (context.limits.expired())
            throw context.limits.expiredMessage();
        throw;
    }
}

}  // namespace

std::string runMode(const ModeContext& context) {
    try {
        std::string body = runChecked(context);
        context.limits.checkResponseSize(body.size());
        return body;
    } catch (const std::string& message) {
        throw ModeFailure{message, context.door.failureHost(context.host)};
    }
}

std::string modeName(const std::string& mode) {
    const Mode* found = modeNamed(mode);
    return found ? found->name : "unknown";
}

bool isWriteMode(const std::string& mode) {
    const Mode* found = modeNamed(mode);
    return found && found->is(kWrites);
}

// Web forms send UTF-8, and the client converts display names through the
// character-type locale: in the C locale an accented letter leaves as "?".
// C.UTF-8 is always there on Debian; elsewhere the environment's locale is
// the best guess, and failing that the C locale stays. Only the character
// type changes: numbers keep the C locale's form on the wire. Loading the
// locale is a good part of a short request's time, so a CGI run that never
// talks to a server skips it.
void useUtf8Characters() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
            std::setlocale(LC_CTYPE, "");
    });
}
