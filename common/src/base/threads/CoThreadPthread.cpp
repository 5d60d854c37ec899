#include "base/threads/CoThreadPthread.h"

#include <errno.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "base/env/EnvVar.h"
#include "base/env/EnvVarRegistry.h"
#include "base/loggerBase/CoMsg.h"
#include "base/osal/CoEffectiveUserChanger.h"
#include "base/threads/CoLockGuard.h"
#include "base/threads/CoThreadMgr.h"
#include "base/threads/CoThreadMgrPthread.h"
#include "base/threads/TLS.h"

namespace Corvane {

namespace {

// Stack of a new thread in pages; 0 or less means the default.
EnvVar<int> gStackSizeVar("XQ_PTHREAD_STACK_SIZE", 0);
RegEnvVar<int> gStackSizeReg(__FILE__, gStackSizeVar);
EnvVar<bool> gDisableStackSizeVar("XQ_DISABLE_STACK_SIZE_SETTING", false);
RegEnvVar<bool> gDisableStackSizeReg(__FILE__, gDisableStackSizeVar);
EnvVar<bool> gThreadDebugVar("XQ_THREAD_DEBUG", false);
RegEnvVar<bool> gThreadDebugReg(__FILE__, gThreadDebugVar);

constexpr long kDefaultStackPages = 256;
// How long a task asked to stop may take to end before it is cancelled.
// A task that honours stop() ends within microseconds; this only delays the
// exit of a process that left a thread running which ignores it.
constexpr int kStopGraceMs = 500;

bool debugOn() { return gThreadDebugVar.getValue(); }

long idText(pthread_t id) { return static_cast<long>(id); }

[[noreturn]] void fatal(const char* fmt, int err) {
    CO_ERROR(fmt, std::strerror(err));
    std::abort();
}

// Native values to the library's: the level is the index of the native
// priority in the policy's table.
void convertFromSchedParams(int nativePolicy, int nativePriority, CoThread::PolicyType* policy,
                            CoThread::PriorityType* level) {
    *policy = nativePolicy == SCHED_RR ? CoThread::POLICY_RR : CoThread::POLICY_TS;
    *level = CoThread::PRIORITY_MIN;
    if (nativePriority == 0) {
        if (debugOn())
            CO_DEBUG("convertFromSchedParams got prio 0.  Assuming PRORITY_MIN\n");
        return;
    }
    const CoThreadMgr& mgr = CoThreadMgr::instance();
    int i = 0;
    while (i < CoThread::NUM_PRIO_LEVELS && mgr.nativePriority(*policy, i) != nativePriority)
        ++i;
    assert(i < CoThread::NUM_PRIO_LEVELS && "i < NUM_PRIO_LEVELS");
    if (i < CoThread::NUM_PRIO_LEVELS)
        *level = static_cast<CoThread::PriorityType>(i);
}

}  // namespace

CoThreadPthread::CoThreadPthread(CoThreadMgr& mgr, CoTask* task, const char* name, ThreadType type, PolicyType policy,
                                 PriorityType level, int cpu, bool quiet)
    : CoThread(task, name, type, policy, level, cpu),
      mgr_(mgr),
      lock_(1),
      state_(kCreated),
      threadId_(),
      quiet_(quiet) {
    if (debugOn())
        CO_DEBUG("Creating thread '%s' with inherited policy %s, prio %d, cpu %d\n", name_.c_str(), policyName(policy),
                 mgr_.nativePriority(policy, level), cpu);
    if (type == MAIN_THREAD) {
        state_.store(kRunning);
        threadId_.store(CoThreadMgrPthread::initialThreadId());
    } else {
        const int pages = gStackSizeVar.getValue();
        stackSizeBytes_ =
            static_cast<size_t>(sysconf(_SC_PAGESIZE)) * static_cast<size_t>(pages > 0 ? pages : kDefaultStackPages);
        assert(stackSizeBytes_ > 0 && "_stackSize > 0");
    }
    mgr_.addThread(this);
}

CoThreadPthread::~CoThreadPthread() {
    // An owner that forgot to wait must not leave a thread running on a
    // freed object.
    if (type_ == NEW_THREAD && isStartedNoLock() && !pthread_equal(threadId_.load(), pthread_self()))
        stopOrCancel();
    mgr_.removeThread(this);
    if (TLS<kThreadSlot>::get() == this)
        TLS<kThreadSlot>::set(nullptr);
}

void CoThreadPthread::start() {
    assert(type_ != MAIN_THREAD && "type != MAIN_THREAD");
    CoLockGuard guard(lock_);
    assert(!isRunningNoLock() && "!isRunningNoLock()");

    pthread_attr_t attr;
    int err = pthread_attr_init(&attr);
    if (err != 0)
        fatal("Error initialising pthread attributes: %s", err);
    const bool setStack = !gDisableStackSizeVar.getValue();
    if (setStack && (err = pthread_attr_setstacksize(&attr, stackSizeBytes_)) != 0)
        fatal("Error setting stack size of pthread: %s", err);
    const int detach = type_ == DETACHED_THREAD ? PTHREAD_CREATE_DETACHED : PTHREAD_CREATE_JOINABLE;
    if ((err = pthread_attr_setdetachstate(&attr, detach)) != 0)
        fatal("Error setting detach state of pthread: %s", err);
    if ((err = pthread_attr_setinheritsched(&attr, PTHREAD_INHERIT_SCHED)) != 0)
        fatal("Error setting scheduling inheritance of pthread: %s", err);
    if ((err = pthread_attr_setscope(&attr, PTHREAD_SCOPE_SYSTEM)) != 0)
        fatal("Error setting scope of pthread: %s", err);

    pthread_t id;
    err = pthread_create(&id, &attr, &CoThreadPthread::entry, this);
    pthread_attr_destroy(&attr);
    if (err != 0)
        fatal("Error creating pthread: %s", err);
    threadId_.store(id);
    state_.store(kRunning);
    // Still under the lock: a detached thread may delete itself as soon as
    // the lock is released.
    if (setStack && debugOn())
        CO_DEBUG("Thread %ld (%s): stack size set to %d\n", idText(id), name_.c_str(),
                 static_cast<int>(stackSizeBytes_));
}

void* CoThreadPthread::entry(void* self) {
    static_cast<CoThreadPthread*>(self)->runOnThread();
    return nullptr;
}

void CoThreadPthread::runOnThread() {
    int old = 0;
    // Off while this code holds a lock or posts: a cancel landing there
    // would leave the lock (or the output stream's) held for good.
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old);
    const int err = pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, &old);
    if (err != 0)
        fatal("Error making pthread cancellable: %s", err);
    TLS<kThreadSlot>::set(this);
    {
        // Waits until start() has recorded the identifier and the state.
        CoLockGuard guard(lock_);
    }
    const bool announce = !quiet_ && (debugOn() || name_.find("Job Exec") == std::string::npos);
    if (announce)
        CO_NOTICE("Registered thread '%s' [ %ld ]", name_.c_str(), idText(pthread_self()));

    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &old);
    task_->run(*this);
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old);

    if (debugOn())
        CO_DEBUG("Finished running thread '%s'", name_.c_str());
    {
        CoLockGuard guard(lock_);
        state_.store(kFinished);
    }
    if (type_ == DETACHED_THREAD) {
        // Nobody else owns a detached thread's object.
        delete this;
        return;
    }
    mgr_.removeThread(this);
}

