// Internal to corvane_base.
// Platform part of the topology monitor: owns the thread that waits for
// kernel notifications and calls the monitor's trigger after each change.
// Created, started, stopped and destroyed by CoNetworkMonitor only.
#pragma once

#include <memory>

#include "base/threads/CoThread.h"

namespace Corvane {

class CoNetworkMonitorImpl {
public:
    typedef void (*Callback)();

    explicit CoNetworkMonitorImpl(Callback callback) : callback_(callback) {}
    virtual ~CoNetworkMonitorImpl() = default;
    CoNetworkMonitorImpl(const CoNetworkMonitorImpl&) = delete;
    CoNetworkMonitorImpl& operator=(const CoNetworkMonitorImpl&) = delete;

    // Starts the "CoNetworkMonitor Thread".
    void start();
    // Wakes the thread and joins it; no callback runs after it returns. The
    // thread ends by itself, never by cancellation, so it never dies
    // holding a lock.
    void stop();
    // The thread's body; returns soon after wake().
    virtual void run() = 0;

    // Thread entry: calls run() on the implementation passed as argument.
    static void execute(void* impl);

    // The implementation for this platform.
    static std::unique_ptr<CoNetworkMonitorImpl> create(Callback callback);

protected:
    // Asks run() to return; called from another thread.
    virtual void wake() = 0;

    Callback callback_;
    std::unique_ptr<CoThread> thread_;  // null until started
};

}  // namespace Corvane
