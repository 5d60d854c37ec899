#include "sim/SimEvents.h"

#include <time.h>

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

namespace CorvaneSim {

namespace {

// Loopback clients answer at once; anything slower is a stalled client.
constexpr int kCallTimeoutMs = 2000;

std::atomic<SimEvents*> gCurrent{nullptr};

int64_t monotonicUs() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

}  // namespace

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
    return node.size() > subject.size() && node.compare(0, subject.size(), subject) == 0 &&
           node[subject.size()] == '/';
}

void SimEvents::changed(const std::string& node, const char* type, const Details& details) {
    Corvane::rcAttrStream detail;
    detail.addStringValue("Node", node);
    detail.addStringValue("Time", std::to_string(monotonicUs()));
    for (const auto& d : details)
        detail.addStringValue(d.first.c_str(), d.second);
    size_t dropped = 0;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        for (const Registration& r : registrations_) {
            if (!isUnder(node, r.subject))
                continue;
            if (queue_.size() >= kMaxQueued) {
                ++dropped;
                continue;
            }
            Corvane::rcAttrStream payload;
            payload.addStringValue("NodeId", r.subject);
            payload.addStringValue("Type", type);
            payload.addStringValue("Details", detail.str());
            queue_.push_back(Pending{r.host, r.port, r.connection, payload.str()});
        }
    }
    if (dropped > 0)
        CO_WARNING("Dropped %zu events of '%s': too many are waiting", dropped, node.c_str());
    wake_.notify_one();
}

void SimEvents::run() {
    std::map<std::pair<std::string, int>, std::unique_ptr<Corvane::rcAPI>> clients;
    for (;;) {
        Pending next;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                return;
            next = std::move(queue_.front());
            queue_.pop_front();
            std::unique_ptr<Corvane::rcAPI>& api = clients[std::make_pair(next.host, next.port)];
            if (!api)
                api = std::make_unique<Corvane::rcAPI>();
            busy_ = api.get();
        }
        Corvane::rcAPI* api = busy_;  // only this thread sets it
        std::string result;
        const bool sent = (api->isConnected() || api->connect(next.host.c_str(), next.port, kCallTimeoutMs)) &&
                          api->call(next.connection, "NodeEvent", next.payload.c_str(), false, result,
                                    kCallTimeoutMs);
        if (!sent) {
            CO_WARNING("Could not send an event to '%s:%d': %s", next.host.c_str(), next.port,
                       api->lastError().c_str());
            api->disconnect();
        }
        std::lock_guard<std::mutex> guard(mutex_);
        busy_ = nullptr;
    }
}

}  // namespace CorvaneSim