void CoThreadPthread::stop() {
    assert(type_ != MAIN_THREAD && "type != MAIN_THREAD");
    CoLockGuard guard(lock_);
    if (!task_)
        return;
    lock_.release();
    task_->stop(*this);
    lock_.get();
}

void CoThreadPthread::wait() {
    assert(type_ == NEW_THREAD && "type == NEW_THREAD");
    CoLockGuard guard(lock_);
    if (!isStartedNoLock())
        return;
    lock_.release();
    const int err = pthread_join(threadId_.load(), nullptr);
    lock_.get();
    if (err != 0)
        fatal("Error joining pthread: %s", err);
    state_.store(kJoined);
}

int CoThreadPthread::cancel() {
    CoLockGuard guard(lock_);
    const pthread_t id = threadId_.load();
    if (debugOn())
        CO_DEBUG("Stopping thread '%s' [ %ld ]", name_.c_str(), idText(id));
    mgr_.removeThread(this);
    if (type_ != NEW_THREAD || !isStartedNoLock())
        return 0;
    const int err = pthread_cancel(id);
    // A thread that has already ended is joined all the same.
    if (err != 0 && err != ESRCH) {
        CO_DEBUG("Unable to cancel thread '%s' [ %ld ]", name_.c_str(), idText(id));
        return err;
    }
    lock_.release();
    const int joinErr = pthread_join(id, nullptr);
    lock_.get();
    if (joinErr != 0)
        fatal("Error joining pthread: %s", joinErr);
    state_.store(kJoined);
    return 0;
}

