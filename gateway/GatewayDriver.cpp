#include "GatewayDriver.h"

#include <strings.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "AccountStore.h"
#include "AdminCheck.h"
#include "CgiRequest.h"
#include "CoXmlWriter.h"
#include "FastCgiServer.h"
#include "GatewayMode.h"
#include "OriginCheck.h"
#include "RequestLimits.h"
#include "ServerModes.h"
#include "ServerPolicy.h"
#include "TimeoutCorvaneServerHandle.h"
#include "base/env/EnvVar.h"
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
    {"isAdmin", isAdmin, true},         {"getChildren", getChildren, true},
    {"getNodeInfo", getNodeInfo, true},
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

// The header of every answer. A document opened in a browser runs no
// script and loads nothing, whatever a server or another user stored in it,
// and is never framed, sniffed as another type or cached.
const char kHeader[] =
    "Content-Type: text/xml\n"
    "X-Content-Type-Options: nosniff\n"
    "Content-Security-Policy: default-src 'none'; frame-ancestors 'none'; sandbox\n"
    "Cache-Control: no-store\n\n";

// The line for the web server's error log stays one line: control
// characters from a request or a server are written as escapes.
std::string oneLine(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 15]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// A refusal decided before any mode runs, with the HTTP status it carries.
struct Refusal {
    const char* status;   // null: the request goes on
    const char* headers;  // more header lines, each ending in "\n"
    std::string message;
};

// The modes that change a server or an account file.
const char* const kWriteModes[] = {"saveUser", "setMetadata", "createNode", "destroyNode", "destroyNodeRecursive"};

// A mode holding a NUL byte is none: the request fails on the NUL.
bool isWriteMode(const std::string& mode) {
    for (const char* name : kWriteModes)
        if (mode.size() == std::strlen(name) && strcasecmp(mode.c_str(), name) == 0)
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
// what it asked for. CORVANE_ALLOW_GET_WRITES=1 lets GET and HEAD write
// where no browser reaches the gateway.
bool needsPost(const RequestIo& io, const std::string& mode) {
    const char* method = io.variable("REQUEST_METHOD");
    if (!io.fromWebServer() || !method || std::strcmp(method, "POST") == 0 || !isWriteMode(mode))
        return false;
    const bool getOrHead = std::strcmp(method, "GET") == 0 || std::strcmp(method, "HEAD") == 0;
    return !getOrHead || Corvane::leadingDigits(io.setting("CORVANE_ALLOW_GET_WRITES")) == 0;
}

// What the browser sent from another site comes first, then how the
// request asks, then who asks: the first two hold whoever the user is.
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

// Ends the reading of a request's body at the body's deadline. Watched
// for as long as the body is read.
class BodyTimer : private BrowseWatchdog::Client {
public:
    BodyTimer(BrowseWatchdog& watchdog, RequestIo& io, RequestLimits::Clock::time_point deadline)
        : watchdog_(watchdog), io_(io), deadline_(deadline) {
        watchdog_.watch(*this);
    }
    ~BodyTimer() { watchdog_.forget(*this); }
    BodyTimer(const BodyTimer&) = delete;
    BodyTimer& operator=(const BodyTimer&) = delete;

private:
    void step() override {
        if (!fired_ && RequestLimits::Clock::now() >= deadline_) {
            fired_ = true;
            io_.abortBody();
        }
    }

    BrowseWatchdog& watchdog_;
    RequestIo& io_;
    const RequestLimits::Clock::time_point deadline_;
    bool fired_ = false;  // steps only
};

// The checks every mode shares, then the mode; throws its failure message.
std::string runMode(ModeContext& context) {
    if (!context.request.failure().empty())
        throw context.request.failure();
    const std::string withNul = context.request.parameterWithNul();
    if (!withNul.empty())
        throw "Parameter '" + withNul + "' holds a NUL byte";
    if (context.host.empty())
        throw std::string("Corvane server not specified");
    if (context.request.get("nodeId").empty())
        throw std::string("Node ID not specified");
    const std::string mode = context.request.get("mode");
    for (const auto& entry : kModes)
        if (strcasecmp(mode.c_str(), entry.name) == 0) {
            if (!entry.talksToServers)
                return entry.run(context);
            useUtf8Characters();
            try {
                return entry.run(context);
            } catch (const std::string&) {
                // An operation stopped at the deadline fails in the words
                // of its stop, often behind a prefix of the walk.
                if (context.limits.expired())
                    throw context.limits.expiredMessage();
                throw;
            }
        }
    throw std::string("Unknown mode");
}

}  // namespace

