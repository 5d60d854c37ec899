// The web server's side of one FastCGI request, spoken by the test itself
// over a socket file: the test decides when each part of the request goes
// out (a body sent slowly, or never) and reads the answer without starting
// a program. Plain POSIX underneath. One thread uses an object at a time,
// except that one may send the body while another reads the answer.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "support/LoopbackListener.h"

namespace CorvaneTest {

class FastCgiClient {
public:
    // Connects; valid() is false when that failed.
    explicit FastCgiClient(const std::string& socketPath);
    // Speaks over a connection made elsewhere (a TCP one).
    explicit FastCgiClient(ScopedFd connected) : fd_(std::move(connected)) {}
    FastCgiClient(FastCgiClient&&) = default;

    bool valid() const { return fd_.valid(); }
    // Begins a request (role responder) and sends all its variables.
    bool begin(const std::map<std::string, std::string>& variables);
    // The same, asking the application to keep the connection for the
    // next request when keepConnection.
    bool begin(const std::map<std::string, std::string>& variables, bool keepConnection);
    // Sends bytes as they are, whole records or not.
    bool sendRaw(const std::string& bytes);
    // True when the other side closes the connection (or resets it) within
    // timeoutMs; whatever it sends before is skipped.
    bool closedWithin(int timeoutMs);
    // Sends bytes of the body; an empty text ends it.
    bool sendBody(const std::string& bytes);
    // Reads the answer's standard output (and error) until the request
    // ends; false when the connection closed or timeoutMs passed first.
    bool readAnswer(std::string* out, int timeoutMs = 10000, std::string* err = nullptr);

    // For an answer that streams: appends its standard output to *out as
    // it comes until *out holds text (true), or the request ends, the
    // connection closes or timeoutMs passes (false). Records cut by the
    // time limit are kept for the next call.
    bool readUntil(const std::string& text, std::string* out, int timeoutMs = 10000);
    // The answer's END_REQUEST came, with nothing behind it (readUntil saw it).
    bool ended() const { return ended_; }

    // One whole request; the answer's standard output, or "" when none came.
    static std::string request(const std::string& socketPath, const std::map<std::string, std::string>& variables,
                               const std::string& body = "", int timeoutMs = 10000);

    // One record of the web server's side.
    static std::string record(int type, int requestId, const std::string& content);

private:
    bool sendRecord(int type, const std::string& content);

    ScopedFd fd_;
    std::string pending_;  // received bytes of records not yet read whole
    bool ended_ = false;
};

}  // namespace CorvaneTest
