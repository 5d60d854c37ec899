// The shared-connection table is a keyed cache whose entries each own the
// pool of connections to one server; a Shared handle is a guard holding one
// reference on one entry and one connection of its pool. An entry matches a
// key when its first connection's daemon information (as cached, no server
// call) describes the key's server, so identifiers of different forms for
// one server share its connections once the server has described itself.
// Expired entries that match are reused: an idle connection to a server is
// dropped only when a lookup for another server passes it, or by a clean.
#include "client/api/CorvaneConnectionTable.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/ipc/CoCache.h"
#include "base/loggerBase/CoMsg.h"
#include "base/threads/CoLockGuard.h"
#include "base/threads/CoMutex.h"
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

// CORVANE_SERVER_CONNECTIONS, else CORVANE_FASTCGI_THREADS, so that every
// request thread of a persistent gateway has a connection of its own; at
// least 1. Read once at program start.
const int kServerConnectionsSetting = [] {
    constexpr long kDefault = 8;
    constexpr long kMost = 1024;
    long value = kDefault;
    for (const char* name : {"CORVANE_FASTCGI_THREADS", "CORVANE_SERVER_CONNECTIONS"})
        if (const char* text = std::getenv(name))
            value = std::strtol(text, nullptr, 10);
    return static_cast<int>(std::max(1L, std::min(value, kMost)));
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

// The pool of one server: its first connection, made with the entry and
// kept as long as it, and up to a limit more, made when a thread asks while
// every one is held by other threads. A handle keeps the connection it was
// given until it lets go; the first one free or held only by the asking
// thread is given first, so that a one-thread program keeps one
// connection. An extra connection nobody holds goes once it has been idle
// for the table's time-out, at the next take().
class ConnectionEntry : public Corvane::CoCache::SharedEntry {
public:
    ConnectionEntry(const CorvaneServerId& id, int poolSize, int64_t idleTimeoutUs)
        : name_(id.getStr()), poolSize_(poolSize), idleTimeoutUs_(idleTimeoutUs) {
        pool_.emplace_back(std::make_unique<CorvaneClientConnection>(id));
        first_ = pool_.front().connection.get();
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
            return first_->getDaemonInfo(true).matches(server->id());
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

    // A connection of the pool for the calling thread, held until give().
    CorvaneClientConnection* take(int64_t nowUs) {
        const std::thread::id self = std::this_thread::get_id();
        std::vector<std::unique_ptr<CorvaneClientConnection>> expired;
        CorvaneClientConnection* taken = nullptr;
        {
            Corvane::CoLockGuard guard(poolMutex_);
            takeExpiredLocked(nowUs, &expired);
            Pooled* chosen = nullptr;
            for (Pooled& pooled : pool_) {
                if (pooled.holders == 0 || pooled.thread == self) {
                    chosen = &pooled;
                    break;
                }
            }
            if (!chosen && static_cast<int>(pool_.size()) < poolSize_) {
                // Completed by the first connection already: no name to resolve.
                pool_.emplace_back(std::make_unique<CorvaneClientConnection>(first_->getServerId()));
                chosen = &pool_.back();
                CO_DEBUG("Adding connection %d to '%s'", static_cast<int>(pool_.size()), name_.c_str());
            }
            if (!chosen) {
                // Every connection is taken: the least held one is shared.
                chosen = &pool_.front();
                for (Pooled& pooled : pool_)
                    if (pooled.holders < chosen->holders)
                        chosen = &pooled;
            }
            chosen->thread = chosen->holders == 0 || chosen->thread == self ? self : std::thread::id();
            ++chosen->holders;
            taken = chosen->connection.get();
        }
        // Closed here, outside the lock: closing a connection can block.
        expired.clear();
        return taken;
    }

    void give(const CorvaneClientConnection* connection, int64_t nowUs) {
        Corvane::CoLockGuard guard(poolMutex_);
        for (Pooled& pooled : pool_) {
            if (pooled.connection.get() == connection) {
                if (--pooled.holders == 0)
                    pooled.thread = std::thread::id();
                pooled.lastUseUs = nowUs;
                return;
            }
        }
        assert(!"a connection of the pool");
    }

private:
    struct Pooled {
        explicit Pooled(std::unique_ptr<CorvaneClientConnection> made) : connection(std::move(made)) {}
        std::unique_ptr<CorvaneClientConnection> connection;
        int holders = 0;
        // The one thread holding it; empty when free or held by several.
        std::thread::id thread;
        int64_t lastUseUs = 0;
    };

    void takeExpiredLocked(int64_t nowUs, std::vector<std::unique_ptr<CorvaneClientConnection>>* expired) {
        if (idleTimeoutUs_ < 0)
            return;
        // The first stays: it describes the server to matches().
        for (auto it = pool_.begin() + 1; it != pool_.end();) {
            if (it->holders == 0 && nowUs - it->lastUseUs >= idleTimeoutUs_) {
                expired->push_back(std::move(it->connection));
                it = pool_.erase(it);
            } else {
                ++it;
            }
        }
    }

    const std::string name_;
    const int poolSize_;
    const int64_t idleTimeoutUs_;
    CorvaneClientConnection* first_;  // pool_'s first; fixed at construction
    Corvane::CoMutex poolMutex_;      // guards pool_
    std::vector<Pooled> pool_;
    int count_ = 0;  // mirrors the base's count for the messages
};

std::atomic<int64_t (*)()> gClock{nullptr};

class ConnectionTable : public Corvane::CoCache {
public:
    ConnectionTable(int capacity, int64_t idleTimeoutUs, int poolSize)
        : CoCache(capacity, idleTimeoutUs, true), idleTimeoutUs_(idleTimeoutUs), poolSize_(std::max(1, poolSize)) {}
    ~ConnectionTable() override = default;

    int64_t nowUs() const override {
        int64_t (*clock)() = gClock.load();
        return clock ? clock() : CoCache::nowUs();
    }

protected:
    Entry* createEntry(const Key& key) override {
        const ServerKey* server = dynamic_cast<const ServerKey*>(&key);
        return server ? new ConnectionEntry(server->id(), poolSize_, idleTimeoutUs_) : nullptr;
    }

private:
    const int64_t idleTimeoutUs_;
    const int poolSize_;
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
    corvaneCreateConnectionTable(capacity, idleTimeoutUs, kServerConnectionsSetting);
}

void corvaneCreateConnectionTable(int capacity, int64_t idleTimeoutUs, int poolSize) {
    if (!table())
        table() = std::make_unique<ConnectionTable>(capacity, idleTimeoutUs, poolSize);
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

// Holds the entry and, within it, one connection of the pool.
class CorvaneClientConnection::Shared::Imp : public Corvane::CoCache::EntryLockGuard {
public:
    Imp(ConnectionTable* table, Corvane::CoCache::Entry* entry)
        : EntryLockGuard(table, entry),
          table_(table),
          connection_(entry ? static_cast<ConnectionEntry*>(entry)->take(table->nowUs()) : nullptr) {}
    // The connection goes back before the entry does.
    ~Imp() override {
        if (connection_)
            static_cast<ConnectionEntry*>(lockedEntry_)->give(connection_, table_->nowUs());
    }

    CorvaneClientConnection* connection() const { return connection_; }

private:
    ConnectionTable* table_;
    CorvaneClientConnection* connection_;
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
