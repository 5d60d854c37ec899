// Design note. Threads that enter the client: the "Corvane Multicast" thread
// (waits on every socket in one poll, reads datagrams, resyncs); connection
// threads (instance, resolve, refreshServer, removeServer, findStorage); the
// topology monitor thread (interface changes, through the dispatcher); and,
// before the discovery thread exists, the thread running start(), whose
// synchronous searches wait on the sockets themselves.
//
// Locks, in the order they nest: the dispatcher's lock (held while it
// reports interface changes), privateSocketsMutex_ (a datagram read from a
// private socket is handled under it), then serversMutex_ or a private
// socket's own send mutex, and hostMutex_ last of all. serversMutex_ is never
// held while sending or waiting. The creation mutex is taken only by
// instance() and destroyInstance(), never by the discovery thread.
//
// An interface change never touches the read set: a removal marks its
// socket and wakes the thread through the control pipe, and the thread
// deletes the socket at its next pass; an addition is polled from then on.
// The discovery thread runs with cancellation off except inside its wait,
// so that even a last-resort cancel never leaves a lock held.
//
// The connection of the start-up server-list fetch is parked for the
// connect that usually follows; the discovery thread closes it once it is
// too old to be reused, so that a process that never connects again (a
// long-lived FastCGI gateway) does not keep a login on the server.
//
// The start-up search of 127.0.0.1 ends early when nothing there can answer
// it: either the kernel reports the port unreachable, or the search lands
// on this client's own public socket, which shares the discovery port with
// any local server and so took the one copy of the datagram.
#include "client/api/CorvaneMulticastClient.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoMsg.h"
#include "base/network/CoNetworkConfig.h"
#include "base/rcApi/rcAPI.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/rcApi/rcConnectionInfo.h"
#include "base/threads/CoLockGuard.h"
#include "base/threads/CoTask.h"
#include "base/threads/CoThread.h"
#include "base/threads/CoThreadMgr.h"
#include "base/time/CoClock.h"
#include "client/api/CorvaneClientConnection.h"
#include "client/api/CorvaneHostFacts.h"
#include "client/api/CorvaneServerId.h"
#include "client/api/CorvaneServerRules.h"

using Corvane::CoException;
using Corvane::CoLockGuard;
using Corvane::CoMulticast;
using Corvane::CoNetworkInterface;
using Corvane::rcAttrStream;
namespace Protocol = CorvaneMulticastProtocol;

namespace {

constexpr int64_t kSearchTimeoutUs = 1000000;
// The RPC client reuses a parked connection for this long at most; past it
// the connection only holds a login on the server.
constexpr int64_t kParkedConnectionUs = 5000000;
constexpr unsigned int kServerListTimeoutMs = 5000;
constexpr int64_t kDefaultResyncSeconds = 300;
constexpr time_t kIdleWaitSeconds = 2;  // when there is no control pipe to wake the wait
constexpr const char* kLocalHost = "127.0.0.1";
constexpr const char* kNetwork = "<network>";
constexpr short kReadable = POLLIN | POLLERR | POLLHUP;  // what select counts as readable

// The discovery client keeps its times as dates: it prints them.
int64_t nowUs() { return Corvane::CoClock::wallUs(); }

// Local time of day, as the wait messages print it.
std::string timeText(int64_t us) {
    const time_t seconds = static_cast<time_t>(us / 1000000);
    tm local;
    char text[64] = "";
    if (localtime_r(&seconds, &local))
        std::strftime(text, sizeof text, "%X", &local);
    return text;
}

long envNumber(const char* name, long fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::strtol(value, nullptr, 10) : fallback;
}

// Read once, when the library is loaded: discovery keeps one setting for the
// whole process.
const int gLoadedVerbosity = static_cast<int>(std::clamp<long>(envNumber("CORVANE_MULTICAST_DEBUG", 0), 0, INT_MAX));
// A period of 0 or less would resync without pause: the default stands in.
const int64_t gLoadedResyncUs = [] {
    const long seconds = envNumber("CORVANE_MULTICAST_RESYNC_TIME", kDefaultResyncSeconds);
    return static_cast<int64_t>(seconds > 0 ? seconds : kDefaultResyncSeconds) * 1000000;
}();

// The singleton from its construction; other threads are handed it only
// once it has started (gStarted), since its start-up search writes what
// they would read.
std::atomic<CorvaneMulticastClient*> gInstance{nullptr};
std::atomic<CorvaneMulticastClient*> gStarted{nullptr};
// Set while this thread runs the singleton's start: the start-up fetch's
// own connection asks instance() for the client being started.
thread_local bool tStarting = false;

Corvane::CoMutex& creationMutex() {
    static Corvane::CoMutex mutex;
    return mutex;
}

// Set on the discovery thread, the only one whose cancellation the client
// switches around its wait.
thread_local bool tOnDiscoveryThread = false;

// A search naming one server: a newly made record with only the fields
// that narrow it.
rcAttrStream searchFor(const char* database, const char* storageId) {
    CorvaneDaemonInfo query;
    query.setDatabase(database);
    query.setStorageId(storageId);
    rcAttrStream payload;
    query.write(payload);
    return payload;
}

// A search for every server, or for those of one database.
rcAttrStream searchAll(const char* database) {
    return database && *database ? searchFor(database, nullptr) : rcAttrStream();
}

}  // namespace

