// Scripted raw TCP peers on loopback for the RPC tests: they play a server
// (or client) byte by byte, for behaviour a real server context would
// never show.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "support/LineReader.h"
#include "support/LoopbackListener.h"

namespace CorvaneTest {

// One accepted (or connected) raw socket, read line by line.
class RawConn {
public:
    explicit RawConn(ScopedFd fd) : fd_(std::move(fd)), reader_(fd_.get()) {}

    // One line without its newline; "<closed>" at end of stream and
    // "<timeout>" after timeoutMs. Bytes after the line wait for the next call.
    std::string readLine(int timeoutMs = 10000) {
        std::string line;
        const LineReader::Result got = reader_.readLine(&line, timeoutMs);
        return got == LineReader::Result::Line ? line : got == LineReader::Result::Closed ? "<closed>" : "<timeout>";
    }
    bool send(const std::string& bytes) { return sendAll(fd_.get(), bytes); }
    void close() { fd_.reset(); }
    int fd() const { return fd_.get(); }

private:
    ScopedFd fd_;
    LineReader reader_;
};

// Listens on 127.0.0.1, port chosen by the system, and runs a script on
// the next connection in its own thread.
class FakeServer {
public:
    ~FakeServer() { join(); }

    int port() const { return listener_.port(); }
    void serve(std::function<void(RawConn&)> script) {
        join();
        thread_ = std::thread([this, script] {
            RawConn conn(listener_.accept(10000));
            if (conn.fd() >= 0)
                script(conn);  // when nobody came, the test fails on its own
        });
    }
    // Waits for the script to end.
    void join() {
        if (thread_.joinable())
            thread_.join();
    }

private:
    LoopbackListener listener_;
    std::thread thread_;
};

}  // namespace CorvaneTest
