#include "sim/SimEvents.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <system_error>

#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcAPI.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/rcApi/rcServerContext.h"
#include "base/time/CoClock.h"

namespace CorvaneSim {

namespace {

// Loopback clients answer at once; anything slower is a stalled client.
constexpr int kCallTimeoutMs = 2000;
// What a send from a thread that changes nodes may wait for the socket.
constexpr int kDirectTimeoutMs = 100;

std::atomic<SimEvents*> gCurrent{nullptr};

}  // namespace

struct SimEvents::Link {
    std::mutex mutex;  // serialises the use of api
    Corvane::rcAPI api;
    size_t queued = 0;  // events of this link in queue_; SimEvents::mutex_
};

SimEvents::SimEvents() = default;

SimEvents::~SimEvents() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
        if (busy_)
            busy_->stop("The server is stopping");  // a connect may otherwise wait seconds
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void SimEvents::start() {
    try {
        thread_ = std::thread(&SimEvents::run, this);
    } catch (const std::system_error& e) {
        const std::string text = std::string("Could not start the event thread: ") + e.what();
        throw Corvane::CoException(text.c_str(), __LINE__, __FILE__);
    }
}

SimEvents* SimEvents::current() { return gCurrent.load(); }

void SimEvents::setCurrent(SimEvents* events) { gCurrent.store(events); }

void SimEvents::registered(int port, int connection, const std::string& subject) {
    // Events go back where the registration came from; a reply held by a
    // delay is sent outside the command, with no client at hand.
    std::string host = "127.0.0.1";
    Corvane::rcServerContext::Client* client = server_ ? server_->currentClient() : nullptr;
    std::string peer;
    if (client && client->getDescriptor() && client->getDescriptor()->getPeerIP(peer) && !peer.empty())
        host = peer;
    std::lock_guard<std::mutex> guard(mutex_);
    for (const Registration& r : registrations_)
        if (r.host == host && r.port == port && r.connection == connection && r.subject == subject)
            return;
    if (registrations_.size() >= kMaxRegistrations)
        return;
    registrations_.push_back(Registration{host, port, connection, subject});
}

void SimEvents::unregistered(int port, int connection, const std::string& subject) {
    std::lock_guard<std::mutex> guard(mutex_);
    registrations_.erase(std::remove_if(registrations_.begin(), registrations_.end(),
                                        [&](const Registration& r) {
                                            return r.port == port && r.connection == connection &&
                                                   (subject.empty() || r.subject == subject);
                                        }),
                         registrations_.end());
}

bool SimEvents::isUnder(const std::string& node, const std::string& subject) {
    if (node == subject || subject == "/")
        return true;
    return node.size() > subject.size() && node.compare(0, subject.size(), subject) == 0 && node[subject.size()] == '/';
}

void SimEvents::changed(const std::string& node, const char* type, const Details& details) {
    Corvane::rcAttrStream detail;
    detail.addStringValue("Node", node);
    detail.addStringValue("Time", std::to_string(Corvane::CoClock::monotonicUs()));
    for (const auto& d : details)
        detail.addStringValue(d.first.c_str(), d.second);
    size_t dropped = 0;
    bool queued = false;
    std::vector<Pending> direct;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        for (const Registration& r : registrations_) {
            if (!isUnder(node, r.subject))
                continue;
            Corvane::rcAttrStream payload;
            payload.addStringValue("NodeId", r.subject);
            payload.addStringValue("Type", type);
            payload.addStringValue("Details", detail.str());
            Pending p{linkLocked(r.host, r.port), r.host, r.port, r.connection, payload.str()};
            if (p.link->queued == 0) {
                direct.push_back(std::move(p));
            } else if (queue_.size() < kMaxQueued) {
                ++p.link->queued;
                queue_.push_back(std::move(p));
                queued = true;
            } else {
                ++dropped;
            }
        }
    }
    for (Pending& p : direct) {
        if (sendNow(p))
            continue;
        std::lock_guard<std::mutex> guard(mutex_);
        if (queue_.size() >= kMaxQueued) {
            ++dropped;
            continue;
        }
        ++p.link->queued;
        queue_.push_back(std::move(p));
        queued = true;
    }
    if (dropped > 0)
        CO_WARNING("Dropped %zu events of '%s': too many are waiting", dropped, node.c_str());
    if (queued)
        wake_.notify_one();
}

SimEvents::Link* SimEvents::linkLocked(const std::string& host, int port) {
    std::unique_ptr<Link>& link = links_[std::make_pair(host, port)];
    if (!link)
        link = std::make_unique<Link>();
    return link.get();
}

bool SimEvents::sendNow(Pending& p) {
    std::unique_lock<std::mutex> use(p.link->mutex, std::try_to_lock);
    if (!use.owns_lock())
        return false;
    // call() itself refuses a link never connected, or one the client closed.
    std::string result;
    if (p.link->api.call(p.connection, "NodeEvent", p.payload.c_str(), false, result, kDirectTimeoutMs))
        return true;
    p.link->api.disconnect();  // the sender connects again
    return false;
}

void SimEvents::run() {
    for (;;) {
        Pending next;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                return;
            next = std::move(queue_.front());
            queue_.pop_front();
            busy_ = &next.link->api;
        }
        {
            std::lock_guard<std::mutex> use(next.link->mutex);
            Corvane::rcAPI* api = &next.link->api;
            std::string result;
            const bool sent =
                (api->isConnected() || api->connect(next.host.c_str(), next.port, kCallTimeoutMs)) &&
                api->call(next.connection, "NodeEvent", next.payload.c_str(), false, result, kCallTimeoutMs);
            if (!sent) {
                CO_WARNING("Could not send an event to '%s:%d': %s", next.host.c_str(), next.port,
                           api->lastError().c_str());
                api->disconnect();
            }
        }
        std::lock_guard<std::mutex> guard(mutex_);
        busy_ = nullptr;
        // Counted until sent, so that no later event overtakes it.
        --next.link->queued;
    }
}

}  // namespace CorvaneSim
