#include "support/LoopbackListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace CorvaneTest {

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

socklen_t loopbackAddress(bool ipv6, int port, sockaddr_storage* out) {
    std::memset(out, 0, sizeof *out);
    if (ipv6) {
        auto* addr = reinterpret_cast<sockaddr_in6*>(out);
        addr->sin6_family = AF_INET6;
        addr->sin6_addr = in6addr_loopback;
        addr->sin6_port = htons(static_cast<uint16_t>(port));
        return sizeof *addr;
    }
    auto* addr = reinterpret_cast<sockaddr_in*>(out);
    addr->sin_family = AF_INET;
    addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr->sin_port = htons(static_cast<uint16_t>(port));
    return sizeof *addr;
}

int boundPort(int fd) {
    sockaddr_storage addr;
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return -1;
    if (addr.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

// Binds *port (0: any) and puts the port bound there.
ScopedFd boundSocket(bool ipv6, int* port, bool reuseAddress = false) {
    ScopedFd fd(::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return fd;
    const int on = 1;
    if (reuseAddress && ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return ScopedFd();
    sockaddr_storage addr;
    const socklen_t len = loopbackAddress(ipv6, *port, &addr);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), len) != 0)
        return ScopedFd();
    *port = boundPort(fd.get());
    return fd;
}

ScopedFd acceptWithin(int listenFd, int timeoutMs) {
    pollfd pfd = {listenFd, POLLIN, 0};
    if (::poll(&pfd, 1, timeoutMs) != 1)
        return ScopedFd();
    return ScopedFd(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC));
}

}  // namespace

ScopedFd& ScopedFd::operator=(ScopedFd&& other) noexcept {
    if (this != &other)
        reset(other.release());
    return *this;
}

int ScopedFd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void ScopedFd::reset(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

LoopbackListener::LoopbackListener(int backlog, bool ipv6) {
    port_ = 0;
    fd_ = boundSocket(ipv6, &port_);
    if (!fd_.valid() || ::listen(fd_.get(), backlog) != 0)
        throw std::runtime_error(std::string("loopback listener: ") + std::strerror(errno));
}

LocalListener::LocalListener(const std::string& path, int backlog) : path_(path) {
    sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        throw std::runtime_error("socket file path too long: " + path);
    std::memcpy(addr.sun_path, path.data(), path.size());
    fd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd_.valid() || ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd_.get(), backlog) != 0)
        throw std::runtime_error("local listener on " + path + ": " + std::strerror(errno));
}

LocalListener::~LocalListener() { ::unlink(path_.c_str()); }

ScopedFd LocalListener::accept(int timeoutMs) const { return acceptWithin(fd_.get(), timeoutMs); }

ScopedFd LoopbackListener::accept(int timeoutMs) const { return acceptWithin(fd_.get(), timeoutMs); }

ScopedFd connectLoopback(int port, bool ipv6) {
    ScopedFd fd(::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return fd;
    sockaddr_storage addr;
    const socklen_t len = loopbackAddress(ipv6, port, &addr);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), len) != 0)
        return ScopedFd();
    return fd;
}

ScopedFd connectLocal(const std::string& path) {
    sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    ScopedFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid() || path.size() >= sizeof addr.sun_path)
        return ScopedFd();
    std::memcpy(addr.sun_path, path.data(), path.size());
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return ScopedFd();
    return fd;
}

ScopedFd bindWithoutListening(int* port, bool ipv6) {
    *port = 0;
    return boundSocket(ipv6, port);
}

ScopedFd holdLoopbackPort(int port) { return boundSocket(false, &port, true); }

bool ipv6LoopbackAvailable() {
    int port = 0;
    return boundSocket(true, &port).valid();
}

std::vector<ScopedFd> stallListener(int port) {
    std::vector<ScopedFd> pending;
    for (int i = 0; i < 32; ++i) {
        ScopedFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        sockaddr_storage addr;
        const socklen_t len = loopbackAddress(false, port, &addr);
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), len) != 0 && errno != EINPROGRESS)
            break;
        pollfd pfd = {fd.get(), POLLOUT, 0};
        const bool stalled = ::poll(&pfd, 1, 300) == 0;
        pending.push_back(std::move(fd));
        if (stalled)
            return pending;
    }
    return {};
}

bool sendAll(int fd, const std::string& bytes, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t sent = 0;
    while (sent < bytes.size()) {
        pollfd pfd = {fd, POLLOUT, 0};
        if (::poll(&pfd, 1, msLeft(deadline)) != 1)
            return false;
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (n > 0)
            sent += static_cast<size_t>(n);
    }
    return true;
}

std::string recvUpTo(int fd, size_t n, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string out;
    char buf[4096];
    while (out.size() < n) {
        pollfd pfd = {fd, POLLIN, 0};
        if (::poll(&pfd, 1, msLeft(deadline)) != 1)
            break;
        const size_t want = n - out.size() < sizeof buf ? n - out.size() : sizeof buf;
        const ssize_t got = ::recv(fd, buf, want, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
            break;
        if (got > 0)
            out.append(buf, static_cast<size_t>(got));
    }
    return out;
}

bool recvLine(int fd, std::string* line, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    line->clear();
    for (;;) {
        const int leftMs = msLeft(deadline);
        if (leftMs == 0)
            return false;
        const std::string c = recvUpTo(fd, 1, leftMs);
        if (c.empty())
            return false;
        if (c[0] == '\n')
            return true;
        *line += c;
    }
}

}  // namespace CorvaneTest
