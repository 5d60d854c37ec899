#include "TimeoutCorvaneServerHandle.h"

#include <algorithm>
#include <cstdint>

#include "GatewayMode.h"
#include "RequestLimits.h"
#include "base/env/EnvVar.h"

namespace {
constexpr int32_t kStepMs = 100;
constexpr int32_t kDefaultLimitMs = 25000;
}  // namespace

int32_t TimeoutCorvaneServerHandle::limitFrom(const char* setting) {
    return setting ? Corvane::leadingDigits(setting) : kDefaultLimitMs;
}

int32_t TimeoutCorvaneServerHandle::loginLimitFrom(const char* setting) {
    return setting ? Corvane::leadingDigits(setting)
                   : static_cast<int32_t>(std::min<unsigned int>(CorvaneServerHandle::defaultLoginTimeout(), INT32_MAX));
}

TimeoutCorvaneServerHandle::TimeoutCorvaneServerHandle(const char* serverId, const ModeContext& context)
    : CorvaneServerHandle(serverId),
      watchdog_(context.watchdog),
      owner_(std::this_thread::get_id()),
      deadline_(context.limits.deadline()),
      deadlineMessage_(context.limits.expiredMessage()),
      limitMs_(context.browseLimitMs) {
    setLoginTimeout(static_cast<unsigned int>(std::max(0, std::min(context.loginLimitMs, limitMs_))));
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