// Forwards the dispatcher's interface reports to the client.
class CorvaneMulticastClient::Observer final : public Corvane::CoNetworkDispatcher::Observer {
public:
    explicit Observer(CorvaneMulticastClient* client) : client_(client) {}
    void interfaceChanged(int event, const CoNetworkInterface& interface) override {
        client_->interfaceChanged(event, interface);
    }

private:
    CorvaneMulticastClient* client_;
};

// Runs threadCB. Asked to stop (the thread manager does so at exit when the
// singleton was never destroyed), it makes the loop end at once instead of
// waiting to be cancelled.
class CorvaneMulticastClient::Task final : public Corvane::CoTask {
public:
    explicit Task(CorvaneMulticastClient* client) : client_(client) {}
    void run(Corvane::CoThread&) override { threadCB(client_); }
    void stop(Corvane::CoThread&) override {
        client_->stopping_.store(true);
        client_->wakeUp();
    }

private:
    CorvaneMulticastClient* client_;
};

// The socket of one usable interface: searches leave through it from the
// interface's own address, and the replies come back to it.
struct CorvaneMulticastClient::PrivateSocket {
    PrivateSocket(const CoNetworkInterface& usable, unsigned int port, const std::string& scope)
        : interface(usable), socket(port, scope.c_str(), usable.address().c_str()) {}

    const CoNetworkInterface interface;
    CoMulticast socket;
    Corvane::CoMutex mutex;      // serialises sends on socket
    unsigned int boundPort = 0;  // 0 when the bind failed
    bool removed = false;        // the interface went away; guarded by privateSocketsMutex_
};

CorvaneMulticastClient* CorvaneMulticastClient::instance() {
    if (CorvaneMulticastClient* client = gStarted.load())
        return client;
    if (tStarting)
        return gInstance.load();
    CoLockGuard guard(creationMutex());
    if (!gInstance.load()) {
        unsigned int port = kDefaultPort;
        std::string scope = DEFAULT_SCOPE;
        unsigned int ttl = kDefaultTtl;
        Corvane::CoNetworkConfig& config = Corvane::CoNetworkConfig::instance();
        config.getSelfDiscoveryPort(port);
        config.getSelfDiscoveryScope(scope);
        config.getSelfDiscoveryTTL(ttl);
        auto client = std::make_unique<CorvaneMulticastClient>(port, scope.c_str(), ttl);
        client->start(true);
        client.release();  // now reached through gInstance
    }
    // A client made without instance() and not started yet is all there is.
    CorvaneMulticastClient* started = gStarted.load();
    return started ? started : gInstance.load();
}

void CorvaneMulticastClient::destroyInstance() {
    CoLockGuard guard(creationMutex());
    delete gInstance.load();
    gInstance.store(nullptr);
}

CorvaneMulticastClient::CorvaneMulticastClient(unsigned int port, const char* scope, unsigned int ttl)
    : verbosity_(gLoadedVerbosity),
      resyncPeriodUs_(gLoadedResyncUs),
      port_(port),
      scope_(scope ? scope : ""),
      ttl_(ttl),
      publicSocket_(port, scope_.c_str(), nullptr),
      dispatcher_(true) {
    assert(gInstance.load() == nullptr && "instance == 0");
    gInstance.store(this);
    try {
        // Fixed for the life of the process: the configuration is read once.
        std::string uuid;
        if (Corvane::CoNetworkConfig::instance().getUUID(uuid))
            hostUuid_ = uuid;
        hostName_ = getLocalHostName().c_str();
        observer_ = std::make_unique<Observer>(this);
        dispatcher_.addObserver(observer_.get());
        dispatcher_.update();  // reports every current interface as added
    } catch (...) {
        if (observer_)
            dispatcher_.removeObserver(observer_.get());
        gInstance.store(nullptr);
        throw;
    }
    try {
        publicSocket_.setTimeToLive(static_cast<unsigned char>(ttl_));
        publicSocket_.bind(false);
        publicSocket_.join();
    } catch (const CoException& e) {
        CO_ERROR("Could not bind/join public multicast socket on '%u/%s/%u': %s", port_, scope_.c_str(), ttl_,
                 e.what());
    }
}

