#include "GatewayDriver.h"

#include <strings.h>

#include <clocale>
#include <cstdio>
#include <new>
#include <string>

#include "AccountStore.h"
#include "AdminCheck.h"
#include "CgiRequest.h"
#include "CoXmlWriter.h"
#include "ServerModes.h"
#include "client/api/CorvaneEnv.h"
#include "client/api/CorvaneInit.h"

namespace {

// Web forms send UTF-8, and the client converts display names through the
// character-type locale: in the C locale an accented letter leaves as "?".
// C.UTF-8 is always there on Debian; elsewhere the environment's locale is
// the best guess, and failing that the C locale stays. Only the character
// type changes: numbers keep the C locale's form on the wire.
void useUtf8Characters() {
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        std::setlocale(LC_CTYPE, "");
}

bool is(const std::string& mode, const char* name) { return strcasecmp(mode.c_str(), name) == 0; }

// Runs the request's mode; throws its failure message.
void runMode(const CgiRequest& request, std::string* host) {
    if (!corvaneInit())
        throw std::string("Unable to initialize Corvane");
    setCurrentUser(CgiRequest::remoteUserName().c_str());

    const std::string nodeId = request.get("nodeId");
    const std::string mode = request.get("mode");
    if (host->empty())
        throw std::string("Corvane server not specified");
    if (nodeId.empty())
        throw std::string("Node ID not specified");

    if (is(mode, "destroyNode") || is(mode, "destroyNodeRecursive")) {
        destroyNodes(*host, nodeId, !is(mode, "destroyNode"));
    } else if (is(mode, "getMetadata") || is(mode, "setMetadata")) {
        metadataMode(is(mode, "getMetadata"), *host, nodeId, request.get("streamName"),
                     request.get("corvaneMetadata"), host);
    } else if (is(mode, "createNode")) {
        createNodeMode(*host, nodeId, request.get("displayName"), request.get("type"));
    } else if (is(mode, "getUser")) {
        const std::string user = accountName(CgiRequest::remoteUserName());
        std::printf("<response>%s</response>\n", user.c_str());
    } else if (is(mode, "loadUser")) {
        loadUser(request);
    } else if (is(mode, "saveUser")) {
        saveUser(request);
    } else if (is(mode, "isAdmin")) {
        isAdmin(*host);
    } else {
        throw std::string("Unknown mode");
    }
}

}  // namespace

int runGateway(int argc, char** argv) {
    useUtf8Characters();
    const CgiRequest request(argc, argv);
    std::string host = request.get("host");
    std::fputs("Content-Type: text/xml\n\n", stdout);

    std::string error;
    bool failed = false;
    try {
        runMode(request, &host);
    } catch (const std::string& message) {
        error = message;
        failed = true;
    } catch (const std::bad_alloc&) {
        // Still one well-formed answer, even when memory runs out.
        error = "Out of memory";
        failed = true;
    }
    if (failed) {
        std::fputs("<response>\n", stdout);
        writeErrorXml(error);
        std::fputs("</response>\n", stdout);
        std::fprintf(stderr, "%s on host %s", error.c_str(), host.c_str());
    }
    corvaneUninit();
    std::fflush(stdout);
    return 0;
}
