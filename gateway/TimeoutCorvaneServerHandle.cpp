#include "TimeoutCorvaneServerHandle.h"

#include "BrowseWatchdog.h"
#include "base/env/EnvVar.h"

namespace {
constexpr int32_t kStepMs = 100;
constexpr int32_t kDefaultLimitMs = 25000;
}  // namespace

int32_t TimeoutCorvaneServerHandle::limitFrom(const char* setting) {
    return setting ? Corvane::leadingDigits(setting) : kDefaultLimitMs;
}

TimeoutCorvaneServerHandle::TimeoutCorvaneServerHandle(const char* serverId, int32_t limitMs,
                                                       BrowseWatchdog& watchdog)
    : CorvaneServerHandle(serverId), watchdog_(watchdog), limitMs_(limitMs) {
    watchdog_.watch(*this);
}

TimeoutCorvaneServerHandle::~TimeoutCorvaneServerHandle() { watchdog_.forget(*this); }

void TimeoutCorvaneServerHandle::step() {
    if (!timedOut_.load()) {
        if (elapsedMs_.load() < limitMs_) {
            elapsedMs_.fetch_add(kStepMs);
            return;
        }
        timedOut_.store(true);
    }
    // Keep interrupting: a later operation on this handle must not hang either.
    cancel("");
}
