// Test helpers for thread tests: a task that runs until it is released and
// one that blocks until it is cancelled.
#pragma once

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>

#include "base/threads/CoTask.h"
#include "base/threads/CoThread.h"
#include "support/Gate.h"

namespace CorvaneTest {

// Runs until released (or asked to stop), recording what it saw of its
// own thread.
class GateTask : public Corvane::CoTask {
public:
    void run(Corvane::CoThread& thread) override {
        self = &thread;
        id = pthread_self();
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            pthread_attr_getstacksize(&attr, &stackSizeBytes);
            pthread_attr_destroy(&attr);
        }
        started.open();
        release.wait();
    }
    void stop(Corvane::CoThread&) override {
        stopCalled = true;
        release.open();
    }

    Gate started;
    Gate release;
    std::atomic<bool> stopCalled{false};
    Corvane::CoThread* self = nullptr;  // written before started opens
    pthread_t id{};
    size_t stackSizeBytes = 0;
};

// What a BlockingTask reports; owned by the test, so that it outlives the
// task. Closing the write end lets the task return if a cancel fails.
struct BlockingProbe {
    BlockingProbe() {
        if (pipe(fds) != 0)
            fds[0] = fds[1] = -1;
    }
    ~BlockingProbe() {
        closeWriteEnd();
        if (fds[0] >= 0)
            close(fds[0]);
    }
    void closeWriteEnd() {
        if (fds[1] >= 0)
            close(fds[1]);
        fds[1] = -1;
    }

    // An atomic, not a Gate: the cancel is asynchronous and must not land
    // inside a noexcept library call such as a condition-variable notify.
    std::atomic<bool> started{false};
    std::atomic<bool> unwound{false};   // its stack was unwound (cancelled or returned)
    std::atomic<bool> returned{false};  // run() returned normally
    int fds[2];
};

// Blocks in read() until cancelled.
class BlockingTask : public Corvane::CoTask {
public:
    explicit BlockingTask(BlockingProbe& probe) : probe_(probe) {}

    void run(Corvane::CoThread&) override {
        struct Unwound {
            std::atomic<bool>* flag;
            ~Unwound() { flag->store(true); }
        } unwound{&probe_.unwound};
        probe_.started = true;
        char byte;
        while (read(probe_.fds[0], &byte, 1) > 0) {
        }
        probe_.returned = true;
    }

private:
    BlockingProbe& probe_;
};

}  // namespace CorvaneTest
