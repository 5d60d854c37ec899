#include "WatchRegistry.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "RequestWatchdog.h"
#include "ServerDoor.h"
#include "WatchLine.h"
#include "base/loggerBase/CoMsg.h"
#include "client/api/CorvaneNodeEvent.h"
#include "client/api/CorvaneNodeId.h"
#include "client/api/CorvaneServerHandle.h"

namespace {

// A restarted server is found, and its registrations made again, within
// two of these.
constexpr std::chrono::seconds kProbeEvery{2};
// A probe or release of the registry's own thread waits no longer for a
// server: the other servers' turns come after it.
constexpr int32_t kOwnCallLimitMs = 5000;

// Bounds one call of the calling thread on a handle: once limitMs has
// passed, the watchdog stops it, and keeps stopping it at each later step,
// on the handle's connection; other threads' calls on the shared
// connection go on.
class BoundedCall : private RequestWatchdog::Client {
public:
    BoundedCall(RequestWatchdog& watchdog, CorvaneServerHandle& handle, int32_t limitMs)
        : watchdog_(watchdog),
          handle_(handle),
          thread_(std::this_thread::get_id()),
          deadline_(Clock::now() + std::chrono::milliseconds(limitMs)) {
        watchdog_.watch(*this);
    }
    ~BoundedCall() { watchdog_.forget(*this); }
    BoundedCall(const BoundedCall&) = delete;
    BoundedCall& operator=(const BoundedCall&) = delete;

private:
    void step() override {
        if (Clock::now() >= deadline_)
            handle_.cancelCallOf(thread_, "");
    }
    Clock::time_point nextStep(Clock::time_point now) const override {
        return std::max(deadline_, Client::nextStep(now));
    }

    RequestWatchdog& watchdog_;
    CorvaneServerHandle& handle_;
    const std::thread::id thread_;
    const Clock::time_point deadline_;
};

}  // namespace

struct WatchRegistry::Server {
    std::mutex call;  // serialises the use of handle
    std::unique_ptr<CorvaneServerHandle> handle;
    size_t uses = 0;  // pairs registered or being registered; the registry's mutex_
};

// Turns the events of one pair into their text, once, and passes them on.
class WatchRegistry::Handler : public CorvaneNodeEvent::Handler {
public:
    Handler(WatchRegistry& owner, const Pair& pair) : owner_(owner), pair_(pair) {}
    void handleEvent(const CorvaneNodeEvent& event) override;

private:
    WatchRegistry& owner_;
    const Pair& pair_;
};

struct WatchRegistry::Pair {
    Pair(WatchRegistry& owner, std::string hostText, std::string nodeText)
        : host(std::move(hostText)), node(std::move(nodeText)), handler(owner, *this) {}
    const std::string host;
    const std::string node;
    Handler handler;
    std::vector<uint64_t> streams;  // the registry's mutex_
};

void WatchRegistry::Handler::handleEvent(const CorvaneNodeEvent& event) {
    std::vector<uint64_t> streams;
    {
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        streams = pair_.streams;
    }
    if (!streams.empty())
        owner_.deliver_(streams, watchEventText(pair_.host, pair_.node, event));
}

WatchRegistry::WatchRegistry(RequestWatchdog& watchdog, Deliver deliver)
    : watchdog_(watchdog), deliver_(std::move(deliver)) {}

WatchRegistry::~WatchRegistry() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    // The servers are told, each call bounded; the handles go before the
    // pairs (servers_ is declared after pairs_).
    for (const auto& entry : pairs_) {
        CorvaneServerHandle& handle = *servers_.at(entry.first.first)->handle;
        BoundedCall bound(watchdog_, handle, kOwnCallLimitMs);
        handle.unregisterEventHandler(CorvaneNodeId(entry.second->node.c_str()), &entry.second->handler);
    }
}

void WatchRegistry::startThreadLocked() {
    if (thread_.joinable())
        return;
    try {
        thread_ = std::thread(&WatchRegistry::run, this);
    } catch (const std::system_error& e) {
        throw std::string("Could not start the live updates' thread: ") + e.what();
    }
}

bool WatchRegistry::joinLocked(uint64_t stream, const Key& key) {
    const auto found = pairs_.find(key);
    if (found == pairs_.end())
        return false;
    found->second->streams.push_back(stream);
    streams_[stream].push_back(key);
    return true;
}

