#include "GatewayStatus.h"

#include <algorithm>

const std::vector<int64_t>& GatewayStatus::latencyBoundsMs() {
    static const std::vector<int64_t> bounds{1, 5, 10, 25, 50, 100, 250, 500, 1000, 2500, 5000, 10000, 30000};
    return bounds;
}

GatewayStatus& GatewayStatus::instance() {
    static GatewayStatus status;
    return status;
}

GatewayStatus::GatewayStatus()
    : started_(std::chrono::system_clock::now()), startedSteady_(std::chrono::steady_clock::now()) {
    figures_.started = started_;
}

void GatewayStatus::setThreads(int threads) {
    std::lock_guard<std::mutex> lock(mutex_);
    figures_.threads = std::max(1, threads);
}

void GatewayStatus::setStreams(int64_t open) {
    std::lock_guard<std::mutex> lock(mutex_);
    figures_.streams = open;
}

void GatewayStatus::requestStarted() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++figures_.accepted;
    ++figures_.inFlight;
    figures_.maxBusy = std::max(figures_.maxBusy, figures_.inFlight);
}

void GatewayStatus::requestEnded(const std::string& mode, Outcome outcome, bool slow) {
    std::lock_guard<std::mutex> lock(mutex_);
    --figures_.inFlight;
    ++figures_.byMode[mode];
    ++figures_.byOutcome[outcome];
    if (slow)
        ++figures_.slow;
}

GatewayStatus::Server& GatewayStatus::serverLocked(const std::string& host) {
    auto found = figures_.servers.find(host);
    if (found == figures_.servers.end()) {
        const std::string& key = figures_.servers.size() < kMaxServers ? host : std::string("other");
        found = figures_.servers.emplace(key, Server()).first;
        found->second.buckets.resize(latencyBoundsMs().size() + 1);
    }
    return found->second;
}

bool GatewayStatus::serverOpened(const std::string& host) {
    std::lock_guard<std::mutex> lock(mutex_);
    Server& server = serverLocked(host);
    ++server.open;
    return server.connected;
}

void GatewayStatus::serverCall(const std::string& host, std::chrono::steady_clock::duration elapsed, bool ok) {
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    const std::vector<int64_t>& bounds = latencyBoundsMs();
    const size_t bucket = static_cast<size_t>(std::lower_bound(bounds.begin(), bounds.end(), ms) - bounds.begin());
    std::lock_guard<std::mutex> lock(mutex_);
    Server& server = serverLocked(host);
    ++server.calls;
    if (!ok)
        ++server.failures;
    ++server.buckets[bucket];
    server.sumSeconds += std::chrono::duration<double>(elapsed).count();
}

void GatewayStatus::serverError(const std::string& host, const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    serverLocked(host).lastError = message;
}

void GatewayStatus::serverClosed(const std::string& host, Link link) {
    std::lock_guard<std::mutex> lock(mutex_);
    Server& server = serverLocked(host);
    --server.open;
    if (link != Link::Unknown)
        server.connected = link == Link::Up;
}

GatewayStatus::Snapshot GatewayStatus::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Snapshot copy = figures_;
    copy.uptimeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - startedSteady_).count();
    return copy;
}

const char* GatewayStatus::outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Success:
        return "success";
    case Outcome::Error:
        return "error";
    case Outcome::Refused401:
        return "refused401";
    case Outcome::Refused403:
        return "refused403";
    case Outcome::Refused405:
        return "refused405";
    case Outcome::Refused503:
        return "refused503";
    }
    return "error";
}
