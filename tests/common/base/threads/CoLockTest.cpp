#include "base/threads/CoLock.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/threads/CoLockGuard.h"
#include "base/threads/CoMutex.h"

namespace {

using Corvane::CoLock;
using Corvane::CoLockGuard;
using Corvane::CoMutex;

// Runs fn on count other threads at once and waits for them.
template <typename Fn>
void onOtherThreads(Fn fn, int count = 1) {
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back(fn);
    for (std::thread& thread : threads)
        thread.join();
}

TEST(CoLockTest, ALockTakenByOneThreadIsReleasedByAnother) {
    CoLock lock(1);
    lock.get();
    EXPECT_FALSE(lock.tryGet());
    EXPECT_EQ(0, lock.valueSnapshot());

    onOtherThreads([&] { lock.release(); });
    EXPECT_EQ(1, lock.valueSnapshot());
    EXPECT_TRUE(lock.tryGet());
    lock.release();
}

// Both kinds of guard must exclude, and a waiter must block until the
// holder lets go: a lost update shows as a short count.
TEST(CoLockTest, GuardsSerialiseIncrementsFromSeveralThreads) {
    constexpr int kThreads = 4;
    constexpr int kIncrements = 20000;
    CoMutex mutex;
    CoLock lock(1);
    long viaMutex = 0;  // guarded by mutex
    long viaLock = 0;   // guarded by lock
    onOtherThreads(
        [&] {
            for (int i = 0; i < kIncrements; ++i) {
                {
                    CoLockGuard guard(mutex);
                    viaMutex = viaMutex + 1;
                }
                CoLockGuard guard(lock);
                viaLock = viaLock + 1;
            }
        },
        kThreads);
    EXPECT_EQ(kThreads * kIncrements, viaMutex);
    EXPECT_EQ(kThreads * kIncrements, viaLock);
}

}  // namespace
