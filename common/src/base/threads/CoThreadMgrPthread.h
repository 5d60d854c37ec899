// Internal to corvane_base.
// The POSIX thread manager: makes CoThreadPthread objects, answers the
// calling thread's identifier and object, and keeps the two tables of native
// priorities per level. Thread-safe; the tables are atomics so that threads
// read them without the list lock.
#pragma once

#include <atomic>

#include "base/threads/CoThreadMgrVector.h"

namespace Corvane {

class CoThreadMgrPthread : public CoThreadMgrVector {
public:
    explicit CoThreadMgrPthread(CoThread::ThreadId initialThread);

    // The process's initial thread, recorded before main.
    static CoThread::ThreadId initialThreadId();

    CoThread::ThreadId getCurrentThreadId() const override;
    CoThread* createThread(CoTask* task, const char* name, CoThread::ThreadType type, CoThread::PolicyType policy,
                           CoThread::PriorityType level, int cpu, bool quiet) override;
    CoThread* currentThread() override;
    void setPriorityTables(const int roundRobin[CoThread::NUM_PRIO_LEVELS],
                           const int timeSharing[CoThread::NUM_PRIO_LEVELS]) override;
    int nativePriority(CoThread::PolicyType policy, int level) const override;

private:
    const CoThread::ThreadId initialThread_;
    std::atomic<int> roundRobin_[CoThread::NUM_PRIO_LEVELS];
    std::atomic<int> timeSharing_[CoThread::NUM_PRIO_LEVELS];
};

}  // namespace Corvane
