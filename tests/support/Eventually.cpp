#include "support/Eventually.h"

#include <chrono>
#include <thread>

namespace CorvaneTest {

bool eventually(const std::function<bool()>& pred, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // paces the polling; orders nothing
    }
    return true;
}

}  // namespace CorvaneTest