CorvaneMulticastClient::~CorvaneMulticastClient() {
    assert(gInstance.load() == this && "instance == this");
    gStarted.store(nullptr);
    dispatcher_.removeObserver(observer_.get());  // no report runs past this
    observer_.reset();
    try {
        publicSocket_.leave();
    } catch (const CoException& e) {
        CO_ERROR("Could not uninitialize public multicast socket ['%s']: %s", scope_.c_str(), e.what());
    }
    stop();
    closePipe();  // still open when the thread never started or was cancelled
    {
        CoLockGuard guard(privateSocketsMutex_);
        privateSockets_.clear();
    }
    // Also when deleted other than through destroyInstance().
    gInstance.store(nullptr);
}

void CorvaneMulticastClient::start(bool fetchServers) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int err = errno;
        CO_ERROR("Could not create control pipe: %s", std::strerror(err));
        throw CoException(std::strerror(err), __LINE__, __FILE__);
    }
    controlRead_.store(fds[0]);
    controlWrite_.store(fds[1]);
    if (fetchServers) {
        struct Starting {
            Starting() { tStarting = true; }
            ~Starting() { tStarting = false; }
        } starting;
        try {
            if (findServers(nullptr, nullptr, kLocalHost, 0) == 0)
                findServers(nullptr, nullptr, nullptr, 0);
        } catch (const CoException& e) {
            CO_WARNING("Could not fetch servers list: %s", e.what());
        }
    }
    Corvane::CoThread* thread = Corvane::CoThreadMgr::instance().createThread(
        new Task(this), "Corvane Multicast", Corvane::CoThread::NEW_THREAD, Corvane::CoThread::POLICY_TS,
        Corvane::CoThread::PRIORITY_MIN, -1, false);
    thread_.reset(thread);
    thread->start();
    if (gInstance.load() == this)
        gStarted.store(this);
}

void CorvaneMulticastClient::stop() {
    if (!thread_)
        return;
    stopping_.store(true);
    if (wakeUp()) {
        thread_->wait();
        closePipe();
    } else {
        thread_->cancel();
    }
    thread_.reset();
}

void CorvaneMulticastClient::closePipe() {
    const int write = controlWrite_.exchange(-1);
    if (write >= 0)
        ::close(write);
    const int read = controlRead_.exchange(-1);
    if (read >= 0)
        ::close(read);
}

bool CorvaneMulticastClient::wakeUp() {
    const int write = controlWrite_.load();
    if (controlRead_.load() < 0 || write < 0)
        return false;
    const char byte = '\n';
    if (::write(write, &byte, 1) == 1)
        return true;
    const int err = errno;
    if (err == EAGAIN)
        return true;  // a full pipe already holds a wake-up
    CO_WARNING("Could not write on control pipe: %s", std::strerror(err));
    return false;
}

void CorvaneMulticastClient::threadCB(void* arg) {
    assert(arg && "client");
    CorvaneMulticastClient* client = static_cast<CorvaneMulticastClient*>(arg);
    int old = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old);
    tOnDiscoveryThread = true;
    if (client->stopping_.load())
        return;
    for (;;) {
        try {
            const int64_t untilParkedUs = client->closeParkedWhenDue();
            const int64_t untilResyncUs = client->nextResyncUs_.load() - nowUs();
            if (untilResyncUs <= 0)
                client->resync();
            else
                client->waitForActivity(std::min(untilResyncUs, untilParkedUs));
            if (client->stopping_.load())
                return;
        } catch (const CoException& e) {
            CO_ERROR("Caught Exception: %s", e.what());
            if (client->stopping_.load())
                return;
        }
    }
}

int64_t CorvaneMulticastClient::closeParkedWhenDue() {
    const int64_t dueUs = closeParkedAtUs_.load();
    if (dueUs == 0)
        return INT64_MAX;
    const int64_t leftUs = dueUs - Corvane::CoClock::monotonicUs();
    if (leftUs > 0)
        return leftUs;
    closeParkedAtUs_.store(0);
    Corvane::rcAPI::closeParked();
    return INT64_MAX;
}

