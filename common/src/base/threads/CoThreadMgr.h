// The process-wide thread manager: creates threads, keeps the registry of
// live ones (searchable by name and identifier), and at process exit stops
// every joinable thread its owner left running (cancelling it only when it
// does not end when asked). Reached through instance(), which on first use
// also makes the pid of every log record the posting thread's identifier.
// Thread-safe; see CoThreadMgrVector for the lock.
#pragma once

#include <iosfwd>

#include "base/threads/CoThread.h"

namespace Corvane {

class CoTask;

class CoThreadMgr {
public:
    static CoThreadMgr& instance();

    // Runs fn(arg) on a new joinable thread called name and returns it,
    // started. The caller owns the thread: it calls stop(), wait() or
    // cancel() and then deletes it. quiet leaves out the "Registered
    // thread" notice.
    static CoThread& createThread(const char* name, void (*fn)(void*), void* arg, bool quiet);

    virtual ~CoThreadMgr() = default;

    virtual CoThread::ThreadId getCurrentThreadId() const = 0;

    // A thread object, not started, that owns task and is registered.
    virtual CoThread* createThread(CoTask* task, const char* name, CoThread::ThreadType type,
                                   CoThread::PolicyType policy, CoThread::PriorityType level, int cpu, bool quiet) = 0;

    // Borrowed pointers: valid while the thread's owner keeps it.
    virtual CoThread* findThread(CoThread::ThreadId id) = 0;
    virtual CoThread* findThread(const char* name) = 0;
    // The calling thread's object; a thread the library did not start is
    // given the initial thread's.
    virtual CoThread* currentThread() = 0;

    // Used by thread objects themselves.
    virtual void addThread(CoThread* thread) = 0;
    virtual void removeThread(CoThread* thread) = 0;

    // Stops (or, as the last resort, cancels) the joinable threads still
    // running, with a warning for each, and destroys every registered
    // thread object.
    virtual void uninitialise() = 0;

    // One line per registered thread.
    virtual void dump(std::ostream& out) = 0;

    // Native priorities of the ten levels for each policy.
    virtual void setPriorityTables(const int roundRobin[CoThread::NUM_PRIO_LEVELS],
                                   const int timeSharing[CoThread::NUM_PRIO_LEVELS]) = 0;
    virtual int nativePriority(CoThread::PolicyType policy, int level) const = 0;
};

}  // namespace Corvane
