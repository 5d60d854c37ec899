#include "RequestWatchdog.h"

#include <algorithm>
#include <system_error>

namespace {
constexpr std::chrono::milliseconds kStep{100};
}  // namespace

RequestWatchdog::Client::Clock::time_point RequestWatchdog::Client::nextStep(Clock::time_point now) const {
    return now + kStep;
}

RequestWatchdog::~RequestWatchdog() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void RequestWatchdog::watch(Client& client) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread(&RequestWatchdog::run, this);
        } catch (const std::system_error&) {
            return;
        }
    }
    client.step();
    const Clock::time_point next = client.nextStep(Clock::now());
    watched_.push_back({&client, next});
    // A thread that wakes earlier anyway needs no call.
    if (next < wakeAt_) {
        wakeAt_ = next;
        lock.unlock();
        wake_.notify_all();
    }
}

void RequestWatchdog::forget(Client& client) {
    std::lock_guard<std::mutex> lock(mutex_);
    watched_.erase(
        std::remove_if(watched_.begin(), watched_.end(), [&client](const Watched& w) { return w.client == &client; }),
        watched_.end());
}

void RequestWatchdog::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        const Clock::time_point now = Clock::now();
        wakeAt_ = Clock::time_point::max();
        for (Watched& w : watched_) {
            if (w.nextStep <= now) {
                w.client->step();
                // A step late for a stall of the machine is not made up.
                w.nextStep = w.client->nextStep(now);
            }
            wakeAt_ = std::min(wakeAt_, w.nextStep);
        }
        if (wakeAt_ == Clock::time_point::max())
            wake_.wait(lock);
        else
            wake_.wait_until(lock, wakeAt_);
    }
}
