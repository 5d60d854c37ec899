#include "client/api/CorvaneServerImp.h"

#include <cassert>
#include <exception>

#include "base/threads/CoLockGuard.h"
#include "client/api/CorvaneBaseClientAPI.h"
#include "client/api/CorvaneNodeClientAPI.h"

CorvaneServerImp::CorvaneServerImp(const CorvaneServerId& id) : serverId_(id) {}

CorvaneServerImp::~CorvaneServerImp() { release(); }

void CorvaneServerImp::release() {
    // The encoders point at the connection: release them before the reference.
    nodeApi_.reset();
    baseApi_.reset();
    Corvane::CoLockGuard guard(connectionMutex_);
    connection_ = nullptr;
    shared_.reset();
}

bool CorvaneServerImp::connect() {
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
        baseApi_.reset(new CorvaneBaseClientAPI(connection_));
        nodeApi_.reset(new CorvaneNodeClientAPI(connection_));
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
    if (CorvaneClientConnection* connection = shared_.get())
        connection->forcedDisconnect();
}

void CorvaneServerImp::cancel(const char* reason) {
    // An empty reason lets the connection report the abort in its own words.
    const char* text = reason && *reason ? reason : nullptr;
    Corvane::CoLockGuard guard(connectionMutex_);
    CorvaneClientConnection* shared = shared_.get();
    if (shared)
        shared->stop(text);
    if (connection_ && connection_ != shared)
        connection_->stop(text);
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
