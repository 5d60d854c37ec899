// Round trips per second of one synchronous call over loopback: rcAPI
// against an rcServerContext (a short argument, a 200-byte reply), and the
// same exchange between a minimal raw-socket client and server, which is
// the floor any RPC layer over one TCP connection can reach.
//
// Run: ./build/bin/RpcRoundTripBench --benchmark_min_time=2
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcAPI.h"
#include "base/rcApi/rcServerContext.h"

namespace {

constexpr int kCallTimeoutMs = 5000;
constexpr size_t kReplyBytes = 200;
const char kArgument[] = "node-1234 stream";

const Corvane::rcParam::Decl kOneText[] = {{&Corvane::rcParamString::TYPE, "text"}, {nullptr, nullptr}};

bool replyCB(void*, const Corvane::rcMethod&, const Corvane::rcParam::Array&, Corvane::rcParam& result) {
    static const std::string reply(kReplyBytes, 'r');
    result.fromString(reply);
    return true;
}

void BM_RpcCall(benchmark::State& state) {
    Corvane::CoMsg::setLevel(Corvane::CoMsg::error);
    Corvane::rcServerContext server(-1);
    server.registerMethod(Corvane::rcMethod(nullptr, "Reply", &replyCB, &Corvane::rcParamString::TYPE, kOneText));
    std::atomic<bool> stop{false};
    std::thread serving([&] {
        while (!stop.load())
            server.appContext().callIOHandler(-1);
    });
    Corvane::rcAPI api;
    if (!api.connect("127.0.0.1", server.getPort(), kCallTimeoutMs)) {
        state.SkipWithError(("connect: " + api.lastError()).c_str());
    } else {
        std::string result;
        for (auto _ : state) {
            if (!api.call(0, "Reply", kArgument, true, result, kCallTimeoutMs)) {
                state.SkipWithError(("call: " + result).c_str());
                break;
            }
        }
        if (result.size() != kReplyBytes)
            state.SkipWithError("short reply");
    }
    api.disconnect();
    stop.store(true);
    server.appContext().cancel();
    serving.join();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RpcCall)->UseRealTime();

// ---- the floor: blocking sockets, one write and one read per message.

void noDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Reads until a newline; false at end of stream.
bool readLine(int fd, char* buf, size_t size, std::string* carry) {
    for (;;) {
        const size_t nl = carry->find('\n');
        if (nl != std::string::npos) {
            carry->erase(0, nl + 1);
            return true;
        }
        const ssize_t n = ::recv(fd, buf, size, 0);
        if (n <= 0)
            return false;
        carry->append(buf, static_cast<size_t>(n));
    }
}

bool writeAll(int fd, const std::string& text) {
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

void BM_RawRoundTrip(benchmark::State& state) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        state.SkipWithError("listen");
        ::close(listener);
        return;
    }
    std::thread serving([listener] {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        noDelay(fd);
        const std::string reply = "ok " + std::string(kReplyBytes, 'r') + "\n";
        char buf[32768];
        std::string carry;
        while (readLine(fd, buf, sizeof buf, &carry) && writeAll(fd, reply)) {
        }
        ::close(fd);
    });
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        state.SkipWithError("connect");
    } else {
        noDelay(fd);
        const std::string command = std::string("sync 0 Reply ") + kArgument + "\n";
        char buf[32768];
        std::string carry;
        for (auto _ : state) {
            if (!writeAll(fd, command) || !readLine(fd, buf, sizeof buf, &carry)) {
                state.SkipWithError("exchange");
                break;
            }
        }
    }
    ::close(fd);
    serving.join();
    ::close(listener);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawRoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
