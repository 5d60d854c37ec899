#include "client/api/CorvaneServerImp.h"

#include <algorithm>
#include <cassert>
#include <exception>

#include "base/threads/CoLockGuard.h"
#include "client/api/CorvaneBaseClientAPI.h"
#include "client/api/CorvaneFrameClientAPI.h"
#include "client/api/CorvaneNodeClientAPI.h"
#include "client/api/CorvaneRawDataClientConnection.h"

namespace {
// Older servers have no frame channel a client can use.
constexpr int kFrameVersion[4] = {2012, 0, 0, 5120};
}  // namespace

CorvaneServerImp::CorvaneServerImp(const CorvaneServerId& id)
    : serverId_(id), loginTimeoutMs_(CorvaneClientConnection::defaultLoginTimeoutMs()) {}

CorvaneServerImp::~CorvaneServerImp() { release(); }

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
    // The link must be told of the connection's first connect too: it
    // connects through its own calls.
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
    return eventLink_->registerEventHandler(node, handler) || fail(eventLink_->lastError());
}

bool CorvaneServerImp::unregisterEventHandler(const CorvaneNodeId& node, CorvaneNodeEvent::Handler* handler) {
    assert(handler && "hdlr");
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
