// Internal to the gateway.
// The node-event registrations of a FastCGI process's live-update streams:
// one library registration per watched pair (server text, node), shared
// by every stream that watches that pair and released when the last of
// them ends. Each server has one handle of the process's own (made through
// the request's door, so that the site's list admits it), kept while any
// pair of it is watched. An event is made into its text once, on the
// library's event thread, and handed with the ids of the streams watching
// its pair to the deliver function, which must not block.
//
// Design note. A request's thread registers, its calls bounded by the
// request's browse limit. The registry's own thread, started with the
// first registration, releases the registrations whose streams have all
// ended and probes every watched server every two seconds: a probe that
// finds a restarted server connects again, and the library registers the
// connection's nodes again on every connection it makes. Calls on one
// server's handle are serialised by that server's call mutex; mutex_
// guards the tables and is never held across a call to the library (whose
// event thread takes mutex_ inside its own delivery lock). Order: a
// server's call mutex, then mutex_.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class RequestWatchdog;
class ServerDoor;

class WatchRegistry {
public:
    using Deliver = std::function<void(const std::vector<uint64_t>& streams, const std::string& text)>;

    // The watchdog bounds the calls of the registry's own thread; both it
    // and deliver outlive the registry.
    WatchRegistry(RequestWatchdog& watchdog, Deliver deliver);
    // Releases every registration and ends the thread.
    ~WatchRegistry();
    WatchRegistry(const WatchRegistry&) = delete;
    WatchRegistry& operator=(const WatchRegistry&) = delete;

    // Has stream told of the events of node on host, registering the pair
    // with the server unless another stream watches it already. Throws the
    // failure's text as a std::string. limitMs bounds the server calls;
    // door admits host.
    void subscribe(uint64_t stream, const std::string& host, const std::string& node, ServerDoor& door,
                   int32_t limitMs);
    // The stream is told of nothing more; pairs no stream watches any
    // longer are released by the registry's thread. Never blocks on a
    // server.
    void unsubscribe(uint64_t stream);

private:
    class Handler;
    struct Server;
    struct Pair;
    using Key = std::pair<std::string, std::string>;  // host as given, node

    void run();
    void releaseIdle();
    void probe();
    // Adds stream to the pair of key, when there is one; under mutex_.
    bool joinLocked(uint64_t stream, const Key& key);
    // Drops a use of host's server. Its handle goes with the last, when
    // server goes: outside mutex_, for it tells the server it is gone.
    void dropServerUse(const std::string& host, std::shared_ptr<Server> server);
    void startThreadLocked();

    RequestWatchdog& watchdog_;
    const Deliver deliver_;

    mutable std::mutex mutex_;  // guards what follows
    std::condition_variable wake_;
    std::map<Key, std::shared_ptr<Pair>> pairs_;
    // After pairs_, so that its handles, which call the pairs' handlers
    // until they go, go first.
    std::map<std::string, std::shared_ptr<Server>> servers_;
    std::map<uint64_t, std::vector<Key>> streams_;  // what each stream watches
    std::vector<Key> idle_;                         // pairs left with no stream
    bool stopping_ = false;
    std::thread thread_;
};
