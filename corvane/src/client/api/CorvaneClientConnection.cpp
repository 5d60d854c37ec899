// Design note. callMethod runs on the caller's thread: under the call mutex
// it calls at once when connected; otherwise it connects (discovery's
// addresses first, then the host and port of the identifier), releases the
// mutex to tell the connect callbacks, then takes it again for the call. stop() reaches the RPC client
// without the call mutex, so another thread can end a call in progress; the
// RPC client guards its own descriptor for that. stopCallOf() does so only
// for the thread recorded, under the caller mutex, as the one connecting or
// calling: a thread records itself after taking the call mutex and before
// the RPC client forgets earlier stops, and clears the record before it
// lets the call mutex go. Lock order: callback-list mutex, then call mutex
// (a callback's own call takes the call mutex), then caller mutex.
#include "client/api/CorvaneClientConnection.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/env/EnvVar.h"
#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcAPI.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/tcp/CoIoTcpDescriptor.h"
#include "base/threads/CoLockGuard.h"
#include "client/api/CorvaneMulticastClient.h"

namespace {

Corvane::EnvVar<bool> traceVar("XQ_CORVANE_TRACE", false);
Corvane::RegEnvVar<bool> traceReg(__FILE__, traceVar);
// A server that accepts the connection and never answers the login must not
// hold the caller for the whole call's time-out, which may be endless.
Corvane::EnvVar<int> loginTimeoutVar("CORVANE_LOGIN_TIMEOUT", 5000);
Corvane::RegEnvVar<int> loginTimeoutReg(__FILE__, loginTimeoutVar);

constexpr unsigned int kDaemonInfoTimeoutMs = 100000000;
// The database a server answers to when the identifier names none.
constexpr const char* kDefaultDatabase = "OBRAN";

[[noreturn]] void throwText(const std::string& text) { throw Corvane::CoException(text.c_str(), __LINE__, __FILE__); }

// The RPC client takes an int; larger time-outs are as good as endless.
int toRcTimeout(unsigned int timeoutMs) {
    constexpr unsigned int kMax = 0x7fffffff;
    return static_cast<int>(timeoutMs > kMax ? kMax : timeoutMs);
}

// A bare host names the default database; a host name becomes its address
// when it resolves.
CorvaneServerId completed(const CorvaneServerId& given) {
    CorvaneServerId id(given);
    if (!*id.getStorageId()) {
        if (!*id.getDatabase() && id.getPort() == 0)
            id.setDatabase(kDefaultDatabase);
        const char* host = id.getHost();
        std::string address;
        if (std::isalpha(static_cast<unsigned char>(host[0])) &&
            Corvane::CoIoTcpDescriptor::getIpAddrFromHostName(host, address))
            id.setHost(address.c_str());
    }
    // The text form is cached on first use: fill it now, so that threads
    // handed the identifier (disconnect callback, discovery) only read it.
    id.getStr();
    return id;
}

// Discovery on or off: -1 until CORVANE_DISCOVERY is read or a caller
// decides.
std::atomic<int> gDiscovery{-1};

// The discovery client, or null when it is off or cannot be made (a
// discovery configuration naming no group, no descriptor left for its
// pipe): the identifier's own host and port still lead to the server.
CorvaneMulticastClient* discoveryClient() {
    if (!CorvaneClientConnection::discoveryEnabled())
        return nullptr;
    try {
        return CorvaneMulticastClient::instance();
    } catch (const Corvane::CoException& e) {
        CO_WARNING("Server discovery is unavailable: %s", e.what());
        return nullptr;
    }
}

}  // namespace

CorvaneClientConnection::DisconnectCallback CorvaneClientConnection::disconnectCB_ = nullptr;

// Records the calling thread as the one using rc_ for the scope; made and
// destroyed with the call mutex held.
class CorvaneClientConnection::CallerScope {
public:
    explicit CallerScope(CorvaneClientConnection& connection) : connection_(connection) {
        Corvane::CoLockGuard guard(connection_.callerMutex_);
        connection_.caller_ = std::this_thread::get_id();
    }
    ~CallerScope() {
        Corvane::CoLockGuard guard(connection_.callerMutex_);
        connection_.caller_ = std::thread::id();
    }
    CallerScope(const CallerScope&) = delete;
    CallerScope& operator=(const CallerScope&) = delete;

private:
    CorvaneClientConnection& connection_;
};

CorvaneClientConnection::CorvaneClientConnection(const CorvaneServerId& id)
    : rc_(std::make_unique<Corvane::rcAPI>()), serverId_(completed(id)) {
    info_.setDatabase(serverId_.getDatabase());
    info_.setIP(0, serverId_.getHost());
    info_.setStorageId(serverId_.getStorageId());
    info_.setNodePort(serverId_.getPort());
}

