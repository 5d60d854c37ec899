#include "client/api/CorvaneEventMonitor.h"

#include <algorithm>
#include <cassert>
#include <exception>
#include <mutex>
#include <utility>

#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoMsg.h"
#include "base/network/CoNetworkConfig.h"
#include "base/network/CoNetworkDispatcher.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/threads/CoLockGuard.h"
#include "base/threads/CoThread.h"
#include "base/threads/CoThreadMgr.h"
#include "client/api/CorvaneBaseClientAPI.h"
#include "client/api/CorvaneClientConnection.h"
#include "client/api/CorvaneDictionary.h"
#include "client/api/CorvaneEventListener.h"

namespace {

const Corvane::rcParam::Decl kNodeEventParams[] = {{&Corvane::rcParamString::TYPE, "stream"}, {nullptr, nullptr}};

// A dispatch wait that fails this many times in a row would only spin.
constexpr int kMaxFailedPasses = 3;

// The monitor while one exists. Both are constant-initialised and never
// torn down.
std::mutex gMonitorMutex;                  // guards gMonitor
CorvaneEventMonitor* gMonitor = nullptr;

int nextConnectionId() {
    // Numbers are never reused: a server may still call an old one.
    static std::atomic<int> counter{0};
    return ++counter;
}

// Holds the monitor's delivery lock, except on the monitor thread, which
// holds it already while it runs handlers.
class DeliveryGuard {
public:
    DeliveryGuard(Corvane::CoMutex& mutex, bool onMonitorThread) : mutex_(onMonitorThread ? nullptr : &mutex) {
        if (mutex_)
            mutex_->lock();
    }
    ~DeliveryGuard() {
        if (mutex_)
            mutex_->unlock();
    }
    DeliveryGuard(const DeliveryGuard&) = delete;
    DeliveryGuard& operator=(const DeliveryGuard&) = delete;

private:
    Corvane::CoMutex* mutex_;
};

}  // namespace

// Re-registers the connection's nodes after its server connection came back.
class CorvaneEventMonitor::Connection::ConnectCallback : public CorvaneClientConnection::ConnectCallback {
public:
    explicit ConnectCallback(Connection& owner) : owner_(owner) {}
    void connected(CorvaneClientConnection&) override { owner_.registerAgain(); }

private:
    Connection& owner_;
};

bool decodeNodeEvent(const std::string& payload, CorvaneNodeEvent* event, std::string* missing) {
    const Corvane::rcAttrStream stream(payload);
    std::string values[3];
    static const char* const kKeys[] = {"NodeId", "Type", "Details"};
    for (int i = 0; i < 3; ++i) {
        if (!stream.getValue(kKeys[i], values[i])) {
            *missing = kKeys[i];
            return false;
        }
    }
    *event =
        CorvaneNodeEvent(CorvaneNodeId(values[0].c_str()), values[1].c_str(), CorvaneDictionary(values[2].c_str()));
    return true;
}

CorvaneEventMonitor& CorvaneEventMonitor::instance() {
    // Not a function-local static: at exit the thread manager ends a thread
    // its owner left running and deletes its object, which a destructor run
    // then would touch. The last library stop ends the thread and deletes
    // the monitor instead. A failed construction is tried again at the next
    // call.
    std::lock_guard<std::mutex> guard(gMonitorMutex);
    if (!gMonitor)
        gMonitor = new CorvaneEventMonitor;
    return *gMonitor;
}

void CorvaneEventMonitor::destroyIfMade() {
    CorvaneEventMonitor* monitor = nullptr;
    {
        std::lock_guard<std::mutex> guard(gMonitorMutex);
        std::swap(monitor, gMonitor);
    }
    // Outside the lock: stopping waits for the monitor thread, which may be
    // asking for the instance.
    delete monitor;
}

