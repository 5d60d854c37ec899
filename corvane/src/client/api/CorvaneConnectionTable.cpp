// The shared-connection table is a keyed cache whose entries each own one
// CorvaneClientConnection; a Shared handle is a guard holding one reference
// on one entry. An entry matches a key when the connection's daemon
// information (as cached, no server call) describes the key's server, so
// identifiers of different forms for one server share its connection once
// the server has described itself. Expired entries that match are reused:
// an idle connection to a server is dropped only when a lookup for another
// server passes it, or by a clean.
#include "client/api/CorvaneConnectionTable.h"

#include <atomic>
#include <cassert>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "base/ipc/CoCache.h"
#include "base/loggerBase/CoMsg.h"
#include "client/api/CorvaneClientConnection.h"

namespace {

constexpr int kDefaultCapacity = 16;
constexpr int kDefaultIdleSeconds = 30;
constexpr int64_t kUsPerSecond = 1000000;

// CORVANE_SHARED_CONNECTIONS, read once at program start.
struct SharedConnectionsSetting {
    bool set;
    long value;
};
const SharedConnectionsSetting kSharedConnectionsSetting = [] {
    const char* text = std::getenv("CORVANE_SHARED_CONNECTIONS");
    return SharedConnectionsSetting{text != nullptr, text ? std::strtol(text, nullptr, 10) : 0L};
}();

class ServerKey : public Corvane::CoCache::Key {
public:
    explicit ServerKey(const CorvaneServerId& id) : id_(id) {}
    const CorvaneServerId& id() const { return id_; }

private:
    CorvaneServerId id_;
};

// Matches no entry: a lookup with it only sweeps out the expired ones.
class CleanKey : public Corvane::CoCache::Key {};

Corvane::CoCache::LookupOptions findOnly() {
    Corvane::CoCache::LookupOptions options;
    options.create = false;
    return options;
}

class ConnectionEntry : public Corvane::CoCache::SharedEntry {
public:
    explicit ConnectionEntry(const CorvaneServerId& id) : name_(id.getStr()), connection_(id) {
        CO_DEBUG("Creating shared connection '%p' to '%s'", static_cast<void*>(this), name_.c_str());
    }
    ~ConnectionEntry() override {
        CO_DEBUG("Releasing shared connection '%p' to '%s'", static_cast<void*>(this), name_.c_str());
    }

    bool matches(const Corvane::CoCache::Key& key) override {
        const ServerKey* server = dynamic_cast<const ServerKey*>(&key);
        if (!server)
            return false;
        try {
            return connection_.getDaemonInfo(true).matches(server->id());
        } catch (const std::exception& e) {
            CO_DEBUG("%s", e.what());
            return false;
        }
    }

    // Both run with the entry's count mutex held, which also guards count_.
    void incref() override {
        SharedEntry::incref();
        CO_DEBUG("Referencing shared connection '%p' to '%s' (%d)", static_cast<void*>(this), name_.c_str(), ++count_);
    }
    void decref() override {
        SharedEntry::decref();
        CO_DEBUG("Unreferencing shared connection '%p' to '%s' (%d)", static_cast<void*>(this), name_.c_str(),
                 --count_);
    }

    CorvaneClientConnection& connection() { return connection_; }

private:
    std::string name_;
    CorvaneClientConnection connection_;
    int count_ = 0;  // mirrors the base's count for the messages
};

std::atomic<int64_t (*)()> gClock{nullptr};

class ConnectionTable : public Corvane::CoCache {
public:
    ConnectionTable(int capacity, int64_t idleTimeoutUs) : CoCache(capacity, idleTimeoutUs, true) {}
    ~ConnectionTable() override = default;

protected:
    Entry* createEntry(const Key& key) override {
        const ServerKey* server = dynamic_cast<const ServerKey*>(&key);
        return server ? new ConnectionEntry(server->id()) : nullptr;
    }
    int64_t nowUs() const override {
        int64_t (*clock)() = gClock.load();
        return clock ? clock() : CoCache::nowUs();
    }
};

// Created and deleted by library initialisation on one thread while no
// other thread uses the library; read by lookups in between.
std::unique_ptr<ConnectionTable>& table() {
    static std::unique_ptr<ConnectionTable> instance;
    return instance;
}

}  // namespace

void corvaneCreateConnectionTable() {
    if (kSharedConnectionsSetting.set) {
        const int value = static_cast<int>(kSharedConnectionsSetting.value);
        corvaneCreateConnectionTable(value, value * kUsPerSecond);
    } else {
        corvaneCreateConnectionTable(kDefaultCapacity, kDefaultIdleSeconds * kUsPerSecond);
    }
}

void corvaneCreateConnectionTable(int capacity, int64_t idleTimeoutUs) {
    if (!table())
        table() = std::make_unique<ConnectionTable>(capacity, idleTimeoutUs);
}

void corvaneDeleteConnectionTable() { table().reset(); }

bool corvaneConnectionTableExists() { return table() != nullptr; }

void corvaneSetConnectionClock(int64_t (*nowUs)()) { gClock.store(nowUs); }

void corvaneCleanConnections(bool all) {
    ConnectionTable* connections = table().get();
    if (!connections)
        return;
    if (all)
        connections->flush(true);
    else
        connections->lookup(CleanKey(), findOnly());
}

int corvaneSharedConnectionCount() {
    ConnectionTable* connections = table().get();
    if (!connections)
        return 0;
    int count = 0;
    Corvane::CoCache::Iterator it(*connections);
    while (it.next())
        ++count;
    return count;
}

class CorvaneClientConnection::Shared::Imp : public Corvane::CoCache::EntryLockGuard {
public:
    using EntryLockGuard::EntryLockGuard;

    CorvaneClientConnection* connection() const {
        return lockedEntry_ ? &static_cast<ConnectionEntry*>(lockedEntry_)->connection() : nullptr;
    }
};

namespace {

std::unique_ptr<CorvaneClientConnection::Shared::Imp> lookupShared(const CorvaneServerId& id) {
    ConnectionTable* connections = table().get();
    Corvane::CoCache::Entry* entry = connections->lookup(ServerKey(id), Corvane::CoCache::LookupOptions());
    return std::make_unique<CorvaneClientConnection::Shared::Imp>(connections, entry);
}

}  // namespace

CorvaneClientConnection::Shared::Shared() = default;

CorvaneClientConnection::Shared::Shared(const CorvaneServerId& id) {
    assert(table() && "connections");
    imp_ = lookupShared(id);
}

CorvaneClientConnection::Shared::~Shared() = default;
CorvaneClientConnection::Shared::Shared(Shared&& other) noexcept = default;
CorvaneClientConnection::Shared& CorvaneClientConnection::Shared::operator=(Shared&& other) noexcept = default;

void CorvaneClientConnection::Shared::reset(const CorvaneServerId* id) {
    imp_.reset();
    if (id && table())
        imp_ = lookupShared(*id);
}

CorvaneClientConnection* CorvaneClientConnection::Shared::get() const { return imp_ ? imp_->connection() : nullptr; }
