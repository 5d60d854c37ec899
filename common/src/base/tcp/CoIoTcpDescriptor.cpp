#include "base/tcp/CoIoTcpDescriptor.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoMsg.h"
#include "base/osal/CoHostName.h"
#include "base/tcp/CoLocalAddressCache.h"
#include "base/time/CoClock.h"

namespace Corvane {

namespace {

constexpr int kMaxPort = 65535;
constexpr size_t kHostNameBytes = 128;
constexpr size_t kNumericHostSize = 256;

using AddrInfoPtr = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;

// getaddrinfo for stream sockets in the configured family; the resolver's
// code is returned, *out is set on success and *err holds errno.
int resolve(const char* host, int flags, AddrInfoPtr* out, int* err) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = CoIoDescriptor::resolveAsIpv6() ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(host, nullptr, &hints, &list);
    *err = errno;
    if (rc == 0)
        out->reset(list);
    return rc;
}

[[noreturn]] void throwResolverError(int rc, int err, const char* what, const char* host) {
    const std::string text = rc == EAI_SYSTEM ? CoIoDescriptor::errnoText(err) : ::gai_strerror(rc);
    CoException(__LINE__, __FILE__).raise(text.c_str(), "%s '%s'", what, host);
}

bool setPortOf(sockaddr* addr, int port) {
    if (addr->sa_family == AF_INET) {
        reinterpret_cast<sockaddr_in*>(addr)->sin_port = htons(static_cast<uint16_t>(port));
        return true;
    }
    if (addr->sa_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(addr)->sin6_port = htons(static_cast<uint16_t>(port));
        return true;
    }
    return false;
}

}  // namespace

CoIoTcpDescriptor::CoIoTcpDescriptor() : CoIoDescriptor(INVALID_ID) {}

CoIoTcpDescriptor::CoIoTcpDescriptor(int fd) : CoIoDescriptor(fd) {}

CoIoTcpDescriptor::CoIoTcpDescriptor(const char* remoteHost, int port, int sendBufSize, int rcvBufSize,
                                     int connectionTimeout)
    : CoIoDescriptor(INVALID_ID) {
    connectTo(remoteHost, port, sendBufSize, rcvBufSize, connectionTimeout);
}

bool CoIoTcpDescriptor::connectTo(const char* remoteHost, int port, int sendBufSize, int rcvBufSize,
                                  int connectionTimeout) {
    assert(remoteHost && "remoteHost");
    assert(port >= 0 && "port >= 0");
    assert(sendBufSize >= 0 && "sendBufSize >= 0");
    assert(rcvBufSize >= 0 && "rcvBufSize >= 0");
    assert(connectionTimeout >= 0 && "connectionTimeout >= 0");
    assert(!isValid() && "!isValid()");
    AddrInfoPtr addrs(nullptr, &::freeaddrinfo);
    int err = 0;
    int rc = resolve(remoteHost, AI_NUMERICHOST, &addrs, &err);
    if (rc == EAI_NONAME && !cancelled())
        rc = resolve(remoteHost, 0, &addrs, &err);
    if (cancelled()) {
        setError(ErrorCode::Aborted);
        return false;
    }
    if (rc != 0) {
        CO_DEBUG("Could not get info on '%s': %s", remoteHost, ::gai_strerror(rc));
        if (rc == EAI_SYSTEM)
            setError(ErrorCode::System, err);
        else
            setError(ErrorCode::NoAddress);
        return false;
    }
    addrinfo* ai = addrs.get();
    if (port > kMaxPort || !setPortOf(ai->ai_addr, port)) {
        setError(ErrorCode::System, port > kMaxPort ? EINVAL : EAFNOSUPPORT);
        return false;
    }
    const int fd = ::socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        err = errno;
        setError(ErrorCode::System, err);
        return false;
    }
    setFd(fd);
    setNoDelay(true);
    if (sendBufSize > 0)
        setSendBufferSize(sendBufSize);
    if (rcvBufSize > 0)
        setReceiveBufferSize(rcvBufSize);
    setNonBlocking(true);

    if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) {
        CO_DEBUG("Connected to %s:%d [fd:%d]", remoteHost, port, fd);
        return true;
    }
    err = errno;
    // An interrupted connect goes on in the background, like one in progress.
    if (err != EINPROGRESS && err != EINTR) {
        setError(ErrorCode::System, err);
        return false;
    }
    const int timeoutMs = connectionTimeout > INT_MAX / 1000 ? INT_MAX : connectionTimeout * 1000;
    return finishConnect(remoteHost, port, timeoutMs);
}

