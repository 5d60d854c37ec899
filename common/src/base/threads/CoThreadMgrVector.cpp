#include "base/threads/CoThreadMgrVector.h"

#include <pthread.h>

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>

#include "base/loggerBase/CoMsg.h"
#include "base/threads/CoLockGuard.h"

namespace Corvane {

CoThread* CoThreadMgrVector::findThread(CoThread::ThreadId id) {
    CoLockGuard guard(listMutex_);
    for (CoThread* thread : threads_)
        if (pthread_equal(thread->getThreadId(), id))
            return thread;
    return nullptr;
}

CoThread* CoThreadMgrVector::findThread(const char* name) {
    if (!name)
        return nullptr;
    CoLockGuard guard(listMutex_);
    for (CoThread* thread : threads_)
        if (thread->getName() == name)
            return thread;
    return nullptr;
}

void CoThreadMgrVector::addThread(CoThread* thread) {
    CoLockGuard guard(listMutex_);
    const bool listed = std::find(threads_.begin(), threads_.end(), thread) != threads_.end();
    assert(!listed && "Cannot add thread that is already there!");
    if (!listed)
        threads_.push_back(thread);
}

void CoThreadMgrVector::removeThread(CoThread* thread) {
    CoLockGuard guard(listMutex_);
    auto it = std::find(threads_.begin(), threads_.end(), thread);
    if (it != threads_.end())
        threads_.erase(it);
}

void CoThreadMgrVector::uninitialise() {
    CO_NOTICE("Uninitialising thread manager.");
    for (;;) {
        CoThread* thread = nullptr;
        {
            CoLockGuard guard(listMutex_);
            if (threads_.empty())
                break;
            thread = threads_.back();
            threads_.pop_back();
        }
        const bool alive = thread->isRunning() || thread->isFinished();
        if (thread->getType() == CoThread::NEW_THREAD && alive) {
            CO_WARNING("Thread id = %i named=%s was not stopped by its owner.", static_cast<int>(thread->getThreadId()),
                       thread->getName().c_str());
            thread->stopOrCancel();
        }
        // A detached thread still running deletes itself when its task
        // returns; every other object left on the list is the manager's now.
        if (thread->getType() == CoThread::DETACHED_THREAD && thread->isRunning())
            continue;
        delete thread;
    }
    CO_DEBUG("Thread manager uninitialized");
}

void CoThreadMgrVector::dump(std::ostream& out) {
    std::vector<std::string> lines;
    {
        CoLockGuard guard(listMutex_);
        for (const CoThread* thread : threads_) {
            char line[512];
            std::snprintf(line, sizeof line, "Thread Dump: %s ( %i ) ", thread->getName().c_str(),
                          static_cast<int>(thread->getThreadId()));
            lines.push_back(line);
        }
    }
    for (const std::string& line : lines)
        out << line << "\n";
}

}  // namespace Corvane
