#include "sim/SimDiscovery.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>

#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/tcp/CoIoDescriptor.h"
#include "base/tcp/CoMulticast.h"
#include "base/threads/CoLockGuard.h"
#include "base/time/CoClock.h"
#include "sim/SimOptions.h"

namespace CorvaneSim {

namespace {

using CorvaneMulticastProtocol::RequestType;

[[noreturn]] void throwText(const std::string& text) { throw Corvane::CoException(text.c_str(), __LINE__, __FILE__); }

CorvaneDaemonInfo readBack(const CorvaneDaemonInfo& info) {
    Corvane::rcAttrStream stream;
    info.write(stream);
    return CorvaneDaemonInfo(stream);
}

// The identity a client gives servers: the storage identifier when either
// record has one, else the database, port and first address.
bool sameServer(const CorvaneDaemonInfo& a, const CorvaneDaemonInfo& b) {
    if (*a.getStorageId() != '\0' || *b.getStorageId() != '\0')
        return std::strcmp(a.getStorageId(), b.getStorageId()) == 0;
    return std::strcmp(a.getDatabase(), b.getDatabase()) == 0 && a.getNodePort() == b.getNodePort() &&
           std::strcmp(a.getIP(0), b.getIP(0)) == 0;
}

// A search names what it wants in a record's "Database" and "StorageId";
// missing or empty means any. Read from the stream itself: a search record
// is at its defaults, whose version is too old for its storage identifier
// to be read as a record's.
bool satisfies(const CorvaneDaemonInfo& self, const Corvane::rcAttrStream& search) {
    std::string database, storageId;
    search.getValue("Database", database);
    search.getValue("StorageId", storageId);
    return (database.empty() || database == self.getDatabase()) &&
           (storageId.empty() || storageId == self.getStorageId());
}

std::string exceptionText(const Corvane::CoException& e) { return std::string(e.detail()) + ": " + e.what(); }

}  // namespace

SimDiscovery::SimDiscovery(const SimOptions& options, const CorvaneDaemonInfo& self)
    : self_(self), selfAsHeard_(readBack(self)), announceEveryMs_(int64_t{options.announceEverySec} * 1000) {
    const unsigned port = static_cast<unsigned>(options.discoveryPort);
    const char* group = options.discoveryGroup.c_str();
    const char* interface = options.discoveryInterface.c_str();
    try {
        listen_ = std::make_unique<Corvane::CoMulticast>(port, group, "");
        listen_->bind(false);
        listen_->join();
    } catch (const Corvane::CoException& e) {
        CO_ERROR("Not listening for discovery on '%u/%s': %s", port, group, exceptionText(e).c_str());
        listen_.reset();
    }
    const std::string loopback = listen_ && listen_->isIPv6() ? "::1" : "127.0.0.1";
    for (const std::string& address : {std::string(interface), loopback}) {
        if (!unicast_.empty() && address == unicast_.front()->getInterface())
            continue;
        try {
            auto socket = std::make_unique<Corvane::CoMulticast>(port, group, address.c_str());
            socket->bind(false);
            unicast_.push_back(std::move(socket));
        } catch (const Corvane::CoException& e) {
            CO_ERROR("Not listening for searches on '%s:%u': %s", address.c_str(), port, exceptionText(e).c_str());
        }
    }
    try {
        send_ = std::make_unique<Corvane::CoMulticast>(port, group, interface);
        send_->setTimeToLive(static_cast<unsigned char>(options.discoveryTtl));
        // Other servers and clients on this host must hear us.
        send_->setLoopback(1);
        send_->bind(true);
    } catch (const Corvane::CoException& e) {
        CO_ERROR("Not sending discovery from '%s' to '%u/%s': %s", interface, port, group, exceptionText(e).c_str());
        send_.reset();
    }
    Corvane::rcAttrStream stream;
    self_.write(stream);
    const std::string text = CorvaneMulticastProtocol::encodeRequest(RequestType::DiscoverServers, stream);
    if (text.size() > CorvaneMulticastProtocol::kMaxDatagramBytes)
        CO_WARNING("The server's announcement takes %zu bytes; clients read only the first %zu", text.size(),
                   CorvaneMulticastProtocol::kMaxDatagramBytes);
}

SimDiscovery::~SimDiscovery() {
    if (thread_.joinable()) {
        const char stop = 1;
        if (::write(pipe_[1], &stop, 1) != 1)
            CO_ERROR("Could not stop the discovery thread: %s", Corvane::CoIoDescriptor::errnoText(errno).c_str());
        thread_.join();
    }
    for (int fd : pipe_) {
        if (fd >= 0)
            ::close(fd);
    }
    send(RequestType::RemoveServer);
}

void SimDiscovery::start() {
    send(RequestType::DiscoverServers);
    // The servers that were there before us answer this, so that our list
    // holds them too.
    send(RequestType::FindServers);
    if (!listen_ && !send_ && unicast_.empty())
        return;
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int err = errno;
        throwText("Could not create the discovery control pipe: " + Corvane::CoIoDescriptor::errnoText(err));
    }
    try {
        thread_ = std::thread(&SimDiscovery::run, this);
    } catch (const std::system_error& e) {
        throwText(std::string("Could not start the discovery thread: ") + e.what());
    }
}

CorvaneMulticastProtocol::ServerList SimDiscovery::heard() const {
    Corvane::CoLockGuard guard(mutex_);
    return heard_;
}

void SimDiscovery::run() {
    try {
        loop();
    } catch (const Corvane::CoException& e) {
        CO_ERROR("Discovery stopped: %s", exceptionText(e).c_str());
    }
}

