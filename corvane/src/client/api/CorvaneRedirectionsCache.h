// Internal to corvane_client.
// Where the frames a server redirected are read from: a fixed number of
// entries (frame identifier -> the server that holds it), the least
// recently used one replaced when all are taken, and one raw data
// connection per redirect target, made on first use and kept.
//
// One thread operates; interruptAll() may come from any other.
// connectionsMutex_ guards the map of targets (not the connections'
// I/O), so that interruptAll() never meets a target being added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/threads/CoMutex.h"
#include "client/api/CorvaneDaemonInfo.h"

class CorvaneRawDataClientConnection;

class CorvaneRedirectionsCache {
public:
    class Entry {
    public:
        virtual ~Entry() = default;
        bool valid = false;
        std::string frameId;
        CorvaneDaemonInfo server;
        int64_t lastUsedUs = 0;
    };

    static constexpr size_t kDefaultSize = 32;

    // XQ_CORVANE_REDIRECTION_CACHE_SIZE, read once; 32 when unset or 0.
    static size_t defaultSize();

    explicit CorvaneRedirectionsCache(size_t size = defaultSize());
    ~CorvaneRedirectionsCache();
    CorvaneRedirectionsCache(const CorvaneRedirectionsCache&) = delete;
    CorvaneRedirectionsCache& operator=(const CorvaneRedirectionsCache&) = delete;

    // Remembers that server holds frameId.
    void store(const std::string& frameId, const CorvaneDaemonInfo& server);
    // The connection to the server holding frameId (made on first use),
    // or null when none was remembered: read it from the default one.
    CorvaneRawDataClientConnection* connectionFor(const std::string& frameId);
    // The remembered holder of frameId, without touching its age.
    bool holder(const std::string& frameId, CorvaneDaemonInfo* server) const;
    size_t size() const { return entries_.size(); }

    void interruptAll();

private:
    class Target;

    // Strictly increasing microseconds: entries used within one tick still
    // age in order.
    int64_t tick();

    std::vector<Entry> entries_;
    int64_t lastTickUs_ = 0;
    Corvane::CoMutex connectionsMutex_;  // guards targets_
    std::map<std::string, std::unique_ptr<Target>> targets_;
};
