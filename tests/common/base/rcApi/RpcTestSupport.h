// Helpers for the RPC tests: a thread that drives a server context's
// dispatch passes, and a scripted raw TCP peer on loopback that plays a
// server (or client) byte by byte, for behaviour a real server context
// would never show.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "base/rcApi/rcServerContext.h"

namespace CorvaneTest {

// Runs ctx's dispatch passes until destroyed.
class ServerThread {
public:
    explicit ServerThread(Corvane::rcServerContext& ctx);
    ~ServerThread();
    ServerThread(const ServerThread&) = delete;
    ServerThread& operator=(const ServerThread&) = delete;

private:
    Corvane::rcServerContext& ctx_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// One accepted (or connected) raw socket, used by a script.
class RawConn {
public:
    explicit RawConn(int fd) : fd_(fd) {}
    ~RawConn();
    RawConn(const RawConn&) = delete;
    RawConn& operator=(const RawConn&) = delete;

    // Connects to 127.0.0.1:port; fd() is -1 on failure.
    static int connectTo(int port);

    // One line without its newline; "<closed>" at end of stream and
    // "<timeout>" after timeoutMs.
    std::string readLine(int timeoutMs = 10000);
    bool send(const std::string& bytes);
    void close();
    int fd() const { return fd_; }

private:
    int fd_;
    std::string pending_;
};

// Listens on 127.0.0.1, port chosen by the system, and runs a script on
// the next connection in its own thread.
class FakeServer {
public:
    FakeServer();
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    int port() const { return port_; }
    void serve(std::function<void(RawConn&)> script);
    // Waits for the script to end.
    void join();

private:
    int listenFd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace CorvaneTest
