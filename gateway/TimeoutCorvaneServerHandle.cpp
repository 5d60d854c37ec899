#include "TimeoutCorvaneServerHandle.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>

#include "base/osal/EnvVar.h"

namespace {
constexpr int32_t kStepMs = 100;
constexpr int32_t kDefaultLimitMs = 25000;
}  // namespace

int32_t TimeoutCorvaneServerHandle::limitFromEnvironment() {
    const char* text = std::getenv("XQ_CVC_BROWSE_TIMEOUT");
    if (!text)
        return kDefaultLimitMs;
    return Corvane::leadingDigits(text);
}

TimeoutCorvaneServerHandle::TimeoutCorvaneServerHandle(const char* serverId)
    : CorvaneServerHandle(serverId), limitMs_(limitFromEnvironment()) {
    start();
}

TimeoutCorvaneServerHandle::~TimeoutCorvaneServerHandle() {
    {
        std::lock_guard<std::mutex> guard(wakeMutex_);
        done_.store(true);
    }
    wake_.notify_all();
    join();
}

void TimeoutCorvaneServerHandle::sleepStep() {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(kStepMs), [this] { return done_.load(); });
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
