// Node event latency: from the moment a corvane-sim changes a node (the
// "Time" its event carries, on the monotonic clock both processes share)
// to the moment the registered handler is called, beside the round trip of
// one byte between two threads over loopback TCP, the floor for any
// exchange over a socket. The change is asked for by an asynchronous call
// on a connection of its own: a reply to it would race the event for the
// two cores, and is no part of delivering events.
//
// Run: bench/frames_events.sh (a private network namespace), or
//      scripts/private-network.sh build/bin/EventBench
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

#include "BenchSim.h"
#include "base/rcApi/rcAPI.h"
#include "client/api/CorvaneInit.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneServerHandle.h"

namespace {

int64_t monotonicUs() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// Remembers how long the last event took to arrive.
class Timer : public CorvaneNodeEvent::Handler {
public:
    void handleEvent(const CorvaneNodeEvent& event) override {
        const int64_t now = monotonicUs();
        CorvaneStr time;
        event.getDetails().getStringAttribute("Time", time);
        std::lock_guard<std::mutex> guard(mutex_);
        latencyUs_ = now - std::atoll(time.c_str());
        arrived_ = true;
        cv_.notify_one();
    }
    // The latency of the next event; -1 when none came within a second.
    int64_t next() {
        std::unique_lock<std::mutex> lock(mutex_);
        const bool came = cv_.wait_for(lock, std::chrono::seconds(1), [this] { return arrived_; });
        arrived_ = false;
        return came ? latencyUs_ : -1;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool arrived_ = false;
    int64_t latencyUs_ = 0;
};

void BM_EventLatency(benchmark::State& state) {
    CorvaneBench::ScratchDir dir;
    CorvaneInitGuard init;
    CorvaneBench::BenchSim sim(CorvaneBench::writeTree(dir), {});
    CorvaneServerHandle server(sim.host().c_str());
    Timer timer;
    if (!server.registerEventHandler("/media", &timer)) {
        state.SkipWithError(server.lastError());
        return;
    }
    const std::string host = sim.host();
    Corvane::rcAPI trigger;
    if (!trigger.connect("127.0.0.1", std::atoi(host.c_str() + host.rfind(':') + 1), 5000)) {
        state.SkipWithError(trigger.lastError().c_str());
        return;
    }
    std::string result;
    for (auto _ : state) {
        int64_t latency = -1;
        if (trigger.call(0, "SetMetaData", "/media/clip notes \"x\"", false, result, 5000))
            latency = timer.next();
        if (latency < 0) {
            state.SkipWithError("no event");
            break;
        }
        state.SetIterationTime(static_cast<double>(latency) / 1e6);
    }
    server.unregisterEventHandler("/media", &timer);
}

void BM_RawRoundTrip(benchmark::State& state) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    const int server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::thread echo([server] {
        char c = 0;
        while (::recv(server, &c, 1, 0) == 1 && ::send(server, &c, 1, MSG_NOSIGNAL) == 1) {
        }
    });
    char c = 'p';
    for (auto _ : state) {
        if (::send(client, &c, 1, MSG_NOSIGNAL) != 1 || ::recv(client, &c, 1, 0) != 1) {
            state.SkipWithError("round trip failed");
            break;
        }
    }
    ::shutdown(client, SHUT_RDWR);
    echo.join();
    ::close(client);
    ::close(server);
    ::close(listener);
}

}  // namespace

BENCHMARK(BM_RawRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_EventLatency)->Unit(benchmark::kMicrosecond)->UseManualTime()->MinTime(2);

BENCHMARK_MAIN();
