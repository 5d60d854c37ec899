#include "client/api/CorvaneEventListener.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcServerContext.h"
#include "base/tcp/CoIoTcpDescriptor.h"

namespace {

constexpr int kBacklog = 16;
// Connections taken per readiness, so that a flood cannot starve the
// clients already connected.
constexpr int kAcceptsPerPass = 16;
// Rounds of binding every address to one port, each started afresh when a
// later address finds the first one's port taken.
constexpr int kPortAttempts = 20;

void setInt(int fd, int level, int name, int value) { ::setsockopt(fd, level, name, &value, sizeof value); }

}  // namespace

CorvaneEventListener::CorvaneEventListener(Corvane::rcServerContext& server, int fd, std::string address)
    : Corvane::CoIoHandler(kReadEvent), server_(server), socket_(fd), address_(std::move(address)) {}

std::unique_ptr<CorvaneEventListener> CorvaneEventListener::open(Corvane::rcServerContext& server,
                                                                 const std::string& address, int port,
                                                                 int* boundPort, int* err) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
        *err = EINVAL;
        return nullptr;
    }
    const int family = found->ai_family;
    int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    bool ok = fd >= 0;
    if (ok) {
        setInt(fd, IPPROTO_TCP, TCP_NODELAY, 1);
        if (family == AF_INET6)
            setInt(fd, IPPROTO_IPV6, IPV6_V6ONLY, 1);
        ok = ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, kBacklog) == 0;
    }
    sockaddr_storage bound;
    socklen_t len = sizeof bound;
    ok = ok && ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len) == 0;
    *err = ok ? 0 : errno;
    ::freeaddrinfo(found);
    if (!ok) {
        if (fd >= 0)
            ::close(fd);
        return nullptr;
    }
    *boundPort = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                         : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return std::unique_ptr<CorvaneEventListener>(new CorvaneEventListener(server, fd, address));
}

std::vector<std::unique_ptr<CorvaneEventListener>> CorvaneEventListener::openAll(
    Corvane::rcServerContext& server, const std::vector<std::string>& addresses, int* port) {
    std::vector<std::unique_ptr<CorvaneEventListener>> listeners;
    for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
        listeners.clear();
        *port = -1;
        bool retry = false;
        for (const std::string& address : addresses) {
            int bound = -1;
            int err = 0;
            std::unique_ptr<CorvaneEventListener> l = open(server, address, *port < 0 ? 0 : *port, &bound, &err);
            if (l) {
                *port = bound;
                listeners.push_back(std::move(l));
                continue;
            }
            if (err == EADDRINUSE && *port >= 0) {
                retry = true;  // the port is taken on this address only: try another
                break;
            }
            // An address can go between listing the interfaces and binding.
            CO_WARNING("Could not listen for node events on '%s': %s", address.c_str(),
                       Corvane::CoIoDescriptor::errnoText(err).c_str());
        }
        if (!retry)
            return listeners;
    }
    CO_ERROR("Could not find a port free on every metadata interface");
    listeners.clear();
    *port = -1;
    return listeners;
}

bool CorvaneEventListener::handleReadable() {
    for (int i = 0; i < kAcceptsPerPass; ++i) {
        const int fd = ::accept4(socket_.getFd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            // Nothing more waiting, or a client that gave up before we got to it.
            if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR || err == ECONNABORTED || err == EPROTO)
                return true;
            // Out of descriptors: keep listening, the next pass may do better.
            if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
                CO_ERROR("Can't accept client connection on '%s': %s", address_.c_str(),
                         Corvane::CoIoDescriptor::errnoText(err).c_str());
                return true;
            }
            CO_ERROR("Listening socket on '%s' failed: %s", address_.c_str(),
                     Corvane::CoIoDescriptor::errnoText(err).c_str());
            return false;
        }
        server_.newConnection(std::make_unique<Corvane::CoIoTcpDescriptor>(fd));
    }
    return true;
}
