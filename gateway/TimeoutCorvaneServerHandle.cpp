#include "TimeoutCorvaneServerHandle.h"

#include <chrono>

#include "base/env/EnvVar.h"
#include "base/threads/CoLockGuard.h"

namespace {
constexpr int32_t kStepMs = 100;
constexpr int32_t kDefaultLimitMs = 25000;
}  // namespace

int32_t TimeoutCorvaneServerHandle::limitFrom(const char* setting) {
    return setting ? Corvane::leadingDigits(setting) : kDefaultLimitMs;
}

TimeoutCorvaneServerHandle::TimeoutCorvaneServerHandle(const char* serverId, int32_t limitMs)
    : CorvaneServerHandle(serverId), limitMs_(limitMs) {
    start();
}

TimeoutCorvaneServerHandle::~TimeoutCorvaneServerHandle() {
    {
        Corvane::CoLockGuard guard(wakeMutex_);
        done_.store(true);
    }
    wake_.notify_all();
    join();
}

void TimeoutCorvaneServerHandle::sleepStep() {
    Corvane::CoLockGuard guard(wakeMutex_);
    wake_.wait_for(wakeMutex_, std::chrono::milliseconds(kStepMs), [this] { return done_.load(); });
}

void TimeoutCorvaneServerHandle::run() {
    elapsedMs_.store(0);
    while (elapsedMs_.load() < limitMs_) {
        if (done_.load())
            break;
        if (!paused_.load())
            elapsedMs_.fetch_add(kStepMs);
        sleepStep();
    }
    timedOut_.store(true);
    // Keep interrupting: a later operation on this handle must not hang either.
    while (!done_.load()) {
        cancel("");
        sleepStep();
    }
}
