// A FastCGI client for tests: one connection to a FastCGI application on a
// socket file, over which it sends requests record by record (a body may
// be left unfinished, the connection dropped at any point) and reads the
// answers. Request id 1 always; one thread uses it.
#pragma once

#include <map>
#include <string>

#include "support/LoopbackListener.h"

namespace CorvaneTest {

struct FastCgiAnswer {
    std::string out;
    std::string err;
    bool ended = false;   // the end-of-request record arrived
    bool closed = false;  // the application closed the connection first
};

class FastCgiClient {
public:
    explicit FastCgiClient(const std::string& socketPath);

    bool connected() const { return fd_.valid(); }
    // Begins a request (asking the application to keep the connection when
    // keep is set), sends its variables and body, and the body's end unless
    // endBody is false.
    bool send(const std::map<std::string, std::string>& variables, const std::string& body, bool keep = false,
              bool endBody = true);
    // The answer to the request sent; what arrived when the time ran out.
    FastCgiAnswer receive(int timeoutMs = 10000);
    void close() { fd_.reset(); }

private:
    bool record(int type, const std::string& content);

    ScopedFd fd_;
};

}  // namespace CorvaneTest