void WatchRegistry::subscribe(uint64_t stream, const std::string& host, const std::string& node, ServerDoor& door,
                              int32_t limitMs) {
    const Key key(host, node);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (joinLocked(stream, key))
            return;
        startThreadLocked();
    }
    std::shared_ptr<Server> server;
    {
        // Makes no connection yet; dropped unused, after the lock, when the
        // server has a handle.
        std::unique_ptr<CorvaneServerHandle> fresh = door.openForEvents(host);
        std::lock_guard<std::mutex> lock(mutex_);
        std::shared_ptr<Server>& slot = servers_[host];
        if (!slot) {
            slot = std::make_shared<Server>();
            slot->handle = std::move(fresh);
        }
        server = slot;
        ++server->uses;
    }
    std::string error;
    {
        std::lock_guard<std::mutex> call(server->call);
        {
            // Another request may have registered the pair meanwhile.
            std::lock_guard<std::mutex> lock(mutex_);
            if (joinLocked(stream, key)) {
                --server->uses;
                return;
            }
        }
        auto pair = std::make_shared<Pair>(*this, host, node);
        const bool registered = [&] {
            BoundedCall bound(watchdog_, *server->handle, limitMs);
            return server->handle->registerEventHandler(CorvaneNodeId(node.c_str()), &pair->handler);
        }();
        if (registered) {
            std::lock_guard<std::mutex> lock(mutex_);
            pairs_[key] = std::move(pair);
            joinLocked(stream, key);
            return;
        }
        error = server->handle->lastError();
    }
    dropServerUse(host, std::move(server));
    throw error.empty() ? std::string("Could not watch node '" + node + "'") : error;
}

void WatchRegistry::unsubscribe(uint64_t stream) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto watched = streams_.find(stream);
        if (watched == streams_.end())
            return;
        // Each pair a stream watches is registered and lists it once.
        for (const Key& key : watched->second) {
            std::vector<uint64_t>& streams = pairs_.at(key)->streams;
            streams.erase(std::find(streams.begin(), streams.end(), stream));
            if (streams.empty())
                idle_.push_back(key);
        }
        streams_.erase(watched);
    }
    // The thread goes back to sleep unless a pair is idle now.
    wake_.notify_all();
}

void WatchRegistry::dropServerUse(const std::string& host, std::shared_ptr<Server> server) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--server->uses == 0)
        servers_.erase(host);
}

void WatchRegistry::releaseIdle() {
    std::vector<Key> idle;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        idle.swap(idle_);
    }
    for (const Key& key : idle) {
        std::shared_ptr<Server> server;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const auto found = servers_.find(key.first);
            if (found == servers_.end())
                continue;
            server = found->second;
        }
        std::shared_ptr<Pair> pair;
        {
            std::lock_guard<std::mutex> call(server->call);
            {
                // A stream that came meanwhile keeps the pair.
                std::lock_guard<std::mutex> lock(mutex_);
                const auto found = pairs_.find(key);
                if (found == pairs_.end() || !found->second->streams.empty())
                    continue;
                pair = std::move(found->second);
                pairs_.erase(found);
            }
            BoundedCall bound(watchdog_, *server->handle, kOwnCallLimitMs);
            // Failed or not, the handler is off the library's list now.
            if (!server->handle->unregisterEventHandler(CorvaneNodeId(key.second.c_str()), &pair->handler))
                CO_DEBUG("%s", server->handle->lastError());
        }
        dropServerUse(key.first, std::move(server));
    }
}

void WatchRegistry::probe() {
    std::vector<std::shared_ptr<Server>> servers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& entry : servers_)
            servers.push_back(entry.second);
    }
    for (const std::shared_ptr<Server>& server : servers) {
        // A server busy with a registration is alive.
        std::unique_lock<std::mutex> call(server->call, std::try_to_lock);
        if (!call.owns_lock())
            continue;
        BoundedCall bound(watchdog_, *server->handle, kOwnCallLimitMs);
        server->handle->ping(kOwnCallLimitMs);
    }
}

void WatchRegistry::run() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(mutex_);
    Clock::time_point nextProbe = Clock::now() + kProbeEvery;
    while (!stopping_) {
        wake_.wait_until(lock, nextProbe, [this] { return stopping_ || !idle_.empty(); });
        if (stopping_)
            break;
        lock.unlock();
        releaseIdle();
        if (Clock::now() >= nextProbe) {
            probe();
            nextProbe = Clock::now() + kProbeEvery;
        }
        lock.lock();
    }
}
