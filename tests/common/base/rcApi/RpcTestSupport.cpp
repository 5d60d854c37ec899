#include "RpcTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace CorvaneTest {

ServerThread::ServerThread(Corvane::rcServerContext& ctx)
    : ctx_(ctx), thread_([this] {
          while (!stop_.load())
              ctx_.appContext().callIOHandler(-1);
      }) {}

ServerThread::~ServerThread() {
    stop_.store(true);
    ctx_.appContext().cancel();
    thread_.join();
}

RawConn::~RawConn() { close(); }

int RawConn::connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

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
        pollfd p = {fd_, POLLIN, 0};
        if (::poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0) <= 0) {
            if (left.count() <= 0)
                return "<timeout>";
            continue;
        }
        char buf[65536];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return "<closed>";
        pending_.append(buf, static_cast<size_t>(n));
    }
}

bool RawConn::send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

void RawConn::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

FakeServer::FakeServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 4) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return;
    port_ = ntohs(addr.sin_port);
}

FakeServer::~FakeServer() {
    join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

void FakeServer::serve(std::function<void(RawConn&)> script) {
    join();
    thread_ = std::thread([this, script] {
        pollfd p = {listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0)
            return;  // nobody came: the test fails on its own
        RawConn conn(::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC));
        if (conn.fd() >= 0)
            script(conn);
    });
}

void FakeServer::join() {
    if (thread_.joinable())
        thread_.join();
}

}  // namespace CorvaneTest