bool CorvaneMulticastClient::waitForActivity(int64_t timeoutUs) {
    const int64_t deadline = nowUs() + timeoutUs;
    for (;;) {
        if (stopping_.load() || localSearchRefused_)
            return false;
        if (deadline - nowUs() <= 0)
            return false;
        if (verbosity_ >= 2)
            CO_DEBUG("Corvane Multicast: waiting for sockets activity until %s", timeText(deadline).c_str());
        std::vector<pollfd> fds;
        const size_t privateCount = buildReadSet(fds);
        if (!pollReadSet(fds, deadline))
            continue;  // interrupted: no activity
        if (stopping_.load())
            return false;
        if (readReady(fds, privateCount))
            return true;
    }
}

size_t CorvaneMulticastClient::buildReadSet(std::vector<pollfd>& fds) {
    {
        CoLockGuard guard(privateSocketsMutex_);
        for (auto it = privateSockets_.begin(); it != privateSockets_.end();) {
            if ((*it)->removed) {
                it = privateSockets_.erase(it);
                continue;
            }
            fds.push_back(pollfd{(*it)->socket.getDescriptor(), POLLIN, 0});
            ++it;
        }
    }
    const size_t privateCount = fds.size();
    if (privateCount == 0)
        CO_WARNING("No local multicast interface found.");
    if (publicSocket_.getDescriptor() >= 0)
        fds.push_back(pollfd{publicSocket_.getDescriptor(), POLLIN, 0});
    if (controlRead_.load() >= 0)
        fds.push_back(pollfd{controlRead_.load(), POLLIN, 0});
    if (fds.empty())
        CO_DEBUG("select() will be called on no file descriptor.");
    return privateCount;
}

bool CorvaneMulticastClient::pollReadSet(std::vector<pollfd>& fds, int64_t deadline) {
    timespec wait{kIdleWaitSeconds, 0};
    if (controlRead_.load() >= 0) {
        const int64_t leftUs = std::max<int64_t>(deadline - nowUs(), 0);
        wait.tv_sec = static_cast<time_t>(leftUs / 1000000);
        wait.tv_nsec = static_cast<long>(leftUs % 1000000) * 1000;
    }
    int old = 0;
    if (tOnDiscoveryThread)
        pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &old);
    const int ready = ::ppoll(fds.data(), fds.size(), &wait, nullptr);
    const int err = errno;
    if (tOnDiscoveryThread)
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old);
    if (ready >= 0)
        return true;
    if (err == EINTR)
        return false;
    CO_ERROR("Error while waiting on sockets: %s", std::strerror(err));
    throw CoException(std::strerror(err), __LINE__, __FILE__);
}

bool CorvaneMulticastClient::readReady(const std::vector<pollfd>& fds, size_t privateCount) {
    const int control = controlRead_.load();
    if (control >= 0 && fds.back().fd == control && (fds.back().revents & kReadable)) {
        char drained[8];
        const ssize_t count = ::read(control, drained, sizeof drained);
        (void)count;  // only the wake-up matters
    }
    bool handled = false;
    const int publicFd = publicSocket_.getDescriptor();
    if (fds.size() > privateCount && fds[privateCount].fd == publicFd && (fds[privateCount].revents & kReadable)) {
        if (verbosity_ >= 2)
            CO_DEBUG("Corvane Multicast: received on public socket '%d' on '%u/%s/%u'", publicFd, port_, scope_.c_str(),
                     ttl_);
        handled = receiveOn(publicSocket_);
    }
    const auto polledEnd = fds.begin() + static_cast<std::ptrdiff_t>(privateCount);
    CoLockGuard guard(privateSocketsMutex_);
    for (const std::unique_ptr<PrivateSocket>& entry : privateSockets_) {
        const int fd = entry->socket.getDescriptor();
        const auto polled = std::find_if(fds.begin(), polledEnd, [fd](const pollfd& p) { return p.fd == fd; });
        if (polled == polledEnd || !(polled->revents & kReadable))
            continue;  // not ready, or added since the poll
        if (verbosity_ >= 2) {
            unsigned int ttl = ttl_;
            try {
                ttl = entry->socket.getTimeToLive();
            } catch (const CoException&) {
                // the configured value stands in
            }
            CO_DEBUG("Corvane Multicast: received on private socket '%d' on '%s' '%s:%u/%s/%u'", fd,
                     entry->interface.name().c_str(), entry->interface.address().c_str(), port_, scope_.c_str(), ttl);
        }
        // Every ready socket is read, also once a datagram counted.
        handled = receiveOn(entry->socket) || handled;
    }
    return handled;
}

