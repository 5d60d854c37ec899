// Internal to the gateway.
// A minimal thread object: run() on one thread started by start(), with a
// running flag the owner can poll. The owner calls join() before it is
// destroyed; a derived class's destructor must stop run() and join first.
#pragma once

#include <pthread.h>

#include <atomic>

class SimpleThread {
public:
    SimpleThread() = default;
    virtual ~SimpleThread();
    SimpleThread(const SimpleThread&) = delete;
    SimpleThread& operator=(const SimpleThread&) = delete;

    virtual void run() = 0;
    virtual void finish() {}
    // False when a thread is already held or the thread can not be created.
    virtual bool start();
    virtual bool isRunning() const { return running_.load(); }
    // Waits for the thread started by start(), if any.
    void join();

private:
    static void* Execute(void* self);

    pthread_t thread_{};
    bool started_ = false;
    std::atomic<bool> running_{false};
};
