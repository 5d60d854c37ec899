// A counting lock over an unnamed POSIX semaphore. Created with count 1 it
// is a mutex that any thread may release, which lets one thread take a
// lock and another hand it back. Thread-safe; failures of the POSIX calls
// stop the process.
#pragma once

#include <semaphore.h>

namespace Corvane {

class CoLock {
public:
    explicit CoLock(unsigned int count);
    virtual ~CoLock();
    CoLock(const CoLock&) = delete;
    CoLock& operator=(const CoLock&) = delete;

    // Waits for a unit and takes it.
    virtual void get();
    // True when a unit was free and is now taken.
    virtual bool tryGet();
    // Gives one unit back; any thread may do so.
    virtual void release();

    // The current count; stale as soon as it is returned.
    int valueSnapshot();

private:
    sem_t sem_;
};

}  // namespace Corvane
