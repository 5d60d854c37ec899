// Waits for a condition another thread or the kernel brings about, where
// there is nothing to block on (a flag, a queue length). The time limit only
// guards against hangs.
#pragma once

#include <functional>

namespace CorvaneTest {

// Polls pred until it holds; false when it still does not after timeoutMs.
bool eventually(const std::function<bool()>& pred, int timeoutMs = 10000);

}  // namespace CorvaneTest
