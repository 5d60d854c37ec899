#include "base/threads/CoThreadPthread.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/env/EnvVarRegistry.h"
#include "base/loggerBase/CoMsg.h"
#include "base/threads/CoThreadMgr.h"
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
using CorvaneTest::eventually;
using CorvaneTest::GateTask;

// A joinable thread, not started, owned by the test.
std::unique_ptr<CoThread> makeThread(Corvane::CoTask* task, const std::string& name, bool quiet = false) {
    return std::unique_ptr<CoThread>(Corvane::CoThreadMgr::instance().createThread(
        task, name.c_str(), CoThread::NEW_THREAD, CoThread::POLICY_TS, CoThread::PRIORITY_MIN, -1, quiet));
}

// Changes a registered setting as an operator would at run time.
template <typename T>
void setSetting(const char* name, T value) {
    Corvane::EnvVarRegistryImp& registry = Corvane::EnvVarRegistryImp::getInstance();
    const std::vector<int> found = registry.find(name, Corvane::EnvVarRegistry::kFieldName, true);
    ASSERT_EQ(1u, found.size()) << name;
    registry.getEnvVar(found[0])->dynSetValue(value);
}

TEST(CoThreadPthreadTest, StartStopWaitCancelAndDestructionMoveThroughTheStates) {
    auto* task = new GateTask;
    std::unique_ptr<CoThread> thread = makeThread(task, "state walker");
    EXPECT_TRUE(thread->isCreated());
    thread->wait();  // never started: returns at once
    EXPECT_TRUE(thread->isCreated());

    thread->start();
    EXPECT_TRUE(thread->isRunning());
    ASSERT_TRUE(task->started.wait());
    EXPECT_EQ(thread.get(), task->self);

    thread->stop();
    EXPECT_TRUE(task->release.wait(0)) << "stop did not reach the task";
    EXPECT_TRUE(eventually([&] { return thread->isFinished(); }));
    thread->wait();
    EXPECT_TRUE(thread->isJoined());

    // Cancel or destruction ends a started thread. A task that can be told to
    // end is asked first: a cancel landing in its condition-variable wait
    // would end the whole process.
    std::atomic<bool> returned{false};
    auto* stoppable = new GateTask([&returned] { returned = true; });
    std::unique_ptr<CoThread> asked = makeThread(stoppable, "forgotten worker");
    asked->start();
    ASSERT_TRUE(stoppable->started.wait());
    asked.reset();
    EXPECT_TRUE(returned);

    for (const bool destroy : {false, true}) {
        CorvaneTest::BlockingProbe probe;
        std::unique_ptr<CoThread> blocked = makeThread(new CorvaneTest::BlockingTask(probe), "blocked reader");
        blocked->start();
        ASSERT_TRUE(eventually([&] { return probe.started.load(); }));
        if (destroy) {
            blocked.reset();
        } else {
            EXPECT_EQ(0, blocked->cancel());
            EXPECT_TRUE(blocked->isJoined());
        }
        EXPECT_TRUE(probe.unwound) << destroy;
        EXPECT_FALSE(probe.returned) << destroy;
    }
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
    std::sort(cases, cases + 3, [](const Case& a, const Case& b) { return a.expected < b.expected; });
    for (const Case& c : cases) {
        setSetting("XQ_PTHREAD_STACK_SIZE", c.pages);
        setSetting("XQ_DISABLE_STACK_SIZE_SETTING", c.disabled);
        auto* task = new GateTask;
        std::unique_ptr<CoThread> thread = makeThread(task, "stack probe");
        thread->start();
        task->started.wait();
        task->release.open();
        thread->wait();
        if (task->stackSizeBytes != c.expected) {
            std::fprintf(stderr, "pages %d disabled %d: stack %zu, expected %zu\n", c.pages, c.disabled,
                         task->stackSizeBytes, c.expected);
            return 1;
        }
    }
    return 0;
}

TEST(CoThreadPthreadTest, StackSizeComesFromTheSetting) {
#ifdef CO_TEST_THREAD_SANITIZER
    GTEST_SKIP() << "ThreadSanitizer gives new threads stacks of its own size";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(checkStackSizes()), ::testing::ExitedWithCode(0), "");
}

TEST(CoThreadPthreadTest, ThreadsAreAnnouncedUnlessQuietOrJobExecWithoutDebugging) {
    const struct {
        const char* name;
        bool quiet, debug, announced;
    } cases[] = {{"Batch Job Exec 7", false, false, false},
                 {"Batch Job Exec 7", false, true, true},
                 {"plain worker", false, false, true},
                 {"plain worker", true, false, false}};
    for (const auto& c : cases) {
        setSetting("XQ_THREAD_DEBUG", c.debug);
        CorvaneTest::MessageLog::Scope messages(Corvane::CoMsg::notice);
        auto* task = new GateTask;
        std::unique_ptr<CoThread> thread = makeThread(task, c.name, c.quiet);
        thread->start();
        task->release.open();
        thread->wait();
        EXPECT_EQ(c.announced, !messages->startingWith(std::string("Registered thread '") + c.name + "' [ ").empty())
            << c.name << " quiet " << c.quiet << " debug " << c.debug;
    }
    setSetting("XQ_THREAD_DEBUG", false);
}

}  // namespace
