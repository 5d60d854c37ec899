#include "client/api/CorvaneRedirectionsCache.h"

#include <cstdlib>

#include "base/env/EnvVar.h"
#include "base/threads/CoLockGuard.h"
#include "base/time/CoClock.h"
#include "client/api/CorvaneDaemonInfoMgr.h"
#include "client/api/CorvaneRawDataClientConnection.h"

// A redirect target: its record, and the connection that reads from it.
class CorvaneRedirectionsCache::Target : public CorvaneDaemonInfoMgr {
public:
    explicit Target(const CorvaneDaemonInfo& server) : server_(server), connection_(*this) {}

    void invalidate() override {}
    bool getDaemonInfo(CorvaneDaemonInfo& info) override {
        info = server_;
        return true;
    }
    const char* lastError() const override { return ""; }

    void update(const CorvaneDaemonInfo& server) { server_ = server; }
    CorvaneRawDataClientConnection& connection() { return connection_; }

private:
    CorvaneDaemonInfo server_;
    CorvaneRawDataClientConnection connection_;
};

namespace {

// Two servers may share a frame port on different hosts, or a host on
// different ports.
std::string targetKey(const CorvaneDaemonInfo& server) {
    return std::string(server.getFrameIP(0)) + "|" + std::to_string(server.getFramePort()) + "|" + server.getDatabase();
}

}  // namespace

size_t CorvaneRedirectionsCache::defaultSize() {
    static const size_t size = [] {
        const int value = Corvane::leadingDigits(std::getenv("XQ_CORVANE_REDIRECTION_CACHE_SIZE"));
        return value > 0 ? static_cast<size_t>(value) : kDefaultSize;
    }();
    return size;
}

CorvaneRedirectionsCache::CorvaneRedirectionsCache(size_t size) : entries_(size > 0 ? size : 1) {}

CorvaneRedirectionsCache::~CorvaneRedirectionsCache() = default;

int64_t CorvaneRedirectionsCache::tick() {
    const int64_t now = Corvane::CoClock::monotonicUs();
    lastTickUs_ = now > lastTickUs_ ? now : lastTickUs_ + 1;
    return lastTickUs_;
}

void CorvaneRedirectionsCache::store(const std::string& frameId, const CorvaneDaemonInfo& server) {
    Entry* chosen = nullptr;
    for (Entry& e : entries_) {
        if (e.valid && e.frameId == frameId) {
            chosen = &e;
            break;
        }
    }
    if (!chosen) {
        for (Entry& e : entries_) {
            if (!e.valid) {
                chosen = &e;
                break;
            }
            if (!chosen || e.lastUsedUs < chosen->lastUsedUs)
                chosen = &e;
        }
    }
    chosen->valid = true;
    chosen->frameId = frameId;
    chosen->server = server;
    chosen->lastUsedUs = tick();
}

bool CorvaneRedirectionsCache::holder(const std::string& frameId, CorvaneDaemonInfo* server) const {
    for (const Entry& e : entries_) {
        if (e.valid && e.frameId == frameId) {
            *server = e.server;
            return true;
        }
    }
    return false;
}

CorvaneRawDataClientConnection* CorvaneRedirectionsCache::connectionFor(const std::string& frameId) {
    for (Entry& e : entries_) {
        if (!e.valid || e.frameId != frameId)
            continue;
        e.lastUsedUs = tick();
        const std::string key = targetKey(e.server);
        Corvane::CoLockGuard guard(connectionsMutex_);
        std::unique_ptr<Target>& target = targets_[key];
        if (!target)
            target = std::make_unique<Target>(e.server);
        else
            target->update(e.server);
        return &target->connection();
    }
    return nullptr;
}

void CorvaneRedirectionsCache::interruptAll() {
    Corvane::CoLockGuard guard(connectionsMutex_);
    for (auto& entry : targets_)
        entry.second->connection().interrupt();
}
