// Raw loopback sockets for tests: a listener on 127.0.0.1 or ::1 on a port
// the system picks, one on a socket file, plain client connections, and
// byte helpers with deadlines. Plain POSIX underneath, so that the code under test is not
// tested with itself. Every descriptor is close-on-exec.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace CorvaneTest {

// Owns one descriptor; -1 when empty.
class ScopedFd {
public:
    explicit ScopedFd(int fd = -1) : fd_(fd) {}
    ~ScopedFd() { reset(); }
    ScopedFd(ScopedFd&& other) noexcept : fd_(other.release()) {}
    ScopedFd& operator=(ScopedFd&& other) noexcept;
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);

private:
    int fd_;
};

class LoopbackListener {
public:
    // Throws std::runtime_error when the socket can not be made.
    explicit LoopbackListener(int backlog = 16, bool ipv6 = false);

    int port() const { return port_; }
    // The next connection within timeoutMs; empty when none came.
    ScopedFd accept(int timeoutMs = 5000) const;

private:
    ScopedFd fd_;
    int port_ = -1;
};

// A local stream socket listening on a socket file, removed again with it.
class LocalListener {
public:
    // Throws std::runtime_error when the socket can not be made.
    explicit LocalListener(const std::string& path, int backlog = 16);
    ~LocalListener();
    LocalListener(const LocalListener&) = delete;
    LocalListener& operator=(const LocalListener&) = delete;

    const std::string& path() const { return path_; }
    // The listening socket, to hand to a child process.
    int fd() const { return fd_.get(); }
    ScopedFd accept(int timeoutMs = 5000) const;

private:
    std::string path_;
    ScopedFd fd_;
};

// A blocking client connection to the loopback address; empty on failure.
ScopedFd connectLoopback(int port, bool ipv6 = false);
// A blocking client connection to a socket file; empty on failure (also
// while the file is there but nothing listens on it yet).
ScopedFd connectLocal(const std::string& path);
// A TCP socket bound to a loopback port but not listening: connections to
// that port are refused while the socket lives. *port gets the port.
ScopedFd bindWithoutListening(int* port, bool ipv6 = false);
// A socket bound to 127.0.0.1:port (address reuse on, so that connections
// left over on the port do not stand in the way) but not listening: no
// bind to port 0 picks that port while it lives. Empty on failure.
ScopedFd holdLoopbackPort(int port);
// True when ::1 can be bound here.
bool ipv6LoopbackAvailable();
// Fills the accept queue of a 127.0.0.1 listener that never accepts (make it
// with a backlog of 0) until a connect stops completing: further SYNs to port
// go unanswered while the returned sockets live. Empty when the kernel
// completes every connect.
std::vector<ScopedFd> stallListener(int port);

// Sends all of bytes within timeoutMs.
bool sendAll(int fd, const std::string& bytes, int timeoutMs = 5000);
// Reads until n bytes came, the peer closed, or timeoutMs passed.
std::string recvUpTo(int fd, size_t n, int timeoutMs = 5000);
// Reads one line (without its newline) within timeoutMs; false on end of
// stream or time-out.
bool recvLine(int fd, std::string* line, int timeoutMs = 5000);

}  // namespace CorvaneTest
