#include "base/tcp/CoIoTcpServerDescriptor.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/loggerBase/CoMsg.h"

namespace Corvane {

namespace {

constexpr int kMaxPort = 65535;
constexpr int kListenBacklog = 5;

// Plain look-ups on every call: listening sockets are made rarely, and tests
// and tools may change the setting between them.
bool envSet(const char* name) { return std::getenv(name) != nullptr; }

bool setIntOption(int fd, int level, int name, int value) {
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}

// The wildcard address of the family, on port.
socklen_t wildcardAddress(bool ipv6, int port, sockaddr_storage* out) {
    std::memset(out, 0, sizeof *out);
    if (ipv6) {
        sockaddr_in6* addr = reinterpret_cast<sockaddr_in6*>(out);
        addr->sin6_family = AF_INET6;
        addr->sin6_addr = in6addr_any;
        addr->sin6_port = htons(static_cast<uint16_t>(port));
        return sizeof *addr;
    }
    sockaddr_in* addr = reinterpret_cast<sockaddr_in*>(out);
    addr->sin_family = AF_INET;
    addr->sin_addr.s_addr = htonl(INADDR_ANY);
    addr->sin_port = htons(static_cast<uint16_t>(port));
    return sizeof *addr;
}

}  // namespace

CoIoTcpServerDescriptor::CoIoTcpServerDescriptor() : CoIoDescriptor(INVALID_ID) {}

bool CoIoTcpServerDescriptor::initPort(int port, int sendBuf, int rcvBuf, int portMin, int portMax) {
    const bool noIpv6 = envSet("XQ_TCP_DISABLE_IPV6");
    const bool noIpv4 = envSet("XQ_TCP_DISABLE_IPV4");
    if (noIpv6 && noIpv4) {
        closeFd();
        port_ = -1;
        setLastError("No protocol available");
        return false;
    }
    return initPort(port, sendBuf, rcvBuf, portMin, portMax, !noIpv6, !noIpv6 && !noIpv4);
}

bool CoIoTcpServerDescriptor::initPort(int port, int sendBuf, int rcvBuf, int portMin, int portMax, bool ipv6,
                                       bool fallback) {
    closeFd();
    port_ = -1;
    clearError();
    if (port == 0)
        return false;

    const bool systemChosen = port == -1 && portMin == -1 && portMax == -1;
    const int low = portMin == -1 ? kDefaultPortMin : portMin;
    const int high = portMax == -1 ? kDefaultPortMax : portMax;
    const bool scan = !systemChosen && port < 0 && low != high;
    int first = port;
    if (systemChosen)
        first = 0;
    else if (port < -1)
        first = -port;
    else if (port == -1)
        first = low;
    const int last = scan ? (high < kMaxPort ? high : kMaxPort) : first;
    if (first < 0 || first > kMaxPort) {
        setError(ErrorCode::System, EINVAL);
        CO_DEBUG("Could not bind to port '%d' [fd:%d]", first, getFd());
        return false;
    }

    BindRequest request;
    request.firstPort = first;
    request.lastPort = last;
    request.scan = scan;
    request.sendBuf = sendBuf;
    request.rcvBuf = rcvBuf;
    request.ipv6 = ipv6;
    request.serveIpv4 = !envSet("XQ_TCP_DISABLE_IPV4");
    const BindResult result = bindSocket(request);
    const int bound = result.port;
    if (bound < 0) {
        if (result.retryOther && fallback) {
            clearError();
            return initPort(port, sendBuf, rcvBuf, portMin, portMax, !ipv6, false);
        }
        return false;
    }

    if (::listen(getFd(), kListenBacklog) != 0) {
        const int err = errno;
        setError(ErrorCode::System, err);
        CO_DEBUG("Could not listen on port '%d' [fd:%d]", bound, getFd());
        closeFd();
        return false;
    }
    port_ = bound;
    CO_DEBUG("Listening for%s%s%straffic on %d [fd:%d]", result.servesIpv4 ? " IPv4" : " ",
             result.servesIpv4 && ipv6 ? "/" : "", ipv6 ? "IPv6 " : " ", bound, getFd());
    return true;
}

CoIoTcpServerDescriptor::BindResult CoIoTcpServerDescriptor::bindSocket(const BindRequest& request) {
    const bool ipv6 = request.ipv6;
    BindResult result;
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int err = errno;
        CO_DEBUG("Could not create IPv%c socket on port '%d'", ipv6 ? '6' : '4', request.firstPort);
        setError(ErrorCode::System, err);
        result.retryOther = true;
        return result;
    }
    setFd(fd);

    // Scanning without address reuse, so that a port in use is seen as such.
    if (!request.scan)
        setReuseAddress(true);
    setIntOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);  // inherited by accepted sockets
    bool ipv4Served = !ipv6;
    if (ipv6) {
        if (request.serveIpv4) {
            ipv4Served = setIntOption(fd, IPPROTO_IPV6, IPV6_V6ONLY, 0);
            if (!ipv4Served) {
                const int err = errno;
                CO_WARNING("Can't set socket option to handle IPv4 traffic: '%s'.", errnoText(err).c_str());
            }
        } else {
            // The system default may be dual stack; IPv4 was switched off.
            setIntOption(fd, IPPROTO_IPV6, IPV6_V6ONLY, 1);
        }
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        const int err = errno;
        setError(ErrorCode::System, err);
        closeFd();
        return result;
    }
    if (request.sendBuf > 0)
        setSendBufferSize(request.sendBuf);
    if (request.rcvBuf > 0)
        setReceiveBufferSize(request.rcvBuf);

    // Bounded by the range, at most 65536 binds.
    for (int port = request.firstPort;; ++port) {
        sockaddr_storage addr;
        const socklen_t len = wildcardAddress(ipv6, port, &addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0)
            break;
        const int err = errno;
        if (request.scan && err == EADDRINUSE && port < request.lastPort)
            continue;
        result.retryOther = err == EADDRNOTAVAIL || err == EAFNOSUPPORT;
        setError(ErrorCode::System, err);
        CO_DEBUG("Could not bind to port '%d' [fd:%d]", port, fd);
        closeFd();
        return result;
    }

    sockaddr_storage addr;
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const int err = errno;
        CO_DEBUG("Could not retrieve bound socket name");
        setError(ErrorCode::System, err);
        closeFd();
        return result;
    }
    result.port = ipv6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port)
                       : ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    result.servesIpv4 = ipv4Served;
    return result;
}

int listenTcpOn(const std::string& address, int port, const TcpListenOptions& options, int* boundPort, int* err) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
        *err = EINVAL;
        return -1;
    }
    const int family = found->ai_family;
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | (options.nonBlocking ? SOCK_NONBLOCK : 0), 0);
    bool ok = fd >= 0;
    if (ok) {
        const int on = 1;
        if (options.reuseAddress)
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (family == AF_INET6)
            ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        ok = ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, options.backlog) == 0;
    }
    sockaddr_storage bound;
    socklen_t length = sizeof bound;
    ok = ok && ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0;
    *err = ok ? 0 : errno;
    ::freeaddrinfo(found);
    if (!ok) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    *boundPort = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                          : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return fd;
}

}  // namespace Corvane