bool CorvaneMulticastClient::receiveOn(CoMulticast& socket) {
    const bool isPublic = &socket == &publicSocket_;
    if (!isPublic) {
        // Reports of refused datagrams keep the socket readable until taken.
        for (const CoMulticast::Endpoint& refused : socket.takeUnreachable()) {
            if (localSearchHost_.empty() || refused.address != localSearchHost_)
                continue;
            localSearchRefused_ = true;
            CO_DEBUG("Corvane Multicast: no Corvane daemon listens on '%s:%u'.", refused.address.c_str(), refused.port);
        }
    }
    char text[Protocol::kMaxDatagramBytes + 1];
    int length = static_cast<int>(Protocol::kMaxDatagramBytes);
    sockaddr_storage source{};
    std::string destination;
    socket.receive(text, length, reinterpret_cast<sockaddr*>(&source), false, isPublic ? &destination : nullptr);
    if (length <= 0)
        return false;
    text[length] = '\0';
    std::string address;
    unsigned int senderPort = 0;
    CoMulticast::getAddressText(reinterpret_cast<const sockaddr*>(&source), address, senderPort);
    if (verbosity_ >= 2)
        CO_DEBUG("Corvane Multicast: received %d bytes from '%s:%u': \"%s\"", length, address.c_str(), senderPort,
                 text);

    RequestType type = RequestType::Invalid;
    rcAttrStream payload;
    if (!Protocol::decodeRequest(text, type, payload)) {
        CO_WARNING("Invalid/Corrupted packet received from '%s:%u': %s", address.c_str(), senderPort, text);
        return false;
    }
    if (verbosity_ >= 1)
        CO_DEBUG("Corvane Multicast: received '%s' from '%s:%u'", Protocol::requestTypeName(type), address.c_str(),
                 senderPort);
    if (isPublic && type == RequestType::FindServers && !localSearchHost_.empty() &&
        isOwnSearch(address, senderPort, destination)) {
        localSearchRefused_ = true;
        CO_DEBUG("Corvane Multicast: no Corvane daemon listens on '%s:%u'.", destination.c_str(), port_);
    }
    return processRequest(type, payload, address.c_str(), senderPort);
}

bool CorvaneMulticastClient::isOwnSearch(const std::string& senderAddress, unsigned int senderPort,
                                         const std::string& destination) {
    if (destination != localSearchHost_)
        return false;  // a multicast, or another host's
    CoLockGuard guard(privateSocketsMutex_);
    for (const std::unique_ptr<PrivateSocket>& entry : privateSockets_)
        if (entry->boundPort == senderPort && entry->interface.address() == senderAddress)
            return true;
    return false;
}

bool CorvaneMulticastClient::processRequest(RequestType type, rcAttrStream& payload, const char* senderAddress,
                                            unsigned int) {
    switch (type) {
        case RequestType::DiscoverServers:
        case RequestType::DiscoverServersReply: {
            CorvaneDaemonInfo record(payload);
            normaliseServer(record, senderAddress);
            addOrUpdateServer(record);
            return true;
        }
        case RequestType::RemoveServer:
            removeServer(CorvaneDaemonInfo(payload).toServerId());
            return true;
        case RequestType::Invalid:
        case RequestType::StartOfServices:
        case RequestType::FindServers:
        case RequestType::EndOfServices:
            return false;
    }
    CO_WARNING("Unknown request type: %d.", static_cast<int>(type));
    return false;
}

CorvaneThisHost CorvaneMulticastClient::thisHost() {
    CorvaneThisHost host;
    host.uuid = hostUuid_;
    host.name = hostName_;
    CoLockGuard guard(hostMutex_);
    host.addresses = hostAddresses_;
    return host;
}

void CorvaneMulticastClient::normaliseServer(CorvaneDaemonInfo& record, const char* senderAddress) {
    corvaneNormaliseServer(record, senderAddress, thisHost());
}

