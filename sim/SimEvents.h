// Internal to corvane_sim.
// The stand-in server's node events: remembers who asked for the events of
// which subject ("RegisterEvents"), and calls "NodeEvent" on the asker's
// event port, addressed to its connection number, for every change to the
// subject or to a node under it. Owns its thread and its connections to
// the askers; every method is safe from any thread.
//
// Design note. Events go as "async" commands on one RPC connection per
// asking address and port (a Link). changed() sends an event itself when
// its link is connected, idle and has nothing queued, which spares the
// hop to another thread; the write is bounded by kDirectTimeoutMs, and
// only a client that has stopped reading could make it wait. Everything
// else (a first connection, a link in use, a failed send) is queued for
// the sender thread, which connects and sends in order; a link with
// events queued gets the later ones queued too, so each link keeps its
// order. mutex_ guards registrations_, queue_, links_ (the map; links
// live as long as this object), each link's queued count, busy_ and
// stopping_, and is never held across I/O. A link's own mutex serialises
// the use of its connection and nests inside nothing.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Corvane {
class rcAPI;
class rcServerContext;
}  // namespace Corvane

namespace CorvaneSim {

class SimEvents {
public:
    // What a change adds to the details, in order.
    using Details = std::vector<std::pair<std::string, std::string>>;

    // Events waiting beyond this are dropped (and logged): a client that
    // does not take them must not grow the queue without end.
    static constexpr size_t kMaxQueued = 10000;
    static constexpr size_t kMaxRegistrations = 10000;

    SimEvents();
    // Stops the thread; queued events are dropped.
    ~SimEvents();
    SimEvents(const SimEvents&) = delete;
    SimEvents& operator=(const SimEvents&) = delete;

    // Starts the sender. Throws Corvane::CoException when it can not.
    void start();
    // Where registered() reads the address of the client that registers;
    // set before the server dispatches, on its thread.
    void attach(const Corvane::rcServerContext* server) { server_ = server; }

    // The events of the process, for the service's hooks; null when there
    // are none. Set before the dispatching starts, cleared after it ends.
    static SimEvents* current();
    static void setCurrent(SimEvents* events);

    // The client being served asked for the events of subject at port,
    // addressed to connection.
    void registered(int port, int connection, const std::string& subject);
    // An empty subject drops every subject of that port and connection.
    void unregistered(int port, int connection, const std::string& subject);
    // node changed: type names how ("NodeCreated", "NodeDestroyed",
    // "NodeRenamed", "MetaDataChanged", "FramesChanged"). Details always
    // carry "Node" (node) and "Time" (microseconds of the monotonic clock
    // when the change was made, for latency measurements).
    void changed(const std::string& node, const char* type, const Details& details = Details());

private:
    struct Registration {
        std::string host;
        int port;
        int connection;
        std::string subject;
    };
    struct Link;
    struct Pending {
        Link* link;
        std::string host;
        int port;
        int connection;
        std::string payload;
    };

    void run();
    // Sends p now if its link is connected and free; false otherwise.
    static bool sendNow(Pending& p);
    Link* linkLocked(const std::string& host, int port);
    static bool isUnder(const std::string& node, const std::string& subject);

    const Corvane::rcServerContext* server_ = nullptr;  // the dispatching thread's
    std::mutex mutex_;                                  // guards what follows
    std::condition_variable wake_;
    std::vector<Registration> registrations_;
    std::deque<Pending> queue_;
    std::map<std::pair<std::string, int>, std::unique_ptr<Link>> links_;
    bool stopping_ = false;
    Corvane::rcAPI* busy_ = nullptr;  // the call in progress, which stopping ends
    std::thread thread_;
};

}  // namespace CorvaneSim