void SimDiscovery::loop() {
    int64_t nextAnnounceMs = announceEveryMs_ > 0 ? Corvane::CoClock::monotonicMs() + announceEveryMs_ : -1;
    std::vector<Corvane::CoMulticast*> sockets;
    for (const auto& socket : {listen_.get(), send_.get()})
        if (socket)
            sockets.push_back(socket);
    for (const auto& socket : unicast_)
        sockets.push_back(socket.get());
    std::vector<pollfd> fds(1 + sockets.size());
    for (;;) {
        fds[0] = {pipe_[0], POLLIN, 0};
        for (size_t i = 0; i < sockets.size(); ++i)
            fds[i + 1] = {sockets[i]->getDescriptor(), POLLIN, 0};
        int timeoutMs = -1;
        if (nextAnnounceMs >= 0) {
            const int64_t leftMs = nextAnnounceMs - Corvane::CoClock::monotonicMs();
            timeoutMs = static_cast<int>(std::min<int64_t>(std::max<int64_t>(leftMs, 0), INT_MAX));
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0) {
            const int err = errno;
            if (err == EINTR)
                continue;
            CO_ERROR("Discovery stopped: waiting on its sockets failed: %s",
                     Corvane::CoIoDescriptor::errnoText(err).c_str());
            return;
        }
        if (fds[0].revents != 0)
            return;
        for (size_t i = 0; i < sockets.size(); ++i) {
            // An asker that left before our reply refused it; the report
            // keeps the socket in error, and so polled, until taken.
            if (fds[i + 1].revents & POLLERR)
                sockets[i]->takeUnreachable();
            if (fds[i + 1].revents != 0)
                receiveOn(*sockets[i]);
        }
        if (nextAnnounceMs >= 0 && Corvane::CoClock::monotonicMs() >= nextAnnounceMs) {
            send(RequestType::DiscoverServers);
            nextAnnounceMs = std::max(nextAnnounceMs + announceEveryMs_, Corvane::CoClock::monotonicMs());
        }
    }
}

void SimDiscovery::receiveOn(Corvane::CoMulticast& socket) {
    char buffer[CorvaneMulticastProtocol::kMaxDatagramBytes + 1];
    int length = static_cast<int>(CorvaneMulticastProtocol::kMaxDatagramBytes);
    sockaddr_storage source;
    std::memset(&source, 0, sizeof source);
    try {
        socket.receive(buffer, length, reinterpret_cast<sockaddr*>(&source), false);
    } catch (const Corvane::CoException& e) {
        // Most often a reply's asker that has gone: its port answered
        // unreachable.
        CO_NOTICE("Discovery receive failed: %s", exceptionText(e).c_str());
        return;
    }
    if (length <= 0)
        return;
    buffer[length] = '\0';  // a longer datagram was cut here, as a client cuts it
    std::string from;
    unsigned fromPort = 0;
    Corvane::CoMulticast::getAddressText(reinterpret_cast<const sockaddr*>(&source), from, fromPort);
    RequestType type = RequestType::Invalid;
    Corvane::rcAttrStream payload;
    if (!CorvaneMulticastProtocol::decodeRequest(buffer, type, payload)) {
        CO_WARNING("Invalid/Corrupted packet received from '%s:%u': %s", from.c_str(), fromPort, buffer);
        return;
    }
    handle(type, payload, from, fromPort);
}

void SimDiscovery::handle(RequestType type, const Corvane::rcAttrStream& payload, const std::string& from,
                          unsigned fromPort) {
    switch (type) {
        case RequestType::FindServers:
            if (satisfies(self_, payload) && fromPort != 0)
                send(RequestType::DiscoverServersReply, from.c_str(), fromPort);
            break;
        case RequestType::DiscoverServers:
        case RequestType::DiscoverServersReply:
        case RequestType::RemoveServer: {
            CorvaneDaemonInfo record(payload);
            // As a client does: a record without an address is reached where
            // it came from.
            if (*record.getIP(0) == '\0')
                record.setIP(0, from.c_str());
            if (type == RequestType::RemoveServer)
                forget(record);
            else if (!sameServer(record, selfAsHeard_))
                remember(record);
            break;
        }
        default:
            break;  // the markers of the service range mean nothing to a server
    }
}

void SimDiscovery::remember(const CorvaneDaemonInfo& record) {
    bool full = false;
    {
        Corvane::CoLockGuard guard(mutex_);
        const auto known = std::find_if(heard_.begin(), heard_.end(),
                                        [&](const CorvaneDaemonInfo& r) { return sameServer(r, record); });
        if (known != heard_.end())
            *known = record;
        else if (heard_.size() < kMaxHeard)
            heard_.push_back(record);
        else
            full = true;
    }
    if (full)
        CO_WARNING("Not listing the server '%s': %zu servers are listed already", record.getStorageId(), kMaxHeard);
}

void SimDiscovery::forget(const CorvaneDaemonInfo& record) {
    Corvane::CoLockGuard guard(mutex_);
    heard_.remove_if([&](const CorvaneDaemonInfo& r) { return sameServer(r, record); });
}

void SimDiscovery::send(RequestType type, const char* address, unsigned port) {
    if (!send_)
        return;
    Corvane::rcAttrStream stream;
    if (type != RequestType::FindServers)  // a search for every server carries nothing
        self_.write(stream);
    const std::string text = CorvaneMulticastProtocol::encodeRequest(type, stream);
    try {
        send_->send(text.data(), static_cast<int>(text.size()), address, port);
    } catch (const Corvane::CoException& e) {
        CO_WARNING("Could not send %s to '%s:%u': %s", CorvaneMulticastProtocol::requestTypeName(type),
                   address ? address : send_->getGroup().c_str(), port ? port : send_->getPort(),
                   exceptionText(e).c_str());
    }
}

}  // namespace CorvaneSim