bool CoIoTcpDescriptor::finishConnect(const char* remoteHost, int port, int timeoutMs) {
    const int64_t deadlineMs = CoClock::monotonicMs() + timeoutMs;
    // The cancel pipe is watched too: a cancel made before this wait began
    // has left its byte there.
    for (;;) {
        const int64_t leftMs = std::max<int64_t>(deadlineMs - CoClock::monotonicMs(), 0);
        short revents = 0;
        const Wait wait = waitFor(POLLOUT, static_cast<int>(std::min<int64_t>(leftMs, INT_MAX)), &revents);
        if (wait == Wait::Failed)
            return false;
        if (wait == Wait::Cancelled) {
            setError(ErrorCode::Aborted);
            return false;
        }
        if (wait == Wait::Ready)
            break;
        if (leftMs == 0) {
            setError(ErrorCode::TimedOut);
            return false;
        }
    }
    int status = 0;
    socklen_t len = sizeof status;
    if (::getsockopt(getFd(), SOL_SOCKET, SO_ERROR, &status, &len) != 0) {
        const int err = errno;
        CO_WARNING("Could not get status code for new connection: %s", errnoText(err).c_str());
        setError(ErrorCode::System, err);
        return false;
    }
    if (status == 0) {
        CO_DEBUG("Connected to %s:%d [fd:%d]", remoteHost, port, getFd());
        return true;
    }
    setLastError(errnoText(status));
    return false;
}