int CoThreadPthread::stopOrCancel() {
    if (type_ == NEW_THREAD) {
        if (isRunning())
            stop();
        joinWithin(kStopGraceMs);
    }
    return cancel();  // after a join it only takes the thread off the list
}

bool CoThreadPthread::joinWithin(int timeoutMs) {
    CoLockGuard guard(lock_);
    if (!isStartedNoLock())
        return true;
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);  // the clock pthread_timedjoin_np uses
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        ++deadline.tv_sec;
        deadline.tv_nsec -= 1000000000L;
    }
    lock_.release();
    const int err = pthread_timedjoin_np(threadId_.load(), nullptr, &deadline);
    lock_.get();
    if (err != 0)
        return false;
    state_.store(kJoined);
    return true;
}

int CoThreadPthread::setScheduling(PriorityType level, PolicyType policy) {
    if (!isRunning()) {
        CO_WARNING("Cannot set scheduling of thread.");
        return -1;
    }
    sched_param param{};
    param.sched_priority = mgr_.nativePriority(policy, level);
    int nativePolicy = SCHED_OTHER;
    // Real-time scheduling needs root; it is held for this call only.
    std::optional<CoEffectiveUserChanger> root;
    if (policy == POLICY_RR) {
        nativePolicy = SCHED_RR;
        root.emplace(CoEffectiveUserChanger::Target::Root);
    }
    const pthread_t id = threadId_.load();
    if (debugOn())
        CO_DEBUG("Thread %ld (%s): setting policy/priority to %d/%d\n", idText(id), name_.c_str(), nativePolicy,
                 param.sched_priority);
    const int err = pthread_setschedparam(id, nativePolicy, &param);
    if (err == EPERM) {
        CO_WARNING("Unable to set thread policy: %s", std::strerror(err));
        return 1;
    }
    if (err != 0) {
        CO_ERROR("Unable to set thread policy: %s", std::strerror(err));
        return err;
    }
    level_.store(level);
    policy_.store(policy);
    return 0;
}

int CoThreadPthread::getScheduling(ThreadId id, PolicyType* policy, PriorityType* level) {
    int nativePolicy = SCHED_OTHER;
    sched_param param{};
    int err = 0;
    if (pthread_equal(id, CoThreadMgrPthread::initialThreadId())) {
        // The initial thread's kernel id is the process id.
        nativePolicy = sched_getscheduler(getpid());
        if (nativePolicy < 0 || sched_getparam(getpid(), &param) != 0)
            err = errno;
    } else {
        err = pthread_getschedparam(id, &nativePolicy, &param);
    }
    if (err == EPERM) {
        CO_WARNING("Unable to get thread policy: %s", std::strerror(err));
        return 1;
    }
    if (err != 0) {
        CO_ERROR("Unable to get thread policy: %s", std::strerror(err));
        return err;
    }
    if (debugOn())
        CO_DEBUG("Thread %ld: got policy/prio to %d/%d\n", idText(id), nativePolicy, param.sched_priority);
    convertFromSchedParams(nativePolicy, param.sched_priority, policy, level);
    return 0;
}

}  // namespace Corvane
