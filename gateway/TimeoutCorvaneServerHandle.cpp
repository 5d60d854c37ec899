#include "TimeoutCorvaneServerHandle.h"

#include <algorithm>
#include <cstdint>
#include <exception>

#include "GatewayStatus.h"
#include "RequestLimits.h"
#include "RequestLog.h"

TimeoutCorvaneServerHandle::TimeoutCorvaneServerHandle(const char* serverId, RequestWatchdog& watchdog, int32_t limitMs,
                                                       int32_t loginLimitMs, const RequestLimits& limits)
    : CorvaneServerHandle(serverId),
      watchdog_(watchdog),
      host_(serverId),
      exceptionsAtOpen_(std::uncaught_exceptions()),
      callStart_(std::chrono::steady_clock::now()),
      owner_(std::this_thread::get_id()),
      deadline_(limits.deadline()),
      deadlineMessage_(limits.expiredMessage()),
      limit_(limitMs),
      callDue_(callStart_ + limit_) {
    setLoginTimeout(static_cast<unsigned int>(loginLimitMs));
    watchdog_.watch(*this);
    // The first operation on a server whose connection is not up makes it
    // and logs in; as far as the figures tell, it was up when its last
    // handle let go after a success.
    GatewayStatus& status = GatewayStatus::instance();
    RequestLog::enter(status.serverOpened(host_) ? RequestLog::Phase::Call : RequestLog::Phase::Login);
}

TimeoutCorvaneServerHandle::~TimeoutCorvaneServerHandle() {
    watchdog_.forget(*this);
    GatewayStatus& status = GatewayStatus::instance();
    const bool failed = std::uncaught_exceptions() > exceptionsAtOpen_;
    if (failed) {
        status.serverCall(host_, std::chrono::steady_clock::now() - callStart_, false);
        if (RequestLog* log = RequestLog::current())
            log->setFailedServer(host_);
    }
    using Link = GatewayStatus::Link;
    status.serverClosed(host_, failed ? Link::Down : called_ ? Link::Up : Link::Unknown);
    RequestLog::enter(RequestLog::Phase::Request);
}

void TimeoutCorvaneServerHandle::resetTimer() {
    const auto now = std::chrono::steady_clock::now();
    callDue_.store(now + limit_);
    GatewayStatus::instance().serverCall(host_, now - callStart_, true);
    callStart_ = now;
    called_ = true;
    RequestLog::enter(RequestLog::Phase::Call);
}

void TimeoutCorvaneServerHandle::step() {
    if (!timedOut_.load()) {
        const Clock::time_point now = Clock::now();
        const bool late = now >= deadline_;
        if (!late && now < callDue_.load())
            return;
        // The request's deadline names itself; the browse limit leaves the
        // connection's own words.
        if (late)
            reason_ = deadlineMessage_;
        timedOut_.store(true);
    }
    // Keep interrupting: a later operation on this handle must not hang either.
    cancelCallOf(owner_, reason_.c_str());
}

RequestWatchdog::Client::Clock::time_point TimeoutCorvaneServerHandle::nextStep(Clock::time_point now) const {
    // Once timed out, keep interrupting: a later operation must not hang either.
    return timedOut_.load() ? Client::nextStep(now) : std::min(callDue_.load(), deadline_);
}
