// Internal to the gateway.
// What one request leaves in the web server's error log besides its error
// line: with CORVANE_ACCESS_LOG=1 one line per request (time, request id,
// user, mode, hosts, duration, outcome), and for a request slower than
// CORVANE_SLOW_REQUEST_MS (default 5000) one line naming the phase that
// took longest (connect: admitting the server; login: making its
// connection; call: operations on it; save: writing an account file;
// request: everything else). Made by the driver on the request's thread,
// which alone uses it; the door, the handles and the mode table reach it
// through current() to mark phases. Under a web server the library's
// messages go to the request's error stream on its thread and to standard
// error elsewhere, never into an answer (routeMessagesToErrors()).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "GatewayStatus.h"

class RequestIo;

class RequestLog {
public:
    enum class Phase { Request, Connect, Login, Call, Save, Count };

    explicit RequestLog(RequestIo& io);
    // Writes the lines, counts the request in GatewayStatus and forgets
    // the thread's current log.
    ~RequestLog();
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    // The calling thread's request, or null outside one.
    static RequestLog* current();
    // Marks the phase the calling thread's request is in; no-op outside one.
    static void enter(Phase phase);

    void setUser(const std::string& user) { user_ = user; }
    void setMode(const std::string& mode) { mode_ = mode; }
    void setHosts(const std::string& hosts) { hosts_ = hosts; }
    void setOutcome(GatewayStatus::Outcome outcome) { outcome_ = outcome; }
    // A server whose operation failed, for the server's last error.
    void setFailedServer(const std::string& host) { failedServer_ = host; }
    const std::string& failedServer() const { return failedServer_; }

    // Writes a line to the request's error stream.
    void message(const char* line);

    // "<pid>-<n>": unique in the process's life, and across processes.
    const std::string& id() const { return id_; }

    static const char* phaseName(Phase phase);

private:
    void changePhase(Phase phase);

    RequestIo& io_;
    const std::chrono::system_clock::time_point started_;
    const std::chrono::steady_clock::time_point startedSteady_;
    std::string id_;
    std::string user_, mode_, hosts_, failedServer_;
    GatewayStatus::Outcome outcome_ = GatewayStatus::Outcome::Error;
    Phase phase_ = Phase::Request;
    std::chrono::steady_clock::time_point phaseSince_;
    std::chrono::steady_clock::duration spent_[static_cast<int>(Phase::Count)] = {};
    RequestLog* previous_;
};

// Sends the library's messages to standard error instead of standard output
// from now on; the calling request's thread's go to its error stream.
// Idempotent and thread-safe.
void routeMessagesToErrors();

// A timestamp as the log lines write it: UTC, ISO 8601, milliseconds.
std::string logTime(std::chrono::system_clock::time_point time);
