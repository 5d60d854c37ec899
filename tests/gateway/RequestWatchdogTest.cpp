#include "RequestWatchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "support/Gate.h"

namespace {

using Clock = RequestWatchdog::Client::Clock;
using CorvaneTest::Gate;

// Steps first after the first interval, then after the later one each
// time; opens its gate at the stepsWanted-th step.
class Ticker : public RequestWatchdog::Client {
public:
    Ticker(std::chrono::milliseconds first, std::chrono::milliseconds later, int stepsWanted)
        : first_(first), later_(later), stepsWanted_(stepsWanted) {}
    void step() override {
        if (++steps_ == stepsWanted_)
            reached_.open();
    }
    Clock::time_point nextStep(Clock::time_point now) const override {
        return now + (steps_.load() < 2 ? first_ : later_);
    }

    int steps() const { return steps_.load(); }
    Gate& reached() { return reached_; }

private:
    const std::chrono::milliseconds first_;
    const std::chrono::milliseconds later_;
    const int stepsWanted_;
    std::atomic<int> steps_{0};
    Gate reached_;
};

double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

TEST(RequestWatchdogTest, EachClientIsSteppedWhenItSaysEvenBeforeTheThreadMeantToWake) {
    RequestWatchdog watchdog;
    const std::chrono::milliseconds shortly(20);
    Ticker far(shortly, std::chrono::hours(1), 2), soon(shortly, shortly, 3);
    watchdog.watch(far);
    // Its second step ran on the thread, which is asleep for an hour once
    // watch() gets the lock.
    ASSERT_TRUE(far.reached().wait(10000));
    // Nothing is due meanwhile: the thread sleeps.
    const double before = processSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(processSeconds() - before, 0.1) << "the thread spins until the hour is up";
    watchdog.watch(soon);
    EXPECT_TRUE(soon.reached().wait(10000)) << "a client due earlier did not wake the thread";
    EXPECT_EQ(2, far.steps()) << "a client was stepped before its time";
    watchdog.forget(soon);
    watchdog.forget(far);
    // Asleep with nobody watched, the thread still takes a new client.
    Ticker again(shortly, shortly, 2);
    watchdog.watch(again);
    EXPECT_TRUE(again.reached().wait(10000));
    watchdog.forget(again);
}

}  // namespace
