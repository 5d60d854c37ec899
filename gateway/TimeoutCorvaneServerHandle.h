// Internal to the gateway.
// A server handle whose operations are bounded in time. The watchdog wakes
// for it when the limit since the last resetTimer() passes, or the
// request's deadline does, whichever comes first (an operation that ends
// meanwhile moves the first on); from then on it cancels what the handle's
// thread runs on the server's connections every 100 ms until the handle
// goes, so that a stuck server becomes a failed operation rather than a
// hung request. Only the owner's own call is stopped: requests of other
// threads sharing the connection go on, and one that waits behind the
// stuck call is stopped when it gets its turn. A call cancelled mid-way
// drops its connection, so the next request on that shared connection
// reconnects instead of reading a stale reply. The owner's thread (the one
// that made the handle) operates and resets; the watchdog's thread only
// counts and cancels. Without a watchdog thread the handle works with no
// limit. A server that accepts the connection but does not answer the
// login fails the operation after the login limit. Only ServerDoor makes
// one, after the site's list has let the server through. Each operation
// (from the handle's making or the last resetTimer() to the next, or to a
// failure that unwinds past the handle) counts as a call in the server's
// figures (GatewayStatus) and marks the request's phase (RequestLog).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "RequestWatchdog.h"
#include "client/api/CorvaneServerHandle.h"

class RequestLimits;
class ServerDoor;

class TimeoutCorvaneServerHandle : public CorvaneServerHandle, private RequestWatchdog::Client {
public:
    ~TimeoutCorvaneServerHandle() override;

    // An operation completed: the count starts again.
    void resetTimer();

private:
    friend class ServerDoor;
    // The watchdog and the request's limits outlive the handle. Limits in
    // milliseconds.
    TimeoutCorvaneServerHandle(const char* serverId, RequestWatchdog& watchdog, int32_t limitMs, int32_t loginLimitMs,
                               const RequestLimits& limits);

    // Cancels once the limit or the deadline has passed.
    void step() override;
    Clock::time_point nextStep(Clock::time_point now) const override;

    RequestWatchdog& watchdog_;
    const std::string host_;
    // The exceptions in flight when the handle was made: one more at its
    // end means an operation failed.
    const int exceptionsAtOpen_;
    std::chrono::steady_clock::time_point callStart_;
    bool called_ = false;  // an operation completed
    const std::thread::id owner_;
    const std::chrono::steady_clock::time_point deadline_;
    const std::string deadlineMessage_;
    std::atomic<bool> timedOut_{false};
    const std::chrono::milliseconds limit_;
    // When the operation in progress has taken too long; moved on by
    // resetTimer() on the owner's thread, read by the watchdog's.
    std::atomic<Clock::time_point> callDue_;
    // The stop's reason, empty for the browse limit; steps only.
    std::string reason_;
};
