// Internal to the gateway.
// A server handle whose operations are bounded in time. A watchdog counts
// the time since the last resetTimer() in steps of 100 ms; once the limit
// passes it cancels the server's connections every 100 ms until the handle
// goes, so that a stuck server becomes a failed operation rather than a
// hung request. A call cancelled mid-way drops its connection, so the next
// request on that shared connection reconnects instead of reading a stale
// reply. The owner's thread operates and resets; the watchdog's thread only
// counts and cancels. Without a watchdog thread the handle works with no
// limit.
#pragma once

#include <atomic>
#include <cstdint>

#include "client/api/CorvaneServerHandle.h"

class BrowseWatchdog;

class TimeoutCorvaneServerHandle : public CorvaneServerHandle {
public:
    // limitMs: see limitFrom(). The watchdog outlives the handle.
    TimeoutCorvaneServerHandle(const char* serverId, int32_t limitMs, BrowseWatchdog& watchdog);
    ~TimeoutCorvaneServerHandle() override;

    void resetTimer() { elapsedMs_.store(0); }

    // The limit an XQ_CVC_BROWSE_TIMEOUT value gives: its leading digits
    // (anything else reads as 0), or 25000 when it is unset (null).
    // Milliseconds.
    static int32_t limitFrom(const char* setting);

private:
    friend class BrowseWatchdog;
    // One step of the count, every 100 ms from the first.
    void step();

    BrowseWatchdog& watchdog_;
    std::atomic<bool> timedOut_{false};
    std::atomic<int32_t> elapsedMs_{0};
    const int32_t limitMs_;
};
