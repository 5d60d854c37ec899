#include "GatewayDriver.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "BodyDeadline.h"
#include "CgiRequest.h"
#include "CoXmlWriter.h"
#include "HttpOutput.h"
#include "ModeTable.h"
#include "Refusals.h"
#include "RequestLimits.h"
#include "RequestLog.h"
#include "ServerDoor.h"
#include "ServerPolicy.h"
#include "StatusAccess.h"
#include "StatusModes.h"
#include "WatchHub.h"
#include "WatchMode.h"
#include "base/env/EnvVar.h"
#include "client/api/CorvaneCurrentUser.h"

GatewayDriver::GatewayDriver(bool persistent, int threads)
    : persistent_(persistent), threads_(threads), library_(persistent) {
    GatewayStatus::instance().setThreads(threads_);
    if (persistent_) {
        useUtf8Characters();  // once, before any request's threads exist
        library_.start();
        watchHub_ = std::make_unique<WatchHub>(watchdog_);
    }
}

GatewayDriver::~GatewayDriver() = default;

CgiRequest GatewayDriver::readRequest(int argc, char** argv, RequestIo& io, const RequestLimits& limits) {
    // A CGI run's body is bounded by the web server, which ends the process.
    std::unique_ptr<BodyDeadline> deadline;
    const char* method = io.variable("REQUEST_METHOD");
    if (persistent_ && method && std::strcmp(method, "POST") == 0)
        deadline = std::make_unique<BodyDeadline>(watchdog_, io, limits.bodyDeadline());
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

namespace {

GatewayStatus::Outcome outcomeOf(const char* refusal, bool crowded, bool failed) {
    using Outcome = GatewayStatus::Outcome;
    if (refusal)  // "401 …", "403 …" or "405 …"
        return refusal[2] == '1' ? Outcome::Refused401 : refusal[2] == '3' ? Outcome::Refused403 : Outcome::Refused405;
    if (crowded)
        return Outcome::Refused503;
    return failed ? Outcome::Error : Outcome::Success;
}

}  // namespace

bool GatewayDriver::serveWatch(const ModeContext& context, RequestIo& io, WatchFailure* failure) {
    if (!library_.start()) {
        *failure = WatchFailure{true, nullptr, "Unable to initialize Corvane", context.host};
        return false;
    }
    setCurrentThreadUser(context.request.remoteUserName().c_str());
    bool streaming = false;
    try {
        streaming = startWatch(context, io, *watchHub_, failure);
    } catch (const std::bad_alloc&) {
        *failure = WatchFailure{true, nullptr, "Out of memory", context.host};
    }
    setCurrentThreadUser(nullptr);
    return streaming;
}

void GatewayDriver::serve(int argc, char** argv, RequestIo& io) {
    // Times and counts the whole request; under a web server the library's
    // messages go to its error log from the start.
    RequestLog log(io);
    if (io.fromWebServer())
        routeMessagesToErrors();
    // Decode. The share is counted from the start, so that a user's slow
    // bodies count too. A request past the user's share still reads its
    // body, within the body's deadline: a reading side shut early fails the
    // web server's send, and the refusal would reach the browser as the web
    // server's own error.
    const RequestLimits limits(io);
    const UserShare::Claim claim = claimShare(io);
    const CgiRequest request = readRequest(argc, argv, io, limits);
    const ServerPolicy policy(io.setting("CORVANE_ALLOWED_SERVERS"));
    const int32_t browseLimitMs = ServerDoor::browseLimitFrom(io.setting("XQ_CVC_BROWSE_TIMEOUT"));
    ServerDoor door(policy, browseLimitMs, ServerDoor::loginLimitFrom(io.setting("CORVANE_LOGIN_TIMEOUT")), limits,
                    watchdog_);
    const bool stripDomain = Corvane::leadingDigits(io.setting("CORVANE_ACCOUNT_STRIP_DOMAIN")) != 0;
    const ModeContext context{request, request.get("host"), browseLimitMs, limits, door, stripDomain};

    // Refuse.
    Refusal refusal = refusalOf(io, request);
    if (!refusal.status)
        refusal = statusRefusal(io, request);
    const bool crowded = !refusal.status && !claim.granted();
    const std::string mode = request.get("mode");
    log.setUser(request.remoteUserName());
    log.setMode(modeName(mode));
    log.setHosts(context.host);
    // A live-update stream answers with its own header, or fails as any mode.
    WatchFailure watch;
    if (!refusal.status && !crowded && watchHub_ && isWatchRequest(request) && serveWatch(context, io, &watch)) {
        log.setOutcome(GatewayStatus::Outcome::Success);
        return;
    }
    if (refusal.status)
        writeStatus(io, refusal.status, refusal.headers);
    if (crowded || watch.status)
        writeStatus(io, "503 Service Unavailable", "Retry-After: 1\n");
    const bool metrics = !refusal.status && !crowded && wantsMetricsText(request);
    if (metrics)
        writeMetricsHeader(io);
    else
        writeHeader(io);

    // Dispatch.
    std::string body;
    ModeFailure failure;
    bool failed = true;
    try {
        if (refusal.status)
            throw refusal.message;
        if (crowded)
            throw "Too many requests in progress for user '" + request.remoteUserName() + "'";
        if (watch.failed)
            throw ModeFailure{watch.message, watch.host};
        if (!isOperatorMode(mode) && !library_.start())
            throw std::string("Unable to initialize Corvane");
        // The whole name, not cut at a backslash; a persistent driver's
        // requests each have their own.
        if (persistent_)
            setCurrentThreadUser(request.remoteUserName().c_str());
        else
            setCurrentUser(request.remoteUserName().c_str());
        body = runMode(context);
        failed = false;
    } catch (ModeFailure& thrown) {
        failure = std::move(thrown);
    } catch (const std::string& message) {
        failure = ModeFailure{message, context.host};
    } catch (const std::bad_alloc&) {
        // Still one well-formed answer, even when memory runs out.
        failure = ModeFailure{"Out of memory", door.failureHost(context.host)};
    }
    if (persistent_)
        setCurrentThreadUser(nullptr);

    log.setOutcome(outcomeOf(refusal.status, crowded || watch.status, failed));
    if (failed && !log.failedServer().empty())
        GatewayStatus::instance().serverError(log.failedServer(), failure.message);

    // Write.
    if (metrics && !failed) {
        io.out(body);
    } else if (failed) {
        io.out("<response>\n" + errorXml(failure.message) + "</response>\n");
        writeErrorLine(io, failure.message, failure.host);
    } else {
        // The body ends at its first NUL, which a node identifier could bring.
        body.resize(std::strlen(body.c_str()));
        io.out("<response>");
        io.out(body);
        io.out("</response>\n");
    }
    library_.requestDone();
}
