// Runs a server context's dispatch passes on a thread of its own until
// destroyed. Header-only, so that the client tests, which build none of the
// rpc tests' sources, serve their scripted servers with it too.
#pragma once

#include <atomic>
#include <thread>

#include "base/rcApi/rcServerContext.h"

namespace CorvaneTest {

class ServerThread {
public:
    explicit ServerThread(Corvane::rcServerContext& ctx)
        : ctx_(ctx), thread_([this] {
              while (!stop_.load())
                  ctx_.appContext().callIOHandler(-1);
          }) {}
    // Waits for the pass in progress, and so for any method it runs.
    ~ServerThread() {
        stop_.store(true);
        ctx_.appContext().cancel();
        thread_.join();
    }
    ServerThread(const ServerThread&) = delete;
    ServerThread& operator=(const ServerThread&) = delete;

private:
    Corvane::rcServerContext& ctx_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace CorvaneTest
