// A one-shot latch for ordering test threads without sleeps: once opened it
// stays open. Every wait gives up after a hang guard. Thread-safe.
#pragma once

#include <condition_variable>
#include <mutex>

namespace CorvaneTest {

class Gate {
public:
    void open();
    // False when not opened within timeoutMs (a hang, never a measurement).
    bool wait(int timeoutMs = 10000);

private:
    std::mutex mutex_;  // guards open_
    std::condition_variable cv_;
    bool open_ = false;
};

}  // namespace CorvaneTest