bool CoIoTcpDescriptor::setNoDelay(bool on) {
    const int value = on ? 1 : 0;
    if (::setsockopt(getFd(), IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0)
        return true;
    const int err = errno;
    CO_DEBUG("Cannot set socket option: %s", errnoText(err).c_str());
    return false;
}

bool CoIoTcpDescriptor::setNonBlocking(bool on) {
    const int flags = ::fcntl(getFd(), F_GETFL);
    if (flags >= 0 && ::fcntl(getFd(), F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0)
        return true;
    const int err = errno;
    CO_DEBUG("Couldn't set socket as nonblocking: %s", errnoText(err).c_str());
    return false;
}

bool CoIoTcpDescriptor::getSocketIP(const sockaddr* addr, int addrLen, std::string& ip) {
    char host[kNumericHostSize];
    const int rc = ::getnameinfo(addr, static_cast<socklen_t>(addrLen), host, sizeof host, nullptr, 0, NI_NUMERICHOST);
    if (rc != 0) {
        const int err = errno;
        CO_ERROR("%s", rc == EAI_SYSTEM ? errnoText(err).c_str() : ::gai_strerror(rc));
        return false;
    }
    ip = host;
    return true;
}

bool CoIoTcpDescriptor::getSocketIP(std::string& ip) {
    sockaddr_storage addr;
    socklen_t len = sizeof addr;
    if (::getsockname(getFd(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const int err = errno;
        CO_ERROR("%s", errnoText(err).c_str());
        return false;
    }
    return getSocketIP(reinterpret_cast<sockaddr*>(&addr), static_cast<int>(len), ip);
}

bool CoIoTcpDescriptor::getPeerIP(std::string& ip) {
    sockaddr_storage addr;
    socklen_t len = sizeof addr;
    if (::getpeername(getFd(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const int err = errno;
        CO_ERROR("%s", errnoText(err).c_str());
        return false;
    }
    return getSocketIP(reinterpret_cast<sockaddr*>(&addr), static_cast<int>(len), ip);
}

std::string CoIoTcpDescriptor::shortenHostName(const std::string& name) {
    const size_t dot = name.find('.');
    if (dot == std::string::npos || name.compare(dot, 6, ".local") == 0)
        return name;
    return name.substr(0, dot);
}

std::string CoIoTcpDescriptor::getHostNameFromIpAddr(const char* ipAddr, bool shortName) {
    assert(ipAddr && "ipAddr");
    AddrInfoPtr addrs(nullptr, &::freeaddrinfo);
    int err = 0;
    int rc = resolve(ipAddr, 0, &addrs, &err);
    if (rc != 0)
        throwResolverError(rc, err, "Could not look up", ipAddr);
    char host[NI_MAXHOST];
    rc = ::getnameinfo(addrs->ai_addr, addrs->ai_addrlen, host, sizeof host, nullptr, 0, NI_NAMEREQD);
    if (rc != 0)
        throwResolverError(rc, errno, "No name for", ipAddr);
    return shortName ? shortenHostName(host) : std::string(host);
}

std::string CoIoTcpDescriptor::getIpAddrFromHostName(const char* hostName) {
    assert(hostName && "hostName");
    AddrInfoPtr addrs(nullptr, &::freeaddrinfo);
    int err = 0;
    int rc = resolve(hostName, 0, &addrs, &err);
    if (rc != 0)
        throwResolverError(rc, err, "Could not resolve", hostName);
    char host[kNumericHostSize];
    rc = ::getnameinfo(addrs->ai_addr, addrs->ai_addrlen, host, sizeof host, nullptr, 0, NI_NUMERICHOST);
    if (rc != 0)
        throwResolverError(rc, errno, "No address text for", hostName);
    return host;
}

namespace {

std::string rawLocalHostName() {
    int err = 0;
    std::optional<std::string> name = localHostName(kHostNameBytes, &err);
    if (!name)
        CO_THROW_ERRNO(err, "gethostname");
    return *name;
}

}  // namespace

std::string CoIoTcpDescriptor::getLocalHostName() { return shortenHostName(rawLocalHostName()); }

std::string CoIoTcpDescriptor::getLocalHostIpAddr() {
    // The full name, since the short one resolves only through a search
    // domain.
    return CoLocalAddressCache::instance().address([] { return getIpAddrFromHostName(rawLocalHostName().c_str()); });
}

bool CoIoTcpDescriptor::getHostNameFromIpAddr(const char* ipAddr, bool shortName, std::string& name) {
    try {
        name = getHostNameFromIpAddr(ipAddr, shortName);
        return true;
    } catch (const CoException& e) {
        CO_DEBUG("Could not get host name of '%s': %s", ipAddr, e.what());
        return false;
    }
}

bool CoIoTcpDescriptor::getIpAddrFromHostName(const char* hostName, std::string& ipAddr) {
    try {
        ipAddr = getIpAddrFromHostName(hostName);
        return true;
    } catch (const CoException& e) {
        CO_DEBUG("Could not resolve '%s': %s", hostName, e.what());
        return false;
    }
}

bool CoIoTcpDescriptor::getLocalHostName(std::string& name) {
    try {
        name = getLocalHostName();
        return true;
    } catch (const CoException& e) {
        CO_DEBUG("Could not get host name: %s", e.what());
        return false;
    }
}

bool CoIoTcpDescriptor::getLocalHostIpAddr(std::string& ipAddr) {
    try {
        ipAddr = getLocalHostIpAddr();
        return true;
    } catch (const CoException& e) {
        CO_DEBUG("Could not get host IP: %s", e.what());
        return false;
    }
}

}  // namespace Corvane
