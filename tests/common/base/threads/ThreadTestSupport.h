// Test helpers for thread tests: a task that runs until it is released (or
// asked to stop) and one that blocks until it is cancelled; a router for
// death tests.
#pragma once

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <utility>

#include "base/loggerBase/CoMsg.h"
#include "base/threads/CoTask.h"
#include "base/threads/CoThread.h"
#include "support/Gate.h"

namespace CorvaneTest {

// Runs until released (or asked to stop), recording what it saw of its own
// thread; calls onReturn when its run returns.
class GateTask : public Corvane::CoTask {
public:
    explicit GateTask(std::function<void()> onReturn = [] {}) : onReturn_(std::move(onReturn)) {}
    void run(Corvane::CoThread& thread) override {
        self = &thread;
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            pthread_attr_getstacksize(&attr, &stackSizeBytes);
            pthread_attr_destroy(&attr);
        }
        started.open();
        release.wait();
        onReturn_();
    }
    void stop(Corvane::CoThread&) override { release.open(); }

    Gate started;
    Gate release;
    Corvane::CoThread* self = nullptr;  // written before started opens
    size_t stackSizeBytes = 0;

private:
    std::function<void()> onReturn_;
};

// What a BlockingTask reports; owned by the test, so that it outlives the
// task. Closing the write end lets the task return if a cancel fails.
struct BlockingProbe {
    BlockingProbe() {
        if (pipe(fds) != 0)
            fds[0] = fds[1] = -1;
    }
    ~BlockingProbe() {
        for (int fd : {fds[1], fds[0]})  // the writer first: a reader still blocked returns
            if (fd >= 0)
                close(fd);
    }

    // Atomics, not a Gate: the task's only cancellation point must be its
    // read(), never a noexcept library call such as a condition-variable wait.
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

// Messages to standard error, where a death test looks; kept for the exit
// handlers, so install a static one.
class StderrRouter : public Corvane::CoMsg::Router {
public:
    void route(const Corvane::CoMsg::Record& record) override { std::fprintf(stderr, "%s\n", record.text); }
};

}  // namespace CorvaneTest