void CorvaneMulticastClient::addOrUpdateServer(const CorvaneDaemonInfo& record) {
    const CorvaneThisHost host = thisHost();
    bool added = false;
    {
        CoLockGuard guard(serversMutex_);
        const auto listed = std::find_if(servers_.begin(), servers_.end(), [&](const CorvaneDaemonInfo& server) {
            return corvaneSameServer(server, record, host);
        });
        if (listed == servers_.end()) {
            servers_.push_back(record);
            servers_.sort();  // stable
            added = true;
        } else {
            *listed = record;
        }
    }
    if (verbosity_ >= 1)
        CO_DEBUG(added ? "Corvane Multicast: adding '%s'" : "Corvane Multicast: updating '%s'", record.getStorageId());
}

void CorvaneMulticastClient::removeServer(const CorvaneServerId& id) {
    const std::string resolved = corvaneHostToMatch(id);
    const CorvaneThisHost host = thisHost();
    bool erased = false;
    {
        CoLockGuard guard(serversMutex_);
        const auto listed = std::find_if(servers_.begin(), servers_.end(), [&](const CorvaneDaemonInfo& server) {
            return corvaneMatchesId(server, id, resolved, host);
        });
        if (listed != servers_.end()) {
            servers_.erase(listed);
            erased = true;
        }
    }
    if (erased && verbosity_ >= 1)
        CO_DEBUG("Corvane Multicast: Removing '%s'", id.getStorageId());
}

void CorvaneMulticastClient::refreshServer(const CorvaneServerId& id) {
    const std::string resolved = corvaneHostToMatch(id);
    const CorvaneThisHost host = thisHost();
    {
        CoLockGuard guard(serversMutex_);
        for (CorvaneDaemonInfo& server : servers_) {
            if (corvaneMatchesId(server, id, resolved, host)) {
                server.touch();
                return;
            }
        }
    }
    search(searchFor(id.getDatabase(), id.getStorageId()), id.getHost());
}

void CorvaneMulticastClient::findStorage(const char* storageId) {
    if (storageId && *storageId)
        search(searchFor(nullptr, storageId), nullptr);
}

void CorvaneMulticastClient::discover(const char* database) { search(searchAll(database), nullptr); }

void CorvaneMulticastClient::search(const rcAttrStream& payload, const char* host) {
    try {
        sendRequest(RequestType::FindServers, payload, host, 0);
    } catch (const CoException& e) {
        CO_WARNING("Could not broadcast discovery request: %s", e.what());
    }
}

bool CorvaneMulticastClient::resolve(const CorvaneServerId& id, CorvaneDaemonInfo& out) {
    CO_DEBUG("Resolving CorvaneServerId( '%s' [%s:%d/%s] )", id.getStorageId(), id.getHost(), id.getPort(),
             id.getDatabase());
    const std::string resolved = corvaneHostToMatch(id);
    const CorvaneThisHost host = thisHost();
    bool found = false;
    std::vector<std::pair<std::string, std::string>> candidates;
    {
        CoLockGuard guard(serversMutex_);
        for (const CorvaneDaemonInfo& server : servers_) {
            if (corvaneMatchesId(server, id, resolved, host)) {
                out = server;
                found = true;
                break;
            }
            if (verbosity_ >= 1)
                candidates.emplace_back(server.getDisplayName(), server.getStorageId());
        }
    }
    if (!found) {
        CO_DEBUG("Unable to resolve CorvaneServerId( '%s' [%s:%d/%s] )", id.getStorageId(), id.getHost(), id.getPort(),
                 id.getDatabase());
        for (const auto& candidate : candidates)
            CO_DEBUG("Candidate on %s: '%s'", candidate.first.c_str(), candidate.second.c_str());
        return false;
    }
    if (verbosity_ >= 1)
        CO_DEBUG(
            "Resolved CorvaneServerId( '%s' [%s:%d/%s] ):\n Display Name: %s\n Storage Id  : %s\n"
            " Ports       : %u / %u\n Metadata IPs: %s\n Data IPs    : %s",
            id.getStorageId(), id.getHost(), id.getPort(), id.getDatabase(), out.getDisplayName(), out.getStorageId(),
            static_cast<unsigned>(out.getNodePort()), static_cast<unsigned>(out.getFramePort()),
            corvaneAddressText(out, false).c_str(), corvaneAddressText(out, true).c_str());
    return true;
}

