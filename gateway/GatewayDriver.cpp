#include "GatewayDriver.h"

#include <strings.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "AccountStore.h"
#include "AdminCheck.h"
#include "CgiRequest.h"
#include "CoXmlWriter.h"
#include "FastCgiServer.h"
#include "GatewayMode.h"
#include "ServerModes.h"
#include "TimeoutCorvaneServerHandle.h"
#include "base/loggerBase/CoMsg.h"
#include "client/api/CorvaneCurrentUser.h"
#include "client/api/CorvaneInit.h"

namespace {

// Dispatch order matters only for reading; names never overlap. Modes that
// talk to servers convert display names through the process locale.
const struct {
    const char* name;
    ModeFunction run;
    bool talksToServers;
} kModes[] = {
    {"destroyNode", destroyNode, true}, {"destroyNodeRecursive", destroyNodeRecursive, true},
    {"getMetadata", getMetadata, true}, {"setMetadata", setMetadata, true},
    {"createNode", createNode, true},   {"getUser", getUser, false},
    {"loadUser", loadUser, false},      {"saveUser", saveUser, false},
    {"isAdmin", isAdmin, true},
};

// Web forms send UTF-8, and the client converts display names through the
// character-type locale: in the C locale an accented letter leaves as "?".
// C.UTF-8 is always there on Debian; elsewhere the environment's locale is
// the best guess, and failing that the C locale stays. Only the character
// type changes: numbers keep the C locale's form on the wire. Loading the
// locale is a good part of a short request's time, so a CGI run that never
// talks to a server skips it.
void useUtf8Characters() {
    static const bool done = [] {
        if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
            std::setlocale(LC_CTYPE, "");
        return true;
    }();
    (void)done;
}

// The checks every mode shares, then the mode; throws its failure message.
std::string runMode(ModeContext& context) {
    if (context.host.empty())
        throw std::string("Corvane server not specified");
    if (context.request.get("nodeId").empty())
        throw std::string("Node ID not specified");
    const std::string mode = context.request.get("mode");
    for (const auto& entry : kModes)
        if (strcasecmp(mode.c_str(), entry.name) == 0) {
            if (entry.talksToServers)
                useUtf8Characters();
            return entry.run(context);
        }
    throw std::string("Unknown mode");
}

}  // namespace

GatewayDriver::GatewayDriver(bool persistent) : persistent_(persistent) {
    if (persistent_)
        useUtf8Characters();  // once, before any request's threads exist
}

GatewayDriver::~GatewayDriver() {
    if (started_)
        corvaneUninit();
}

bool GatewayDriver::startLibrary() {
    if (!persistent_)
        return corvaneInit();
    if (!ready_) {
        // A failed start still counts; balance it before trying again.
        if (started_)
            corvaneUninit();
        started_ = true;
        ready_ = corvaneInit();
        logLevel_ = Corvane::CoMsg::getLevel();
    }
    Corvane::CoMsg::setLevel(logLevel_);
    return ready_;
}

void GatewayDriver::serve(int argc, char** argv, RequestIo& io) {
    const CgiRequest request(argc, argv, io);
    ModeContext context{request, request.get("host"),
                        TimeoutCorvaneServerHandle::limitFrom(io.setting("XQ_CVC_BROWSE_TIMEOUT")), watchdog_};
    io.out("Content-Type: text/xml\n\n");

    std::string body;
    std::string error;
    bool failed = false;
    try {
        if (!startLibrary())
            throw std::string("Unable to initialize Corvane");
        setCurrentUser(request.remoteUserName().c_str());
        body = runMode(context);
    } catch (const std::string& message) {
        error = message;
        failed = true;
    } catch (const std::bad_alloc&) {
        // Still one well-formed answer, even when memory runs out.
        error = "Out of memory";
        failed = true;
    }
    if (failed) {
        io.out("<response>\n" + errorXml(error) + "</response>\n");
        // The line is C text: it ends at the first NUL of the message or host.
        io.err(std::string(error.c_str()) + " on host " + context.host.c_str());
    } else {
        // The same for the body, which a NUL in a node identifier could cut.
        body.resize(std::strlen(body.c_str()));
        io.out("<response>" + body + "</response>\n");
    }
    if (!persistent_)
        corvaneUninit();
}

int runGateway(int argc, char** argv) {
    const int listener = fastCgiListener();
    if (listener >= 0)
        return serveFastCgi(listener, argc > 0 ? argv[0] : nullptr);
    GatewayDriver driver(false);
    ProcessIo io;
    driver.serve(argc, argv, io);
    std::fflush(stdout);
    return 0;
}
