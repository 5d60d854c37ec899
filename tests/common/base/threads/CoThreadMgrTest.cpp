#include "base/threads/CoThreadMgr.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/loggerBase/CoMsg.h"
#include "common/base/threads/ThreadTestSupport.h"
#include "support/Eventually.h"
#include "support/Gate.h"
#include "support/MessageLog.h"

namespace {

using Corvane::CoTask;
using Corvane::CoThread;
using Corvane::CoThreadMgr;
using CorvaneTest::BlockingProbe;
using CorvaneTest::BlockingTask;
using CorvaneTest::eventually;
using CorvaneTest::Gate;
using CorvaneTest::MessageLog;
using CorvaneTest::StoppableTask;

// What a function run by createThread saw of itself.
struct Probe {
    Gate started;
    Gate release;
    pthread_t id{};
    CoThread* current = nullptr;
};

void probeThread(void* arg) {
    Probe* probe = static_cast<Probe*>(arg);
    probe->id = pthread_self();
    probe->current = CoThreadMgr::instance().currentThread();
    CO_NOTICE("pid probe");
    probe->started.open();
    probe->release.wait();
}

std::string dumpText() {
    std::ostringstream out;
    CoThreadMgr::instance().dump(out);
    return out.str();
}

std::string warningFor(CoThread& thread) {
    char text[256];
    std::snprintf(text, sizeof text, "Thread id = %i named=%s was not stopped by its owner.",
                  static_cast<int>(thread.getThreadId()), thread.getName().c_str());
    return text;
}

TEST(CoThreadMgrTest, CreatedThreadIsRegisteredUntilItEnds) {
    MessageLog::Scope messages;
    Probe probe;
    std::unique_ptr<CoThread> thread(&CoThreadMgr::createThread("registry probe", &probeThread, &probe, false));
    ASSERT_TRUE(probe.started.wait());

    CoThreadMgr& mgr = CoThreadMgr::instance();
    EXPECT_EQ(thread.get(), probe.current);
    EXPECT_EQ(thread.get(), mgr.findThread("registry probe"));
    EXPECT_EQ(thread.get(), mgr.findThread(probe.id));
    EXPECT_EQ(CoThread::NEW_THREAD, thread->getType());
    char line[128];
    std::snprintf(line, sizeof line, "Thread Dump: registry probe ( %i ) \n", static_cast<int>(probe.id));
    EXPECT_NE(std::string::npos, dumpText().find(line)) << dumpText();

    // From the first use of the manager on, a record carries the posting
    // thread's identifier.
    const auto posted = messages->find("pid probe");
    ASSERT_EQ(1u, posted.size());
    EXPECT_EQ(static_cast<uint32_t>(static_cast<int>(probe.id)), posted[0].pid);

    probe.release.open();
    thread->wait();
    EXPECT_EQ(nullptr, mgr.findThread("registry probe"));
    EXPECT_EQ(nullptr, mgr.findThread(probe.id));
    EXPECT_EQ(std::string::npos, dumpText().find("registry probe"));
}

TEST(CoThreadMgrTest, ThreadsTheLibraryDidNotStartAreGivenTheMainThread) {
    CoThread* mainThread = CoThreadMgr::instance().currentThread();
    ASSERT_NE(nullptr, mainThread);
    EXPECT_EQ(CoThread::MAIN_THREAD, mainThread->getType());
    EXPECT_TRUE(mainThread->isRunning());

    CoThread* seenByOther = nullptr;
    std::thread other([&] { seenByOther = CoThreadMgr::instance().currentThread(); });
    other.join();
    EXPECT_EQ(mainThread, seenByOther);
}

// Run in a fresh process: uninitialising tears the registry down.
int uninitialiseWithAThreadLeftRunning() {
    MessageLog::Scope messages;
    BlockingProbe probe;
    CoThread* thread = CoThreadMgr::instance().createThread(new BlockingTask(probe), "left running",
                                                            CoThread::NEW_THREAD, CoThread::POLICY_TS,
                                                            CoThread::PRIORITY_MIN, -1, false);
    thread->start();
    if (!eventually([&] { return probe.started.load(); }))
        return 2;
    const std::string warning = warningFor(*thread);

    CoThreadMgr::instance().uninitialise();  // deletes thread
    if (!messages->contains(warning))
        return 3;
    if (!probe.unwound || probe.returned)
        return 4;
    if (CoThreadMgr::instance().findThread("left running") || !dumpText().empty())
        return 5;
    return 0;
}

TEST(CoThreadMgrTest, UninitialiseCancelsAThreadItsOwnerLeftRunning) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(uninitialiseWithAThreadLeftRunning()), ::testing::ExitedWithCode(0), "");
}

[[noreturn]] void exitWithThreadsLeftRunning() {
    static CorvaneTest::StderrRouter router;
    Corvane::CoMsg::setRouter(&router);
    Corvane::CoMsg::setLevel(Corvane::CoMsg::warning);
    static BlockingProbe probe;
    auto* stoppable = new StoppableTask([] { std::fprintf(stderr, "stoppable task returned\n"); });
    for (CoTask* task : {static_cast<CoTask*>(new BlockingTask(probe)), static_cast<CoTask*>(stoppable)}) {
        CoThread& thread = *CoThreadMgr::instance().createThread(
            task, task == stoppable ? "exit stoppable" : "exit straggler", CoThread::NEW_THREAD, CoThread::POLICY_TS,
            CoThread::PRIORITY_MIN, -1, false);
        thread.start();
    }
    if (!eventually([&] { return probe.started.load(); }) || !stoppable->started.wait())
        std::_Exit(2);
    std::exit(0);
}

// The manager asks a thread to stop before it cancels it: a cancel landing
// in a condition-variable wait ends the whole process at exit.
TEST(CoThreadMgrTest, ProcessExitStopsOrCancelsThreadsTheirOwnerLeftRunning) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    using ::testing::ContainsRegex;
    EXPECT_EXIT(exitWithThreadsLeftRunning(), ::testing::ExitedWithCode(0),
                ::testing::AllOf(
                    ContainsRegex("Thread id = -?[0-9]+ named=exit straggler was not stopped by its owner"),
                    ContainsRegex("Thread id = -?[0-9]+ named=exit stoppable was not stopped by its owner"),
                    ::testing::HasSubstr("stoppable task returned")));
}

}  // namespace
