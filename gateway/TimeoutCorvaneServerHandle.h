// A server handle whose operations are bounded in time. A watchdog thread
// counts the time since the last resetTimer() in steps of 100 ms; once the
// limit (XQ_CVC_BROWSE_TIMEOUT milliseconds, default 25000) passes it
// cancels the server's connections every 100 ms until the handle goes, so
// that a stuck server becomes a failed operation rather than a hung
// request. The main thread operates and resets; the watchdog only counts and
// cancels. Without a thread the handle works with no limit.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "SimpleThread.h"
#include "client/api/CorvaneServerHandle.h"

class TimeoutCorvaneServerHandle : public CorvaneServerHandle, public SimpleThread {
public:
    explicit TimeoutCorvaneServerHandle(const char* serverId);
    ~TimeoutCorvaneServerHandle() override;

    void resetTimer() { elapsedMs_.store(0); }
    void pause() { paused_.store(true); }
    void resume() { paused_.store(false); }
    bool isTimedOut() const { return timedOut_.load(); }

    // The leading digits of XQ_CVC_BROWSE_TIMEOUT (anything else reads as
    // 0), or 25000 when it is unset. Milliseconds.
    static int32_t limitFromEnvironment();

private:
    void run() override;
    // Sleeps one step; returns early when the handle is going away.
    void sleepStep();

    std::atomic<bool> done_{false};
    std::atomic<bool> timedOut_{false};
    std::atomic<bool> paused_{false};
    std::atomic<int32_t> elapsedMs_{0};
    const int32_t limitMs_;

    // Wakes the watchdog's sleep when the handle is destroyed.
    std::mutex wakeMutex_;
    std::condition_variable wake_;
};