CorvaneClientConnection::~CorvaneClientConnection() = default;

bool CorvaneClientConnection::discoveryEnabled() {
    int enabled = gDiscovery.load();
    if (enabled < 0) {
        const char* text = std::getenv("CORVANE_DISCOVERY");
        const bool off = text && (strcasecmp(text, "off") == 0 || std::strcmp(text, "0") == 0);
        // A caller's setDiscovery() meanwhile wins over the environment.
        int unset = -1;
        enabled = off ? 0 : 1;
        if (!gDiscovery.compare_exchange_strong(unset, enabled))
            enabled = unset;
    }
    return enabled != 0;
}

void CorvaneClientConnection::setDiscovery(bool enabled) { gDiscovery.store(enabled ? 1 : 0); }

bool CorvaneClientConnection::isDiscovered(const CorvaneServerId& id) {
    CorvaneMulticastClient* discovery = discoveryClient();
    CorvaneDaemonInfo info;
    return discovery && discovery->resolve(completed(id), info);
}

bool CorvaneClientConnection::discoveredServers(std::vector<CorvaneDaemonInfo>& out) {
    out.clear();
    CorvaneMulticastClient* discovery = discoveryClient();
    if (!discovery)
        return false;
    out = discovery->servers();
    return true;
}

// Discovery's addresses for the server, in order; true once one of them
// took. A stop or a time-out ends the attempt at once: the caller's budget
// is spent.
bool CorvaneClientConnection::connectToAddressesLocked(unsigned int loginTimeoutMs) {
    CorvaneMulticastClient* discovery = discoveryClient();
    // Resolved into a copy: the table reads info_ from other threads.
    CorvaneDaemonInfo info = getDaemonInfo(true);
    if (!discovery)
        return false;
    // The record names the server as last seen (its port, its storage); a
    // server that came back under others is found by what was asked for.
    if (!discovery->resolve(info.toServerId(), info) && !discovery->resolve(serverId_, info))
        return false;
    {
        Corvane::CoLockGuard guard(infoMutex_);
        info_ = info;
    }
    for (int i = 0; i < CorvaneDaemonInfo::kMaxAddresses; ++i) {
        const char* address = info.getIP(i);
        if (!*address)
            break;
        const unsigned int port = static_cast<unsigned int>(info.getNodePort());
        CO_DEBUG("Connecting to server '%s' / '%s' using '%s:%u'", info.getDisplayName(), info.getStorageId(), address,
                 port);
        if (rc_->connect(address, info.getNodePort(), toRcTimeout(loginTimeoutMs))) {
            CO_DEBUG("Connected to server '%s' / '%s' using '%s:%u'", info.getDisplayName(), info.getStorageId(),
                     address, port);
            discovery->refreshServer(info.toServerId());
            return true;
        }
        const std::string error = rc_->lastError();
        CO_DEBUG("Could not connect to server '%s' / '%s' using '%s:%u': %s", info.getDisplayName(),
                 info.getStorageId(), address, port, error.c_str());
        if (rc_->stopped() || rc_->timedOut())
            throwText(error);
    }
    discovery->removeServer(info.toServerId());
    discovery->findStorage(info.getStorageId());
    return false;
}

void CorvaneClientConnection::connectLocked(unsigned int loginTimeoutMs) {
    {
        Corvane::CoLockGuard guard(infoMutex_);
        infoStale_ = true;
    }
    if (connectToAddressesLocked(loginTimeoutMs))
        return;

    const char* host = serverId_.getHost();
    const unsigned int port = static_cast<unsigned int>(serverId_.getPort());
    CO_DEBUG("Connecting to server [%s:%u] [%s] [%s]", host, port, serverId_.getDatabase(), serverId_.getStorageId());
    if (!*host || port == 0) {
        if (!discoveryEnabled())
            throwText("Server discovery is off, and '" + std::string(serverId_.getStr()) + "' names no port");
        throwText(std::strerror(ECONNREFUSED));
    }
    if (!rc_->connect(host, serverId_.getPort(), toRcTimeout(loginTimeoutMs))) {
        const std::string error = rc_->lastError();
        CO_DEBUG("Could not connect to server [%s:%u] [%s] [%s]: %s", host, port, serverId_.getDatabase(),
                 serverId_.getStorageId(), error.c_str());
        throwText(error);
    }
    CO_DEBUG("Connected to server [%s:%u] [%s] [%s]", host, port, serverId_.getDatabase(), serverId_.getStorageId());
    if (CorvaneMulticastClient* discovery = discoveryClient())
        discovery->refreshServer(serverId_);
}

