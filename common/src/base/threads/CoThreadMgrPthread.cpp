#include "base/threads/CoThreadMgrPthread.h"

#include <pthread.h>

#include <cassert>

#include "base/threads/CoThreadPthread.h"
#include "base/threads/TLS.h"

namespace Corvane {

namespace {

constexpr int kRoundRobinDefaults[CoThread::NUM_PRIO_LEVELS] = {90, 91, 92, 93, 94, 95, 96, 97, 98, 99};

// Static initialisation runs on the initial thread.
struct RecordAtStartUp {
    RecordAtStartUp() { CoThreadMgrPthread::initialThreadId(); }
} gRecordAtStartUp;

}  // namespace

CoThread::ThreadId CoThreadMgrPthread::initialThreadId() {
    static const pthread_t id = pthread_self();
    return id;
}

CoThreadMgrPthread::CoThreadMgrPthread(CoThread::ThreadId initialThread) : initialThread_(initialThread) {
    for (int i = 0; i < CoThread::NUM_PRIO_LEVELS; ++i) {
        roundRobin_[i].store(kRoundRobinDefaults[i]);
        timeSharing_[i].store(0);
    }
}

CoThread::ThreadId CoThreadMgrPthread::getCurrentThreadId() const { return pthread_self(); }

CoThread* CoThreadMgrPthread::createThread(CoTask* task, const char* name, CoThread::ThreadType type,
                                           CoThread::PolicyType policy, CoThread::PriorityType level, int cpu,
                                           bool quiet) {
    // Registers itself; owned by the caller (or by itself when detached).
    return new CoThreadPthread(*this, task, name, type, policy, level, cpu, quiet);
}

CoThread* CoThreadMgrPthread::currentThread() {
    CoThread* thread = static_cast<CoThread*>(TLS<kThreadSlot>::get());
    if (!thread) {
        thread = findThread(initialThread_);
        TLS<kThreadSlot>::set(thread);
    }
    return thread;
}

void CoThreadMgrPthread::setPriorityTables(const int roundRobin[CoThread::NUM_PRIO_LEVELS],
                                           const int timeSharing[CoThread::NUM_PRIO_LEVELS]) {
    for (int i = 0; i < CoThread::NUM_PRIO_LEVELS; ++i) {
        roundRobin_[i].store(roundRobin[i]);
        timeSharing_[i].store(timeSharing[i]);
    }
}

int CoThreadMgrPthread::nativePriority(CoThread::PolicyType policy, int level) const {
    assert(level >= 0 && level < CoThread::NUM_PRIO_LEVELS && "level < NUM_PRIO_LEVELS");
    if (level < 0 || level >= CoThread::NUM_PRIO_LEVELS)
        level = CoThread::PRIORITY_MIN;
    return policy == CoThread::POLICY_RR ? roundRobin_[level].load() : timeSharing_[level].load();
}

}  // namespace Corvane
