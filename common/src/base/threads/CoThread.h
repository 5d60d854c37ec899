// A named thread that runs one task. This base holds what every thread
// implementation records (task, name, scheduling request, CPU, type); see
// CoThreadPthread for the POSIX implementation and CoThreadMgr for creation.
// Owned by whoever created it (the caller of CoThreadMgr::createThread),
// except a DETACHED_THREAD, which deletes itself when its task returns.
// Thread-safe: the state is changed only under the thread's own lock.
#pragma once

#include <pthread.h>

#include <atomic>
#include <memory>
#include <string>

#include "base/threads/CoTask.h"

namespace Corvane {

class CoThread {
public:
    typedef pthread_t ThreadId;

    enum ThreadType {
        MAIN_THREAD = 0,      // the process's initial thread; never started or stopped here
        NEW_THREAD = 1,       // joinable
        DETACHED_THREAD = 2,  // deletes its own object when its task returns
    };
    enum PolicyType {
        POLICY_TS = 0,  // time-sharing
        POLICY_RR = 1,  // round-robin real-time
    };
    enum PriorityType {
        PRIORITY_MIN = 0,
        PRIORITY_MAX = 9,
    };
    static constexpr int NUM_PRIO_LEVELS = 10;

    // Takes the task (may be null for MAIN_THREAD).
    CoThread(CoTask* task, const char* name, ThreadType type, PolicyType policy, PriorityType level, int cpu);
    virtual ~CoThread();
    CoThread(const CoThread&) = delete;
    CoThread& operator=(const CoThread&) = delete;

    // Creates the system thread running the task.
    virtual void start() = 0;
    // Asks the task to end (CoTask::stop); does not wait.
    virtual void stop() = 0;
    // Joins a NEW_THREAD that was started; returns at once otherwise.
    virtual void wait() = 0;
    // Cancels and joins a started NEW_THREAD and takes the thread off the
    // manager's list. 0, or the error number when it could not be cancelled.
    virtual int cancel() = 0;
    // How the library ends a thread its owner left running: asks the task
    // to stop, gives it a short grace to end, and cancels it only if it has
    // not. Returns as cancel() does.
    virtual int stopOrCancel() = 0;

    virtual bool isCreated() const = 0;  // not started yet
    virtual bool isJoined() const = 0;   // waited for or cancelled
    virtual bool isRunning() const = 0;
    virtual bool isFinished() const = 0;  // the task returned, not joined yet

    virtual ThreadId getThreadId() const = 0;
    const std::string& getName() const { return name_; }

    // Recorded only; the thread is never bound to it.
    virtual int getCpu() const;
    virtual void setCpu(int cpu);

    // 0 on success, -1 when the thread is not running, 1 when the system
    // refused permission, else the error number.
    virtual int setScheduling(PriorityType level, PolicyType policy) = 0;
    PriorityType getPriority() const { return level_.load(); }
    PolicyType getPolicy() const { return policy_.load(); }
    ThreadType getType() const { return type_; }
    CoTask* getTask() const { return task_.get(); }

    static const char* policyName(PolicyType policy) { return policy == POLICY_RR ? "RR" : "TS"; }

protected:
    std::unique_ptr<CoTask> task_;
    const std::string name_;
    // Read without the thread's lock.
    std::atomic<int> cpu_;
    std::atomic<PriorityType> level_;
    std::atomic<PolicyType> policy_;
    const ThreadType type_;
};

}  // namespace Corvane