CorvaneEventMonitor::CorvaneEventMonitor() : Corvane::rcServerContext(-1) {
    setMaxCommandBytes(kMaxLineBytes);
    registerMethod(Corvane::rcMethod(this, "NodeEvent", &CorvaneEventMonitor::receiveNodeEvent,
                                     &Corvane::rcParamVoid::TYPE, kNodeEventParams));
    boundPort_ = getPort();
    const std::vector<std::string> addresses = metadataAddresses();
    if (addresses.empty())
        return;
    // The port is open to whoever reaches these addresses and its login
    // takes anyone: keep it off the interfaces the host does not use for
    // metadata.
    appContext().unregisterIOHandler(this);
    server().close();
    listeners_ = CorvaneEventListener::openAll(*this, addresses, &boundPort_);
    for (const std::unique_ptr<CorvaneEventListener>& l : listeners_)
        appContext().registerIOHandler(l.get());
}

CorvaneEventMonitor::~CorvaneEventMonitor() {
    stop();
    for (const std::unique_ptr<CorvaneEventListener>& l : listeners_)
        appContext().unregisterIOHandler(l.get());
}

std::vector<std::string> CorvaneEventMonitor::metadataAddresses() {
    std::vector<std::string> names;
    Corvane::CoNetworkConfig::instance().getMetadataInterfaces(names);
    names.erase(std::remove(names.begin(), names.end(), std::string()), names.end());
    if (names.empty())
        return {};
    std::vector<Corvane::CoNetworkInterface> interfaces;
    Corvane::CoNetworkDispatcher dispatcher(false);
    std::vector<std::string> addresses;
    if (!dispatcher.getInterfaces(interfaces, Corvane::CoNetworkDispatcher::Type::Metadata)) {
        // Loopback is always among the metadata interfaces; the others are
        // unknown now, and guessing wider would open what was closed.
        CO_WARNING("Listening for node events on loopback only: %s", dispatcher.lastError().c_str());
        return {"127.0.0.1", "::1"};
    }
    for (const Corvane::CoNetworkInterface& i : interfaces)
        if (std::find(addresses.begin(), addresses.end(), i.address()) == addresses.end())
            addresses.push_back(i.address());
    return addresses;
}

std::vector<std::string> CorvaneEventMonitor::listenAddresses() const {
    std::vector<std::string> addresses;
    for (const std::unique_ptr<CorvaneEventListener>& l : listeners_)
        addresses.push_back(l->address());
    return addresses;
}

void CorvaneEventMonitor::start() {
    Corvane::CoLockGuard guard(threadMutex_);
    if (thread_)
        return;
    stopping_.store(false);
    thread_.reset(
        &Corvane::CoThreadMgr::createThread("Corvane Event Monitor", &CorvaneEventMonitor::threadCB, this, false));
}

void CorvaneEventMonitor::stop() {
    assert(!onMonitorThread() && "stop() from the monitor thread");
    // Held while waiting, so that no start() can run a second thread on
    // the same context meanwhile; the monitor thread never takes it.
    Corvane::CoLockGuard guard(threadMutex_);
    if (!thread_)
        return;
    stopping_.store(true);
    appContext().cancel();
    thread_->wait();
    thread_.reset();
}

bool CorvaneEventMonitor::isRunning() const {
    Corvane::CoLockGuard guard(threadMutex_);
    return thread_ != nullptr;
}

void CorvaneEventMonitor::threadCB(void* monitor) {
    CorvaneEventMonitor* self = static_cast<CorvaneEventMonitor*>(monitor);
    self->threadId_.store(std::this_thread::get_id());
    int failures = 0;
    while (!self->stopping_.load()) {
        if (self->appContext().callIOHandler(-1) >= 0) {
            failures = 0;
        } else if (++failures >= kMaxFailedPasses) {
            CO_ERROR("Node events are no longer received: the event monitor's wait keeps failing");
            break;
        }
    }
    self->threadId_.store(std::thread::id());
}

