// Internal to the gateway.
// The one thread that bounds the server operations of a process's
// TimeoutCorvaneServerHandles. Each watched handle gets a step every 100 ms
// from the moment it is watched, as if it had a watchdog thread of its own;
// a process that answers request after request then does not start and end
// a thread per request. The thread starts with the first handle, sleeps
// while none is watched, and stops with the watchdog. Thread-safe; steps
// run under the watchdog's lock, so that forget() returns only once no step
// of that handle runs, and a step must never wait for a caller of watch()
// or forget().
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class TimeoutCorvaneServerHandle;

class BrowseWatchdog {
public:
    BrowseWatchdog() = default;
    ~BrowseWatchdog();
    BrowseWatchdog(const BrowseWatchdog&) = delete;
    BrowseWatchdog& operator=(const BrowseWatchdog&) = delete;

    // Takes the handle's first step now and the next ones on the thread.
    // When no thread can be started the handle has no limit.
    void watch(TimeoutCorvaneServerHandle& handle);
    // Also for a handle that watch() could not take.
    void forget(TimeoutCorvaneServerHandle& handle);

private:
    using Clock = std::chrono::steady_clock;
    struct Watched {
        TimeoutCorvaneServerHandle* handle;
        Clock::time_point nextStep;
    };

    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Watched> watched_;
    // When the thread wakes next by itself; max while it waits for a handle.
    Clock::time_point wakeAt_ = Clock::time_point::max();
    bool stopping_ = false;
    std::thread thread_;  // started by the first watch()
};
