#include "support/Gate.h"

#include <chrono>

namespace CorvaneTest {

void Gate::open() {
    std::lock_guard<std::mutex> guard(mutex_);
    open_ = true;
    cv_.notify_all();
}

bool Gate::wait(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return open_; });
}

}  // namespace CorvaneTest
