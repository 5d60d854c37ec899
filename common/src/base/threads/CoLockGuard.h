// Scoped holder of a CoMutex or a CoLock: takes it in the constructor and
// gives it back in the destructor. Code that must drop the lock for a while
// inside the scope unlocks and relocks through the lock itself. Always name
// the guard: an unnamed one unlocks at the end of its statement.
#pragma once

#include "base/threads/CoLock.h"
#include "base/threads/CoMutex.h"

namespace Corvane {

class CoLockGuard {
public:
    explicit CoLockGuard(CoMutex& mutex) : mutex_(&mutex), lock_(nullptr) { mutex_->lock(); }
    explicit CoLockGuard(CoLock& lock) : mutex_(nullptr), lock_(&lock) { lock_->get(); }
    ~CoLockGuard() {
        if (mutex_)
            mutex_->unlock();
        else
            lock_->release();
    }
    CoLockGuard(const CoLockGuard&) = delete;
    CoLockGuard& operator=(const CoLockGuard&) = delete;

private:
    CoMutex* mutex_;
    CoLock* lock_;
};

}  // namespace Corvane
