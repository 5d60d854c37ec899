#include "base/threads/CoThreadPthread.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/loggerBase/CoMsg.h"
#include "base/threads/CoThreadMgr.h"
#include "common/base/threads/ScopedSetting.h"
#include "common/base/threads/ThreadTestSupport.h"
#include "support/Eventually.h"
#include "support/MessageLog.h"

// ThreadSanitizer enlarges the stacks of the threads it starts.
#if defined(__SANITIZE_THREAD__)
#define CO_TEST_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define CO_TEST_THREAD_SANITIZER 1
#endif
#endif

namespace {

using Corvane::CoThread;
using Corvane::CoThreadMgr;
using Corvane::CoThreadPthread;
using CorvaneTest::BlockingProbe;
using CorvaneTest::BlockingTask;
using CorvaneTest::MessageLog;
using CorvaneTest::eventually;
using CorvaneTest::GateTask;
using CorvaneTest::ScopedSetting;

class CoThreadPthreadTest : public ::testing::Test {
public:
    // A joinable thread, not started, owned by the test.
    static std::unique_ptr<CoThread> makeThread(Corvane::CoTask* task, const std::string& name) {
        return std::unique_ptr<CoThread>(CoThreadMgr::instance().createThread(
            task, name.c_str(), CoThread::NEW_THREAD, CoThread::POLICY_TS, CoThread::PRIORITY_MIN, -1, false));
    }

public:
    // Stack size the started thread saw, with the current settings.
    static size_t stackSizeOfNewThread() {
        auto* task = new GateTask;
        std::unique_ptr<CoThread> thread = makeThread(task, "stack probe");
        thread->start();
        EXPECT_TRUE(task->started.wait());
        const size_t size = task->stackSizeBytes;
        task->release.open();
        thread->wait();
        return size;
    }

};

TEST_F(CoThreadPthreadTest, StartFinishAndWaitMoveThroughTheStates) {
    auto* task = new GateTask;
    std::unique_ptr<CoThread> thread = makeThread(task, "state walker");
    EXPECT_TRUE(thread->isCreated());
    thread->wait();  // never started: returns at once
    EXPECT_TRUE(thread->isCreated());

    thread->start();
    EXPECT_TRUE(thread->isRunning());
    ASSERT_TRUE(task->started.wait());
    EXPECT_EQ(thread.get(), task->self);
    EXPECT_TRUE(pthread_equal(task->id, thread->getThreadId()));
    EXPECT_EQ(thread.get(), CoThreadMgr::instance().findThread("state walker"));

    task->release.open();
    EXPECT_TRUE(eventually([&] { return thread->isFinished(); }));
    thread->wait();
    EXPECT_TRUE(thread->isJoined());
    EXPECT_EQ(nullptr, CoThreadMgr::instance().findThread("state walker"));
    EXPECT_EQ(0, thread->cancel());  // nothing left to cancel
    EXPECT_TRUE(thread->isJoined());
}

TEST_F(CoThreadPthreadTest, DetachedThreadDeletesItselfWhenItsTaskReturns) {
    struct Task : Corvane::CoTask {
        explicit Task(std::atomic<bool>& deleted) : deleted_(deleted) {}
        ~Task() override { deleted_ = true; }
        void run(CoThread&) override {}
        std::atomic<bool>& deleted_;
    };
    std::atomic<bool> deleted{false};
    CoThread* thread = CoThreadMgr::instance().createThread(new Task(deleted), "detached", CoThread::DETACHED_THREAD,
                                                            CoThread::POLICY_TS, CoThread::PRIORITY_MIN, -1, true);
    thread->start();  // from here on the thread owns its object
    EXPECT_TRUE(eventually([&] { return deleted.load(); }));
    EXPECT_TRUE(eventually([] { return CoThreadMgr::instance().findThread("detached") == nullptr; }));
}

TEST_F(CoThreadPthreadTest, StopAsksTheTaskAndWaitJoins) {
    auto* task = new GateTask;
    std::unique_ptr<CoThread> thread = makeThread(task, "stoppable");
    thread->start();
    ASSERT_TRUE(task->started.wait());
    thread->stop();
    EXPECT_TRUE(task->stopCalled);
    thread->wait();
    EXPECT_TRUE(thread->isJoined());
}

TEST_F(CoThreadPthreadTest, CancelUnwindsABlockedThreadAndJoinsIt) {
    BlockingProbe probe;
    std::unique_ptr<CoThread> thread = makeThread(new BlockingTask(probe), "blocked reader");
    thread->start();
    ASSERT_TRUE(eventually([&] { return probe.started.load(); }));

    EXPECT_EQ(0, thread->cancel());
    EXPECT_TRUE(thread->isJoined());
    EXPECT_TRUE(probe.unwound);
    EXPECT_FALSE(probe.returned);
    EXPECT_EQ(nullptr, CoThreadMgr::instance().findThread("blocked reader"));
}

// A task that can be told to end is asked first: a cancel landing in its
// condition-variable wait would end the whole process.
TEST_F(CoThreadPthreadTest, DestroyingAStartedThreadStopsItOrCancelsIt) {
    std::atomic<bool> returned{false};
    auto* stoppable = new CorvaneTest::StoppableTask([&returned] { returned = true; });
    std::unique_ptr<CoThread> asked = makeThread(stoppable, "forgotten worker");
    asked->start();
    ASSERT_TRUE(stoppable->started.wait());
    asked.reset();
    EXPECT_TRUE(returned);

    BlockingProbe probe;
    std::unique_ptr<CoThread> thread = makeThread(new BlockingTask(probe), "forgotten reader");
    thread->start();
    ASSERT_TRUE(eventually([&] { return probe.started.load(); }));
    thread.reset();
    EXPECT_TRUE(probe.unwound);
    EXPECT_FALSE(probe.returned);
}

// The C library reuses the stacks of ended threads when they are no more
// than four times too big, so the sizes are checked in a fresh process, in
// increasing order.
int checkStackSizes() {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    pthread_attr_t defaults;
    size_t defaultSize = 0;
    if (pthread_getattr_default_np(&defaults) != 0 || pthread_attr_getstacksize(&defaults, &defaultSize) != 0)
        return 2;
    pthread_attr_destroy(&defaults);
    struct Case {
        int pages;
        bool disabled;
        size_t expected;
    } cases[] = {{64, false, 64 * page}, {0, false, 256 * page}, {64, true, defaultSize}};
    std::sort(std::begin(cases), std::end(cases), [](const Case& a, const Case& b) { return a.expected < b.expected; });
    for (const Case& c : cases) {
        ScopedSetting<int> pages("XQ_PTHREAD_STACK_SIZE", c.pages);
        ScopedSetting<bool> disabled("XQ_DISABLE_STACK_SIZE_SETTING", c.disabled);
        const size_t got = CoThreadPthreadTest::stackSizeOfNewThread();
        if (got != c.expected) {
            std::fprintf(stderr, "pages %d disabled %d: stack %zu, expected %zu\n", c.pages, c.disabled, got,
                         c.expected);
            return 1;
        }
    }
    return 0;
}

TEST_F(CoThreadPthreadTest, StackSizeComesFromTheSetting) {
#ifdef CO_TEST_THREAD_SANITIZER
    GTEST_SKIP() << "ThreadSanitizer gives new threads stacks of its own size";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(checkStackSizes()), ::testing::ExitedWithCode(0), "");
}

