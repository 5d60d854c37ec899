// A plain (not recursive) mutex over a heap-allocated POSIX mutex. Only the
// thread that locked it may unlock it; see CoLock for a lock that any thread
// may release. Thread-safe by nature; failures of the POSIX calls stop the
// process.
#pragma once

#include <pthread.h>

#include <memory>

namespace Corvane {

class CoMutex {
public:
    CoMutex();
    virtual ~CoMutex();
    CoMutex(const CoMutex&) = delete;
    CoMutex& operator=(const CoMutex&) = delete;

    virtual void lock();
    // True when the mutex was free and is now held.
    virtual bool tryLock();
    virtual void unlock();

private:
    std::unique_ptr<pthread_mutex_t> mutex_;
};

}  // namespace Corvane