void CorvaneClientConnection::notifyConnected() {
    // A callback whose own call found the connection lost reconnects inside
    // this loop; the outer loop tells the remaining callbacks.
    if (notifyingThread_.load() == std::this_thread::get_id())
        return;
    Corvane::CoLockGuard guard(callbacksMutex_);
    notifyingThread_.store(std::this_thread::get_id());
    for (ConnectCallback* callback : callbacks_) {
        if (!isConnected())
            break;
        callback->connected(*this);
    }
    notifyingThread_.store(std::thread::id());
}

unsigned int CorvaneClientConnection::defaultLoginTimeoutMs() {
    return static_cast<unsigned int>(loginTimeoutVar.getValue());
}

bool CorvaneClientConnection::connectIfNeeded(unsigned int loginTimeoutMs) {
    Corvane::CoLockGuard guard(callMutex_);
    if (rc_->isConnected())
        return false;
    const CallerScope caller(*this);
    connectLocked(loginTimeoutMs);
    up_.store(rc_->isConnected());
    return up_.load();
}

void CorvaneClientConnection::connect(unsigned int loginTimeoutMs) {
    // Connected as last seen: the call finds out otherwise and reconnects
    // itself, so the common case takes the call mutex once per call.
    if (up_.load())
        return;
    if (connectIfNeeded(loginTimeoutMs))
        notifyConnected();
}

void CorvaneClientConnection::callMethod(const char* method, const char* args, bool sync, std::string& result,
                                         unsigned int timeoutMs) {
    if (!args)
        args = "";
    bool lost = false;
    // A connected connection calls at once, under one taking of the call
    // mutex; a call that finds no connection connects, the callbacks told
    // without the mutex, and calls again.
    for (bool connectFirst = false;; connectFirst = true) {
        if (connectFirst)
            connect(std::min(timeoutMs, defaultLoginTimeoutMs()));
        Corvane::CoLockGuard guard(callMutex_);
        const CallerScope caller(*this);
        const bool trace = traceVar.getValue();
        if (trace)
            CO_DEBUG("Calling %s(%s)", method, args);
        const bool ok = rc_->call(0, method, args, sync, result, toRcTimeout(timeoutMs));
        if (trace)
            CO_DEBUG("Finished %s() -> '%s'", method, result.c_str());
        if (ok)
            return;
        if (!connectFirst && rc_->foundNoConnection())
            continue;
        // A time-out has closed the connection too: its reply may still come.
        lost = !rc_->isConnected();
        up_.store(!lost);
        break;
    }
    if (lost && disconnectCB_)
        disconnectCB_(serverId_);
    throwText(result);
}

CorvaneDaemonInfo CorvaneClientConnection::getDaemonInfo(bool cachedOnly) {
    {
        Corvane::CoLockGuard guard(infoMutex_);
        if (!infoStale_ || cachedOnly)
            return info_;
    }
    std::string reply;
    callMethod("GetDaemonInfo", "\"\"", true, reply, kDaemonInfoTimeoutMs);
    const CorvaneDaemonInfo fresh{Corvane::rcAttrStream(reply)};
    Corvane::CoLockGuard guard(infoMutex_);
    info_ = fresh;
    infoStale_ = false;
    return fresh;
}

bool CorvaneClientConnection::isConnected() {
    Corvane::CoLockGuard guard(callMutex_);
    return rc_->isConnected();
}

void CorvaneClientConnection::forcedDisconnect() {
    rc_->stop(nullptr);
    Corvane::CoLockGuard guard(callMutex_);
    CO_DEBUG("Forced disconnect");
    rc_->disconnect();
    up_.store(false);
}

void CorvaneClientConnection::park() {
    Corvane::CoLockGuard guard(callMutex_);
    rc_->park();
    up_.store(false);
}

void CorvaneClientConnection::stop(const char* reason) { rc_->stop(reason); }

void CorvaneClientConnection::stopCallOf(std::thread::id thread, const char* reason) {
    Corvane::CoLockGuard guard(callerMutex_);
    if (caller_ == thread && thread != std::thread::id())
        rc_->stop(reason);
}

void CorvaneClientConnection::addConnectCallback(ConnectCallback* callback) {
    Corvane::CoLockGuard guard(callbacksMutex_);
    callbacks_.push_back(callback);
}

void CorvaneClientConnection::removeConnectCallback(ConnectCallback* callback) {
    Corvane::CoLockGuard guard(callbacksMutex_);
    for (auto it = callbacks_.begin(); it != callbacks_.end(); ++it) {
        if (*it == callback) {
            callbacks_.erase(it);
            return;
        }
    }
}