TEST_F(CoThreadPthreadTest, JobExecThreadsAreAnnouncedOnlyWhenDebugging) {
    for (const bool debug : {false, true}) {
        ScopedSetting<bool> threadDebug("XQ_THREAD_DEBUG", debug);
        MessageLog::Scope messages(Corvane::CoMsg::notice);
        for (const char* name : {"Batch Job Exec 7", "plain worker"}) {
            auto* task = new GateTask;
            std::unique_ptr<CoThread> thread = makeThread(task, name);
            thread->start();
            task->release.open();
            thread->wait();
        }
        EXPECT_EQ(debug, !messages->startingWith("Registered thread 'Batch Job Exec 7' [ ").empty()) << debug;
        EXPECT_FALSE(messages->startingWith("Registered thread 'plain worker' [ ").empty()) << debug;
    }
}

TEST_F(CoThreadPthreadTest, QuietThreadsAreNotAnnounced) {
    MessageLog::Scope messages(Corvane::CoMsg::notice);
    auto* task = new GateTask;
    std::unique_ptr<CoThread> thread(CoThreadMgr::instance().createThread(
        task, "quiet worker", CoThread::NEW_THREAD, CoThread::POLICY_TS, CoThread::PRIORITY_MIN, -1, true));
    thread->start();
    task->release.open();
    thread->wait();
    EXPECT_TRUE(messages->find("quiet worker").empty());
}

TEST_F(CoThreadPthreadTest, SchedulingNeedsARunningThreadAndReadsBack) {
    auto* task = new GateTask;
    std::unique_ptr<CoThread> thread = makeThread(task, "scheduled");
    {
        MessageLog::Scope messages;
        EXPECT_EQ(-1, thread->setScheduling(CoThread::PRIORITY_MIN, CoThread::POLICY_TS));
        EXPECT_TRUE(messages->contains("Cannot set scheduling of thread."));
    }
    thread->start();
    ASSERT_TRUE(task->started.wait());

    CoThread::PolicyType policy = CoThread::POLICY_RR;
    CoThread::PriorityType level = CoThread::PRIORITY_MAX;
    EXPECT_EQ(0, thread->setScheduling(CoThread::PRIORITY_MIN, CoThread::POLICY_TS));
    EXPECT_EQ(0, CoThreadPthread::getScheduling(thread->getThreadId(), &policy, &level));
    EXPECT_EQ(CoThread::POLICY_TS, policy);
    EXPECT_EQ(CoThread::PRIORITY_MIN, level);

    // Real-time priorities map back through the manager's table.
    const int roundRobin[CoThread::NUM_PRIO_LEVELS] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    const int timeSharing[CoThread::NUM_PRIO_LEVELS] = {};
    const int defaultRoundRobin[CoThread::NUM_PRIO_LEVELS] = {90, 91, 92, 93, 94, 95, 96, 97, 98, 99};
    CoThreadMgr::instance().setPriorityTables(roundRobin, timeSharing);
    MessageLog::Scope messages;
    const int result = thread->setScheduling(static_cast<CoThread::PriorityType>(3), CoThread::POLICY_RR);
    if (result == 1) {
        EXPECT_TRUE(messages->contains("Unable to set thread policy: Operation not permitted"));
    } else {
        EXPECT_EQ(0, result);
        EXPECT_EQ(0, CoThreadPthread::getScheduling(thread->getThreadId(), &policy, &level));
        EXPECT_EQ(CoThread::POLICY_RR, policy);
        EXPECT_EQ(3, level);
        EXPECT_EQ(0, thread->setScheduling(CoThread::PRIORITY_MIN, CoThread::POLICY_TS));
    }
    CoThreadMgr::instance().setPriorityTables(defaultRoundRobin, timeSharing);

    task->release.open();
    thread->wait();
}

}  // namespace
