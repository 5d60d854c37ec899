#include "client/api/CorvaneServerImp.h"

#include <algorithm>
#include <cassert>
#include <exception>
#include <mutex>

#include "base/threads/CoLockGuard.h"
#include "client/api/CorvaneBaseClientAPI.h"
#include "client/api/CorvaneConnectionTable.h"
#include "client/api/CorvaneFrameClientAPI.h"
#include "client/api/CorvaneNodeClientAPI.h"
#include "client/api/CorvaneRawDataClientConnection.h"

namespace {
// Older servers have no frame channel a client can use.
constexpr int kFrameVersion[4] = {2012, 0, 0, 5120};

// The list of live implementations. Both are constant-initialised and
// never torn down, so that a handle in a static object may still be
// destroyed after the other statics are gone.
std::mutex gServersMutex;              // guards the list, and each release from library stop
CorvaneServerImp* gServers = nullptr;  // the first of the list

}  // namespace

CorvaneServerImp::CorvaneServerImp(const CorvaneServerId& id)
    : serverId_(id), loginTimeoutMs_(CorvaneClientConnection::defaultLoginTimeoutMs()) {
    std::lock_guard<std::mutex> guard(gServersMutex);
    next_ = gServers;
    if (next_)
        next_->previous_ = this;
    gServers = this;
}

CorvaneServerImp::~CorvaneServerImp() {
    {
        std::lock_guard<std::mutex> guard(gServersMutex);
        (previous_ ? previous_->next_ : gServers) = next_;
        if (next_)
            next_->previous_ = previous_;
    }
    release();
}

void corvaneReleaseAllServers() {
    // Held across the releases, which may talk to servers: a handle being
    // destroyed on another thread must not release at the same time.
    std::lock_guard<std::mutex> guard(gServersMutex);
    for (CorvaneServerImp* server = gServers; server; server = server->next_)
        server->release();
}

bool CorvaneServerImp::libraryReady() { return corvaneConnectionTableExists() || fail(kNotInitialised); }

void CorvaneServerImp::release() {
    // The encoders and the link point at the connection: release them
    // before the reference.
    eventLink_.reset();
    nodeApi_.reset();
    baseApi_.reset();
    std::unique_ptr<CorvaneFrameClientAPI> frameClient;
    std::unique_ptr<CorvaneRawDataClientConnection> frameLink;
    {
        Corvane::CoLockGuard guard(connectionMutex_);
        connection_ = nullptr;
        shared_.reset();
        frameClient = std::move(frameClient_);
        frameLink = std::move(frameLink_);
    }
    // Closed here, outside the lock; the client reads through the link.
    frameClient.reset();
}

bool CorvaneServerImp::connect(unsigned int callTimeoutMs) {
    if (!share())
        return false;
    try {
        connection_->connect(std::min(loginTimeoutMs_, callTimeoutMs));
        return true;
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

bool CorvaneServerImp::share() {
    if (!libraryReady())
        return false;
    if (shared_.get())
        return true;
    try {
        CorvaneClientConnection::Shared shared(serverId_);
        if (!shared.get())
            return fail("Unable to create a connection to Corvane server '" + std::string(serverId_.getStr()) + "'");
        nodeApi_.reset();
        baseApi_.reset();
        {
            Corvane::CoLockGuard guard(connectionMutex_);
            shared_ = std::move(shared);
            connection_ = shared_.get();
        }
        baseApi_ = std::make_unique<CorvaneBaseClientAPI>(connection_);
        nodeApi_ = std::make_unique<CorvaneNodeClientAPI>(connection_);
        return true;
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

bool CorvaneServerImp::getDaemonInfo(CorvaneDaemonInfo& info) {
    if (!connect())
        return false;
    if (!baseApi_->getDaemonInfo(info_)) {
        infoStale_ = true;
        return fail(baseApi_->lastError());
    }
    infoStale_ = false;
    info = info_;
    return true;
}

bool CorvaneServerImp::isConnected() { return shared_.get() && shared_.get()->isConnected(); }

void CorvaneServerImp::disconnect() {
    if (frameLink_) {
        frameLink_->interrupt();
        frameLink_->close();
    }
    if (CorvaneClientConnection* connection = shared_.get())
        connection->forcedDisconnect();
}

void CorvaneServerImp::cancel(const char* reason, const std::thread::id* thread) {
    // An empty reason lets the connection report the abort in its own words.
    const char* text = reason && *reason ? reason : nullptr;
    Corvane::CoLockGuard guard(connectionMutex_);
    CorvaneClientConnection* shared = shared_.get();
    for (CorvaneClientConnection* connection : {shared, connection_ != shared ? connection_ : nullptr}) {
        if (!connection)
            continue;
        if (thread)
            connection->stopCallOf(*thread, text);
        else
            connection->stop(text);
    }
    if (frameClient_)
        frameClient_->interrupt();
}

CorvaneFrameClientAPI* CorvaneServerImp::frameClient() {
    if (frameClient_)
        return frameClient_.get();
    CorvaneDaemonInfo info;
    if (!getDaemonInfo(info))
        return nullptr;
    if (!serverNotOlderThan(&info, kFrameVersion[0], kFrameVersion[1], kFrameVersion[2], kFrameVersion[3])) {
        fail("Functionality not supported on remote Corvane server.");
        return nullptr;
    }
    auto link = std::make_unique<CorvaneRawDataClientConnection>(*this);
    auto client = std::make_unique<CorvaneFrameClientAPI>(*link, info);
    Corvane::CoLockGuard guard(connectionMutex_);
    frameLink_ = std::move(link);
    frameClient_ = std::move(client);
    return frameClient_.get();
}

bool CorvaneServerImp::registerEventHandler(const CorvaneNodeId& node, CorvaneNodeEvent::Handler* handler) {
    assert(handler && "hdlr");
    // Shared, not connected: the link must exist to be told of the first
    // connect too.
    if (!share())
        return false;
    if (!eventLink_) {
        try {
            CorvaneEventMonitor::instance().start();
            eventLink_ = std::make_unique<CorvaneEventMonitor::Connection>(connection_);
        } catch (const std::exception& e) {
            return fail(e.what());
        }
    }
    // Connected here, the login takes this handle's time-out; the link's
    // own call would connect with the default one.
    if (!connect())
        return false;
    return eventLink_->registerEventHandler(node, handler) || fail(eventLink_->lastError());
}

bool CorvaneServerImp::unregisterEventHandler(const CorvaneNodeId& node, CorvaneNodeEvent::Handler* handler) {
    assert(handler && "hdlr");
    // Library stop dropped every registration with the event link.
    if (!libraryReady())
        return false;
    if (!eventLink_)
        return true;
    return eventLink_->unregisterEventHandler(node, handler) || fail(eventLink_->lastError());
}

bool serverNotOlderThan(const CorvaneDaemonInfo* info, int major, int minor, int maint, int build) {
    assert(info && "info");
    const int have[] = {info->getVersionMajor(), info->getVersionMinor(), info->getVersionMaint(),
                        info->getVersionBuild()};
    const int want[] = {major, minor, maint, build};
    for (int i = 0; i < 4; ++i)
        if (have[i] != want[i])
            return have[i] > want[i];
    return true;
}
