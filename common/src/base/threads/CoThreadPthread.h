// Internal to corvane_base.
// The POSIX thread behind a CoThread.
//
// Design: start() creates the system thread, which runs entry() and from it
// the task. The state (created, running, finished, joined) and the system
// identifier change only under lock_; start() holds it while creating the
// thread, so the new thread's first step waits until both are recorded. The
// lock is never held while the task runs, while joining, or while calling
// the task's stop(). The thread's own code runs with cancellation off
// (it takes locks and posts). The task runs with deferred cancellation: a
// cancel, the last resort of stopOrCancel(), acts only where the task waits
// at a cancellation point, never in the middle of an allocation.
// Lock order: lock_, then the manager's list lock.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>

#include "base/threads/CoLock.h"
#include "base/threads/CoThread.h"

namespace Corvane {

class CoThreadMgr;

class CoThreadPthread : public CoThread {
public:
    // Registers itself with mgr. A MAIN_THREAD object stands for the
    // process's initial thread and is running from the start.
    CoThreadPthread(CoThreadMgr& mgr, CoTask* task, const char* name, ThreadType type, PolicyType policy,
                    PriorityType level, int cpu, bool quiet);
    // Stops or cancels (and joins) a started NEW_THREAD that was not waited for.
    ~CoThreadPthread() override;

    void start() override;
    void stop() override;
    void wait() override;
    int cancel() override;
    int stopOrCancel() override;

    bool isCreated() const override { return state_.load() == kCreated; }
    bool isJoined() const override { return state_.load() == kJoined; }
    bool isRunning() const override { return state_.load() == kRunning; }
    bool isFinished() const override { return state_.load() == kFinished; }

    ThreadId getThreadId() const override { return threadId_.load(); }

    int setScheduling(PriorityType level, PolicyType policy) override;

    // The policy and level a thread runs with. 0 on success, 1 when the
    // system refused permission, else the error number.
    static int getScheduling(ThreadId id, PolicyType* policy, PriorityType* level);

private:
    enum State : int { kCreated = 0, kRunning = 1, kFinished = 2, kJoined = 3 };

    static void* entry(void* self);
    // Joins a started thread if it ends within timeoutMs; true when it did.
    bool joinWithin(int timeoutMs);
    void runOnThread();
    bool isRunningNoLock() const { return state_.load() == kRunning; }
    bool isStartedNoLock() const {
        const int state = state_.load();
        return state == kRunning || state == kFinished;
    }

    CoThreadMgr& mgr_;
    CoLock lock_;  // count 1; guards changes of state_ and threadId_
    std::atomic<int> state_;
    std::atomic<ThreadId> threadId_;
    size_t stackSizeBytes_ = 0;
    const bool quiet_;
};

}  // namespace Corvane