void CorvaneEventMonitor::addConnection(Connection* connection) {
    assert(isRunning() && "_thread.get()");
    assert(connection && "connection");
    bool registered = false;
    {
        Corvane::CoLockGuard guard(connectionsMutex_);
        connections_.push_back(connection);
        registered = registerObject(connection->id(), connection);
    }
    if (!registered)
        CO_WARNING("Could not register connection '%d'", connection->id());
}

void CorvaneEventMonitor::removeConnection(Connection* connection) {
    // No running thread is needed here: a handle may be released after
    // library stop, and then nothing is delivered anyway.
    assert(connection && "connection");
    bool found = false;
    bool unregistered = false;
    {
        DeliveryGuard delivery(deliveryMutex_, onMonitorThread());
        Corvane::CoLockGuard guard(connectionsMutex_);
        const auto it = std::find(connections_.begin(), connections_.end(), connection);
        found = it != connections_.end();
        if (found) {
            connections_.erase(it);
            unregistered = unregisterObject(connection->id());
        }
    }
    if (found && !unregistered)
        CO_WARNING("Could not unregister connection '%d'", connection->id());
}

bool CorvaneEventMonitor::isConnectionLive(const Connection* connection) const {
    Corvane::CoLockGuard guard(connectionsMutex_);
    return std::find(connections_.begin(), connections_.end(), connection) != connections_.end();
}

bool CorvaneEventMonitor::newConnection(std::unique_ptr<Corvane::CoIoTcpDescriptor> client) {
    if (clientCount() >= kMaxClients) {
        CO_DEBUG("Refusing an event client: %zu are connected already", clientCount());
        return true;  // the descriptor closes here
    }
    return Corvane::rcServerContext::newConnection(std::move(client));
}

bool CorvaneEventMonitor::receiveNodeEvent(void* object, const Corvane::rcMethod& method,
                                           const Corvane::rcParam::Array& args, Corvane::rcParam&) {
    // Object 0 comes from the wire, not from a programming error.
    if (!object) {
        method.setErrorText("Invalid Object: 0");
        return false;
    }
    CorvaneNodeEvent event;
    std::string missing;
    if (!decodeNodeEvent(args[0].toString(), &event, &missing)) {
        method.setErrorText("Missing '" + missing + "' parameter");
        return false;
    }
    CorvaneEventMonitor* self = static_cast<CorvaneEventMonitor*>(method.context());
    Corvane::CoLockGuard delivery(self->deliveryMutex_);
    // The connection may have gone between the command's lookup and here.
    Connection* connection = static_cast<Connection*>(object);
    if (!self->isConnectionLive(connection))
        return true;
    for (CorvaneNodeEvent::Handler* handler : connection->handlersOf(event.getNodeId()))
        handler->handleEvent(event);
    return true;
}

CorvaneEventMonitor::Connection::Connection(CorvaneClientConnection* serverConnection)
    : id_(nextConnectionId()),
      serverConnection_(serverConnection),
      connectCallback_(std::make_unique<ConnectCallback>(*this)) {
    assert(serverConnection_ && "serverConnection");
    serverConnection_->addConnectCallback(connectCallback_.get());
    CorvaneEventMonitor::instance().addConnection(this);
}

CorvaneEventMonitor::Connection::~Connection() {
    CorvaneEventMonitor& monitor = CorvaneEventMonitor::instance();
    // First, so that no reconnection registers anything again meanwhile;
    // this waits for one in progress.
    serverConnection_->removeConnectCallback(connectCallback_.get());
    {
        DeliveryGuard delivery(monitor.deliveryMutex_, monitor.onMonitorThread());
        Corvane::CoLockGuard guard(handlersMutex_);
        handlers_.clear();
    }
    CorvaneBaseClientAPI base(serverConnection_);
    if (!base.unregisterEvents(monitor.boundPort(), id_, CorvaneNodeId()))
        CO_DEBUG("%s", base.lastError());
    monitor.removeConnection(this);
}

