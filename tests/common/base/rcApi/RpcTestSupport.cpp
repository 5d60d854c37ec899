#include "RpcTestSupport.h"

#include <poll.h>
#include <sys/socket.h>

#include <chrono>

namespace CorvaneTest {

std::string RawConn::readLine(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p = {fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0) <= 0) {
            if (left.count() <= 0)
                return "<timeout>";
            continue;
        }
        char buf[65536];
        const ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
        if (n <= 0)
            return "<closed>";
        pending_.append(buf, static_cast<size_t>(n));
    }
}

void FakeServer::serve(std::function<void(RawConn&)> script) {
    join();
    thread_ = std::thread([this, script] {
        RawConn conn(listener_.accept(10000));
        if (conn.fd() >= 0)
            script(conn);  // when nobody came, the test fails on its own
    });
}

void FakeServer::join() {
    if (thread_.joinable())
        thread_.join();
}

}  // namespace CorvaneTest
