// Internal to the gateway.
// The process's running figures for the status mode: when it started, the
// requests it took (by mode and by outcome), how many of its threads are
// busy, its slow requests, its live-update streams, and per server the handles open on it, whether
// its connection was up when a handle last let go, its calls, failures,
// last error and a call-latency histogram. One process-wide object;
// every method is thread-safe and copies out under the one mutex, which
// is never held across anything but the counters.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class GatewayStatus {
public:
    // The outcomes a request is counted under.
    enum class Outcome { Success, Error, Refused401, Refused403, Refused405, Refused503 };
    // Upper bounds of the call-latency histogram's buckets, in
    // milliseconds; one more bucket takes the rest.
    static const std::vector<int64_t>& latencyBoundsMs();
    // Servers counted apart; calls to any further one count under "other",
    // so that requests naming ever new hosts cannot grow the table.
    static constexpr size_t kMaxServers = 64;

    static GatewayStatus& instance();

    // How many requests the process serves at once.
    void setThreads(int threads);
    void requestStarted();
    // mode: the mode's name as the table spells it, or "unknown".
    void requestEnded(const std::string& mode, Outcome outcome, bool slow);

    // True when the server's connection was up as last seen.
    bool serverOpened(const std::string& host);
    // A server operation ended after elapsed; a failed one, with the
    // message, is the server's last error.
    void serverCall(const std::string& host, std::chrono::steady_clock::duration elapsed, bool ok);
    void serverError(const std::string& host, const std::string& message);
    // What a closed handle saw of its connection; Unknown when no
    // operation ended.
    enum class Link { Unknown, Up, Down };
    void serverClosed(const std::string& host, Link link);
    // How many live-update streams the process holds now.
    void setStreams(int64_t open);

    struct Server {
        int64_t open = 0;       // handles open on it now
        bool connected = false;  // its connection, when the last handle let go
        uint64_t calls = 0;
        uint64_t failures = 0;
        std::string lastError;
        std::vector<uint64_t> buckets;  // per bound of latencyBoundsMs(), then the rest
        double sumSeconds = 0;
    };
    struct Snapshot {
        std::chrono::system_clock::time_point started;
        double uptimeSeconds = 0;
        uint64_t accepted = 0;
        int64_t inFlight = 0;
        std::map<std::string, uint64_t> byMode;
        std::map<Outcome, uint64_t> byOutcome;
        int threads = 1;
        int64_t maxBusy = 0;
        uint64_t slow = 0;
        int64_t streams = 0;
        std::map<std::string, Server> servers;
    };
    Snapshot snapshot() const;

    static const char* outcomeName(Outcome outcome);

private:
    GatewayStatus();
    Server& serverLocked(const std::string& host);

    const std::chrono::system_clock::time_point started_;
    const std::chrono::steady_clock::time_point startedSteady_;
    mutable std::mutex mutex_;  // guards everything below
    Snapshot figures_;
};