void CorvaneMulticastClient::resync() {
    const int64_t now = nowUs();
    const int64_t cutoff = now - 2 * resyncPeriodUs_;
    if (verbosity_ >= 2)
        CO_DEBUG("Corvane Multicast: discarding servers inactive since %s", timeText(cutoff).c_str());
    std::vector<std::string> discarded;
    {
        CoLockGuard guard(serversMutex_);
        for (auto it = servers_.begin(); it != servers_.end();) {
            if (it->getTimestamp() < cutoff) {
                discarded.emplace_back(it->getStorageId());
                it = servers_.erase(it);
            } else {
                ++it;
            }
        }
        nextResyncUs_.store(now + resyncPeriodUs_);
    }
    if (verbosity_ >= 1)
        for (const std::string& storageId : discarded)
            CO_DEBUG("Corvane Multicast: discarding '%s'", storageId.c_str());
}

void CorvaneMulticastClient::sendRequest(RequestType type, const rcAttrStream& payload, const char* host,
                                         unsigned int port) {
    const std::string text = Protocol::encodeRequest(type, payload);
    const char* name = Protocol::requestTypeName(type);
    {
        CoLockGuard guard(privateSocketsMutex_);
        for (const std::unique_ptr<PrivateSocket>& entry : privateSockets_) {
            if (entry->removed)
                continue;  // its interface is gone
            if (verbosity_ >= 1)
                CO_DEBUG("Corvane Multicast: Sending '%s' to '%s:%u' on %s", name, host ? host : scope_.c_str(),
                         port ? port : port_, entry->interface.name().c_str());
            if (verbosity_ >= 2)
                CO_DEBUG("Corvane Multicast: Sending '%s'", text.c_str());
            try {
                CoLockGuard sendGuard(entry->mutex);
                entry->socket.send(text.data(), static_cast<int>(text.size()), host, port);
            } catch (const CoException& e) {
                if (!host)
                    CO_WARNING("Could not broadcast %s request on %s: %s", name, entry->interface.name().c_str(),
                               e.what());
                continue;  // a unicast tries the next interface quietly
            }
            if (host)
                return;
        }
    }
    if (host)
        CO_WARNING("Could not unicast %s request to %s: %s", name, host, std::strerror(EHOSTUNREACH));
}

std::vector<CorvaneDaemonInfo> CorvaneMulticastClient::servers() {
    CoLockGuard guard(serversMutex_);
    return std::vector<CorvaneDaemonInfo>(servers_.begin(), servers_.end());
}

int CorvaneMulticastClient::findServers(ServerList* out, const char* database, const char* host, unsigned int port) {
    if (!thread_) {
        if (verbosity_ >= 1)
            CO_DEBUG("Corvane Multicast: finding servers on %s:%u", host ? host : kNetwork, port_);
        {
            CoLockGuard guard(serversMutex_);
            servers_.clear();
        }
        // Armed for this search only, also when the fetch throws.
        struct LocalSearch {
            CorvaneMulticastClient& client;
            LocalSearch(CorvaneMulticastClient& c, const char* searched) : client(c) {
                client.localSearchHost_ = searched ? searched : "";
                client.localSearchRefused_ = false;
            }
            ~LocalSearch() {
                client.localSearchHost_.clear();
                client.localSearchRefused_ = false;
            }
        } localSearch(*this, host);
        sendRequest(RequestType::FindServers, searchAll(database), host, port);
        // An answer means a login to the server that sent it: look the user
        // up while the answer travels.
        Corvane::rcConnectionInfo::prepare();
        const int64_t deadline = nowUs() + kSearchTimeoutUs;
        for (;;) {
            bool answered = false;
            CorvaneDaemonInfo first;
            {
                CoLockGuard guard(serversMutex_);
                if (!servers_.empty()) {
                    first = servers_.front();
                    answered = true;
                }
            }
            if (answered) {
                fetchServerList(first, database);
                break;
            }
            if (verbosity_ >= 2)
                CO_DEBUG("Corvane Multicast: waiting on sockets until %s", timeText(deadline).c_str());
            const int64_t now = nowUs();
            if (now > deadline || !waitForActivity(deadline - now)) {
                CO_DEBUG("Unable to find a Corvane daemon on %s (time-out).", host ? host : scope_.c_str());
                return 0;
            }
        }
    }
    if (out)
        out->clear();
    const bool filtered = database && *database;
    int count = 0;
    CoLockGuard guard(serversMutex_);
    for (const CorvaneDaemonInfo& server : servers_) {
        if (filtered && std::strcmp(server.getDatabase(), database) != 0)
            continue;
        ++count;
        if (out)
            out->push_back(server);
    }
    return count;
}

