#include "base/threads/CoThreadMgr.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/loggerBase/CoMsg.h"
#include "common/base/threads/ThreadTestSupport.h"
#include "support/Eventually.h"
#include "support/Gate.h"
#include "support/MessageLog.h"

namespace {

using namespace Corvane;
using namespace CorvaneTest;

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

TEST(CoThreadMgrTest, CreatedThreadIsRegisteredUntilItEnds) {
    CoThreadMgr& mgr = CoThreadMgr::instance();
    // Threads the library did not start are given the main thread.
    CoThread* mainThread = mgr.currentThread();
    ASSERT_NE(nullptr, mainThread);
    EXPECT_EQ(CoThread::MAIN_THREAD, mainThread->getType());
    CoThread* seenByOther = nullptr;
    std::thread([&] { seenByOther = mgr.currentThread(); }).join();
    EXPECT_EQ(mainThread, seenByOther);

    CorvaneTest::MessageLog::Scope messages;
    Probe probe;
    std::unique_ptr<CoThread> thread(&CoThreadMgr::createThread("registry probe", &probeThread, &probe, false));
    ASSERT_TRUE(probe.started.wait());
    EXPECT_EQ(thread.get(), probe.current);
    // A record carries the posting thread's identifier.
    const auto posted = messages->find("pid probe");
    ASSERT_EQ(1u, posted.size());
    EXPECT_EQ(static_cast<uint32_t>(static_cast<int>(probe.id)), posted[0].pid);

    probe.release.open();
    thread->wait();
    EXPECT_EQ(nullptr, mgr.findThread(probe.id));
    EXPECT_EQ(mainThread, mgr.currentThread()) << "thread slots are shared";
}

// Leaves a thread that can be asked to stop and one that must be cancelled,
// then ends the manager itself or lets the exit handler do it; in a fresh
// process, as both tear the registry down.
int leaveThreadsRunning(bool viaExit) {
    static CorvaneTest::StderrRouter router;
    Corvane::CoMsg::setRouter(&router);
    Corvane::CoMsg::setLevel(Corvane::CoMsg::warning);
    static BlockingProbe probe;
    auto* stoppable = new GateTask([] { std::fprintf(stderr, "stoppable task returned\n"); });
    for (CoTask* task : {static_cast<CoTask*>(new BlockingTask(probe)), static_cast<CoTask*>(stoppable)}) {
        CoThread& thread = *CoThreadMgr::instance().createThread(
            task, task == stoppable ? "exit stoppable" : "exit straggler", CoThread::NEW_THREAD, CoThread::POLICY_TS,
            CoThread::PRIORITY_MIN, -1, false);
        thread.start();
    }
    if (!CorvaneTest::eventually([&] { return probe.started.load(); }) || !stoppable->started.wait())
        return 2;
    if (viaExit)
        std::exit(0);
    CoThreadMgr::instance().uninitialise();  // deletes both threads
    if (!probe.unwound || probe.returned)
        return 3;
    return CoThreadMgr::instance().findThread("exit straggler") ? 4 : 0;
}

// The manager asks a thread to stop before it cancels it: a cancel landing
// in a condition-variable wait ends the whole process at exit.
TEST(CoThreadMgrTest, UninitialiseAndExitStopOrCancelThreadsTheirOwnerLeftRunning) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    using ::testing::ContainsRegex;
    const auto told =
        ::testing::AllOf(ContainsRegex("Thread id = -?[0-9]+ named=exit straggler was not stopped by its owner\\.\n"),
                         ContainsRegex("Thread id = -?[0-9]+ named=exit stoppable was not stopped by its owner\\.\n"),
                         ::testing::HasSubstr("stoppable task returned"));
    for (const bool viaExit : {false, true})
        EXPECT_EXIT(std::_Exit(leaveThreadsRunning(viaExit)), ::testing::ExitedWithCode(0), told) << viaExit;
}

}  // namespace
