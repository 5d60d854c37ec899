#include "SimpleThread.h"

#include <cassert>
#include <cerrno>

SimpleThread::~SimpleThread() { assert(!started_ && "SimpleThread destroyed without join()"); }

bool SimpleThread::start() {
    if (started_)
        return false;
    errno = 0;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setinheritsched(&attr, PTHREAD_INHERIT_SCHED);
    // Set before the thread exists, so that an owner polling the flag can
    // never see it clear while the thread is still about to run.
    running_.store(true);
    started_ = pthread_create(&thread_, &attr, &SimpleThread::Execute, this) == 0;
    pthread_attr_destroy(&attr);
    if (!started_)
        running_.store(false);
    return started_;
}

void SimpleThread::join() {
    if (!started_)
        return;
    pthread_join(thread_, nullptr);
    started_ = false;
}

void* SimpleThread::Execute(void* self) {
    SimpleThread* thread = static_cast<SimpleThread*>(self);
    thread->run();
    thread->finish();
    thread->running_.store(false);
    return nullptr;
}