void CorvaneMulticastClient::fetchServerList(const CorvaneDaemonInfo& from, const char* database) {
    const CorvaneServerId id = from.toServerId();
    const std::string name = id.getStr();
    if (verbosity_ >= 1)
        CO_DEBUG("Corvane Multicast: fetching servers list from '%s'.", name.c_str());
    CorvaneClientConnection connection(id);
    std::string result;
    connection.callMethod("GetDaemonList", "", true, result, kServerListTimeoutMs);
    ServerList fetched;
    Protocol::decodeServerList(result, fetched, database);
    if (verbosity_ >= 1)
        CO_DEBUG("Corvane Multicast: fetched %d servers from '%s'.", static_cast<int>(fetched.size()), name.c_str());
    // No sender address: the records come from the server's own list.
    for (CorvaneDaemonInfo& record : fetched) {
        normaliseServer(record, nullptr);
        addOrUpdateServer(record);
    }
    // Most often the caller is about to connect to this very server.
    connection.park();
    closeParkedAtUs_.store(Corvane::CoClock::monotonicUs() + kParkedConnectionUs);
}

void CorvaneMulticastClient::interfaceChanged(int event, const CoNetworkInterface& interface) {
    {
        CoLockGuard guard(hostMutex_);
        if (event == Corvane::CoNetworkDispatcher::kInterfaceAdded) {
            hostAddresses_.push_back(interface.address());
        } else if (event == Corvane::CoNetworkDispatcher::kInterfaceRemoved) {
            const auto gone = std::find(hostAddresses_.begin(), hostAddresses_.end(), interface.address());
            if (gone != hostAddresses_.end())
                hostAddresses_.erase(gone);
        }
    }
    if (!interface.has(CoNetworkInterface::Multicast) || interface.has(CoNetworkInterface::IPv6))
        return;
    {
        CoLockGuard guard(privateSocketsMutex_);
        if (event == Corvane::CoNetworkDispatcher::kInterfaceAdded) {
            if (verbosity_ >= 1)
                CO_DEBUG("Corvane Multicast: start multicasting on '%s'", interface.name().c_str());
            if (std::unique_ptr<PrivateSocket> entry = openPrivateSocket(interface))
                privateSockets_.push_back(std::move(entry));
        } else if (event == Corvane::CoNetworkDispatcher::kInterfaceRemoved) {
            for (const std::unique_ptr<PrivateSocket>& entry : privateSockets_) {
                if (entry->removed || entry->interface != interface)
                    continue;
                if (verbosity_ >= 1)
                    CO_DEBUG("Corvane Multicast: drop multicasting on '%s'", interface.name().c_str());
                entry->removed = true;
                break;
            }
        }
    }
    if (event == Corvane::CoNetworkDispatcher::kInterfaceRemoved)
        wakeUp();  // the thread rebuilds its read set
    else if (event == Corvane::CoNetworkDispatcher::kInterfaceAdded)
        discover(nullptr);
}

std::unique_ptr<CorvaneMulticastClient::PrivateSocket> CorvaneMulticastClient::openPrivateSocket(
    const CoNetworkInterface& interface) {
    const char* name = interface.name().c_str();
    const char* address = interface.address().c_str();
    std::unique_ptr<PrivateSocket> entry;
    try {
        entry = std::make_unique<PrivateSocket>(interface, port_, scope_);
    } catch (const CoException& e) {
        // Without a socket there is nothing to keep.
        CO_ERROR("Could not bind private multicast socket on '%s' '%s:%u/%s/%u': %s", name, address, port_,
                 scope_.c_str(), ttl_, e.what());
        return nullptr;
    }
    if (verbosity_ >= 1)
        CO_DEBUG("Corvane Multicast: multicast on %s '%s:%u/%s/%u'", name, address, port_, scope_.c_str(), ttl_);
    try {
        entry->socket.setTimeToLive(static_cast<unsigned char>(ttl_));
        entry->socket.setLoopback(1);
        entry->socket.bind(true);
        entry->boundPort = entry->socket.getBoundPort();
    } catch (const CoException& e) {
        CO_ERROR("Could not bind private multicast socket on '%s' '%s:%u/%s/%u': %s", name, address, port_,
                 scope_.c_str(), ttl_, e.what());
    }
    if (verbosity_ >= 2)
        CO_DEBUG("Corvane Multicast: opened private socket '%d' on  '%s' '%s:%u/%s/%u'", entry->socket.getDescriptor(),
                 name, address, port_, scope_.c_str(), ttl_);
    return entry;
}
