#include "sim/SimListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcServerContext.h"
#include "base/tcp/CoAccept.h"
#include "base/tcp/CoIoTcpDescriptor.h"

namespace CorvaneSim {

namespace {

constexpr int kBacklog = 16;
// Connections taken per readiness, so that a flood cannot starve the
// clients already connected.
constexpr int kAcceptsPerPass = 16;

bool setInt(int fd, int level, int name, int value) { return ::setsockopt(fd, level, name, &value, sizeof value) == 0; }

}  // namespace

SimListener::SimListener(Corvane::rcServerContext& server, int fd, int port)
    : Corvane::CoIoHandler(kReadEvent), server_(server), socket_(fd), port_(port) {}

std::unique_ptr<SimListener> SimListener::open(Corvane::rcServerContext& server, const char* address, int port,
                                               std::string* error, int* errnoValue) {
    const bool v6 = std::strchr(address, ':') != nullptr;
    sockaddr_storage addr;
    std::memset(&addr, 0, sizeof addr);
    socklen_t len = 0;
    if (v6) {
        sockaddr_in6* a = reinterpret_cast<sockaddr_in6*>(&addr);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(static_cast<uint16_t>(port));
        len = sizeof *a;
        ::inet_pton(AF_INET6, address, &a->sin6_addr);
    } else {
        sockaddr_in* a = reinterpret_cast<sockaddr_in*>(&addr);
        a->sin_family = AF_INET;
        a->sin_port = htons(static_cast<uint16_t>(port));
        len = sizeof *a;
        ::inet_pton(AF_INET, address, &a->sin_addr);
    }

    const char* step = "create a socket for";
    int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd >= 0) {
        // A restarted server gets its fixed port back at once.
        setInt(fd, SOL_SOCKET, SO_REUSEADDR, 1);
        setInt(fd, IPPROTO_TCP, TCP_NODELAY, 1);
        if (v6)
            setInt(fd, IPPROTO_IPV6, IPV6_V6ONLY, 1);
        step = "bind to";
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0) {
            step = "listen on";
            if (::listen(fd, kBacklog) == 0) {
                step = "read the port of";
                len = sizeof addr;
                if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
                    const int bound = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port
                                               : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
                    return std::unique_ptr<SimListener>(new SimListener(server, fd, bound));
                }
            }
        }
    }
    const int err = errno;
    if (fd >= 0)
        ::close(fd);
    *errnoValue = err;
    *error = std::string("Could not ") + step + " '" + address + "' port " + std::to_string(port) + ": " +
             Corvane::CoIoDescriptor::errnoText(err);
    return nullptr;
}

bool SimListener::handleReadable() {
    return Corvane::acceptPass(socket_.getFd(), kAcceptsPerPass, "port " + std::to_string(port_), [this](int fd) {
        server_.newConnection(std::make_unique<Corvane::CoIoTcpDescriptor>(fd));
    });
}

}  // namespace CorvaneSim
