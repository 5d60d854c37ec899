#include "TimeoutCorvaneServerHandle.h"

#include <cstdint>

#include "RequestLimits.h"

namespace {
constexpr int32_t kStepMs = 100;
}  // namespace

TimeoutCorvaneServerHandle::TimeoutCorvaneServerHandle(const char* serverId, RequestWatchdog& watchdog, int32_t limitMs,
                                                       int32_t loginLimitMs, const RequestLimits& limits)
    : CorvaneServerHandle(serverId),
      watchdog_(watchdog),
      owner_(std::this_thread::get_id()),
      deadline_(limits.deadline()),
      deadlineMessage_(limits.expiredMessage()),
      limitMs_(limitMs) {
    setLoginTimeout(static_cast<unsigned int>(loginLimitMs));
    watchdog_.watch(*this);
}

TimeoutCorvaneServerHandle::~TimeoutCorvaneServerHandle() { watchdog_.forget(*this); }

void TimeoutCorvaneServerHandle::step() {
    if (!timedOut_.load()) {
        const bool late = std::chrono::steady_clock::now() >= deadline_;
        if (!late && elapsedMs_.load() < limitMs_) {
            elapsedMs_.fetch_add(kStepMs);
            return;
        }
        // The request's deadline names itself; the browse limit leaves the
        // connection's own words.
        if (late)
            reason_ = deadlineMessage_;
        timedOut_.store(true);
    }
    // Keep interrupting: a later operation on this handle must not hang either.
    cancelCallOf(owner_, reason_.c_str());
}
