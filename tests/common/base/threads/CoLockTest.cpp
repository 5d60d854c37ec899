#include "base/threads/CoLock.h"

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "base/threads/CoLockGuard.h"
#include "base/threads/CoMutex.h"
#include "base/threads/CoThreadMgr.h"

namespace {

using Corvane::CoLock;
using Corvane::CoLockGuard;
using Corvane::CoMutex;
using Corvane::CoThread;
using Corvane::CoThreadMgr;

// Runs fn on a library thread and waits for it.
template <typename Fn>
void onOtherThread(Fn fn) {
    struct Call {
        static void run(void* arg) { (*static_cast<Fn*>(arg))(); }
    };
    std::unique_ptr<CoThread> thread(&CoThreadMgr::createThread("lock helper", &Call::run, &fn, true));
    thread->wait();
}

TEST(CoLockTest, ALockTakenByOneThreadIsReleasedByAnother) {
    CoLock lock(1);
    lock.get();
    EXPECT_FALSE(lock.tryGet());
    EXPECT_EQ(0, lock.valueSnapshot());

    onOtherThread([&] { lock.release(); });
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
    auto work = [&] {
        for (int i = 0; i < kIncrements; ++i) {
            {
                CoLockGuard guard(mutex);
                viaMutex = viaMutex + 1;
            }
            CoLockGuard guard(lock);
            viaLock = viaLock + 1;
        }
    };
    struct Call {
        static void run(void* arg) { (*static_cast<decltype(work)*>(arg))(); }
    };
    std::vector<std::unique_ptr<CoThread>> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back(&CoThreadMgr::createThread("incrementer", &Call::run, &work, true));
    for (auto& thread : threads)
        thread->wait();
    EXPECT_EQ(kThreads * kIncrements, viaMutex);
    EXPECT_EQ(kThreads * kIncrements, viaLock);
}

}  // namespace