bool CorvaneEventMonitor::Connection::registerEventHandler(const CorvaneNodeId& node,
                                                           CorvaneNodeEvent::Handler* handler) {
    assert(handler && "handler");
    CorvaneEventMonitor& monitor = CorvaneEventMonitor::instance();
    {
        DeliveryGuard delivery(monitor.deliveryMutex_, monitor.onMonitorThread());
        Corvane::CoLockGuard guard(handlersMutex_);
        const auto it = handlers_.find(node);
        if (it != handlers_.end()) {
            it->second.push_back(handler);
            return true;
        }
    }
    if (monitor.boundPort() < 0) {
        CO_LAST_ERR(*this).postError("No interface to receive node events on");
        return false;
    }
    CorvaneBaseClientAPI base(serverConnection_);
    if (!base.registerEvents(monitor.boundPort(), id_, node)) {
        CO_LAST_ERR(*this).postError("%s", base.lastError());
        return false;
    }
    DeliveryGuard delivery(monitor.deliveryMutex_, monitor.onMonitorThread());
    Corvane::CoLockGuard guard(handlersMutex_);
    handlers_[node].push_back(handler);
    return true;
}

bool CorvaneEventMonitor::Connection::unregisterEventHandler(const CorvaneNodeId& node,
                                                             CorvaneNodeEvent::Handler* handler) {
    assert(handler && "handler");
    CorvaneEventMonitor& monitor = CorvaneEventMonitor::instance();
    {
        DeliveryGuard delivery(monitor.deliveryMutex_, monitor.onMonitorThread());
        Corvane::CoLockGuard guard(handlersMutex_);
        const auto it = handlers_.find(node);
        if (it == handlers_.end()) {
            // A caller's slip, not worth printing; the text is for lastError().
            setSilentMode(true);
            CO_LAST_ERR(*this).postError("No event handler registered for node '%s'", node.getId());
            setSilentMode(false);
            return false;
        }
        std::vector<CorvaneNodeEvent::Handler*>& list = it->second;
        const auto found = std::find(list.begin(), list.end(), handler);
        if (found != list.end())
            list.erase(found);
        if (!list.empty())
            return true;
    }
    CorvaneBaseClientAPI base(serverConnection_);
    if (!base.unregisterEvents(monitor.boundPort(), id_, node)) {
        CO_LAST_ERR(*this).postError("%s", base.lastError());
        return false;  // the node stays, with no handler, still registered
    }
    DeliveryGuard delivery(monitor.deliveryMutex_, monitor.onMonitorThread());
    Corvane::CoLockGuard guard(handlersMutex_);
    const auto it = handlers_.find(node);
    if (it != handlers_.end() && it->second.empty())
        handlers_.erase(it);
    return true;
}

std::vector<CorvaneNodeEvent::Handler*> CorvaneEventMonitor::Connection::handlersOf(const CorvaneNodeId& node) const {
    Corvane::CoLockGuard guard(handlersMutex_);
    const auto it = handlers_.find(node);
    return it == handlers_.end() ? std::vector<CorvaneNodeEvent::Handler*>() : it->second;
}

void CorvaneEventMonitor::Connection::registerAgain() {
    // Runs on whichever thread reconnected, maybe another handle's: errors
    // go to the log, not to this link's last error.
    std::vector<CorvaneNodeId> nodes;
    {
        Corvane::CoLockGuard guard(handlersMutex_);
        for (const auto& entry : handlers_)
            nodes.push_back(entry.first);
    }
    const int port = CorvaneEventMonitor::instance().boundPort();
    CorvaneBaseClientAPI base(serverConnection_);
    // Whatever the server remembers of this number is stale, even with no
    // node left here: a registration whose reply was lost, or one given up
    // on, may still be held there.
    if (!base.unregisterEvents(port, id_, CorvaneNodeId()))
        CO_ERROR("%s", base.lastError());
    for (const CorvaneNodeId& node : nodes) {
        if (!serverConnection_->isConnected())
            break;
        if (!base.registerEvents(port, id_, node))
            CO_ERROR("%s", base.lastError());
    }
}