GatewayDriver::GatewayDriver(bool persistent, int threads) : persistent_(persistent), threads_(threads) {
    if (persistent_) {
        useUtf8Characters();  // once, before any request's threads exist
        startLibrary();
    }
}

GatewayDriver::~GatewayDriver() {
    if (started_)
        corvaneUninit();
}

bool GatewayDriver::startLibrary() {
    if (!persistent_)
        return corvaneInit();
    std::lock_guard<std::mutex> lock(libraryMutex_);
    if (!ready_) {
        // A failed start still counts; balance it before trying again. No
        // request uses the library meanwhile: none found it ready.
        if (started_)
            corvaneUninit();
        started_ = true;
        ready_ = corvaneInit();
        logLevel_ = Corvane::CoMsg::getLevel();
    }
    Corvane::CoMsg::setLevel(logLevel_);
    return ready_;
}

CgiRequest GatewayDriver::readRequest(int argc, char** argv, RequestIo& io, const RequestLimits& limits) {
    // A CGI run's body is bounded by the web server, which ends the process.
    std::unique_ptr<BodyTimer> timer;
    const char* method = io.variable("REQUEST_METHOD");
    if (persistent_ && method && std::strcmp(method, "POST") == 0)
        timer = std::make_unique<BodyTimer>(watchdog_, io, limits.bodyDeadline());
    // Under a web server the command line is not the request's: Apache
    // makes arguments of a query without "=".
    return CgiRequest(io.fromWebServer() ? 0 : argc, argv, io);
}

UserShare::Claim GatewayDriver::claimShare(const RequestIo& io) {
    const char* user = io.variable("REMOTE_USER");
    if (!persistent_ || !user || !*user)
        return UserShare::Claim();
    const char* setting = io.setting("CORVANE_MAX_USER_REQUESTS");
    const int limit = setting ? Corvane::leadingDigits(setting) : std::max(1, threads_ / 2);
    return share_.claim(user, static_cast<size_t>(limit));
}

void GatewayDriver::serve(int argc, char** argv, RequestIo& io) {
    const RequestLimits limits(io);
    // Counted from the start, so that a user's slow bodies count too. A
    // request past the user's share still reads its body, within the
    // body's deadline: a reading side shut early fails the web server's
    // send, and the refusal would reach the browser as the web server's
    // own error.
    const UserShare::Claim claim = claimShare(io);
    const CgiRequest request = readRequest(argc, argv, io, limits);
    const ServerPolicy servers(io.setting("CORVANE_ALLOWED_SERVERS"));
    ModeContext context{request,
                        request.get("host"),
                        TimeoutCorvaneServerHandle::limitFrom(io.setting("XQ_CVC_BROWSE_TIMEOUT")),
                        limits,
                        watchdog_,
                        servers,
                        Corvane::leadingDigits(io.setting("CORVANE_ACCOUNT_STRIP_DOMAIN")) != 0,
                        TimeoutCorvaneServerHandle::loginLimitFrom(io.setting("CORVANE_LOGIN_TIMEOUT"))};
    const Refusal refusal = refusalOf(io, request);
    const bool crowded = !refusal.status && !claim.granted();
    if (refusal.status)
        io.out(std::string("Status: ") + refusal.status + "\n" + refusal.headers);
    if (crowded)
        io.out("Status: 503 Service Unavailable\nRetry-After: 1\n");
    io.out(kHeader);

    std::string body;
    std::string error;
    bool failed = false;
    try {
        if (refusal.status)
            throw refusal.message;
        if (crowded)
            throw "Too many requests in progress for user '" + request.remoteUserName() + "'";
        if (!startLibrary())
            throw std::string("Unable to initialize Corvane");
        // The whole name, not cut at a backslash; a persistent driver's
        // requests each have their own.
        if (persistent_)
            setCurrentThreadUser(request.remoteUserName().c_str());
        else
            setCurrentUser(request.remoteUserName().c_str());
        body = runMode(context);
        limits.checkResponseSize(body.size());
    } catch (const std::string& message) {
        error = message;
        failed = true;
    } catch (const std::bad_alloc&) {
        // Still one well-formed answer, even when memory runs out.
        error = "Out of memory";
        failed = true;
    }
    if (persistent_)
        setCurrentThreadUser(nullptr);
    if (failed) {
        body.clear();
        body.shrink_to_fit();
        io.out("<response>\n" + errorXml(error) + "</response>\n");
        // The line is C text: it ends at the first NUL of the message or host.
        io.err(oneLine(std::string(error.c_str()) + " on host " + context.host.c_str()));
    } else {
        // The same for the body, which a NUL in a node identifier could cut.
        body.resize(std::strlen(body.c_str()));
        io.out("<response>");
        io.out(body);
        io.out("</response>\n");
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
