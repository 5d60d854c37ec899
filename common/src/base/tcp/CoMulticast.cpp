#include "base/tcp/CoMulticast.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/errqueue.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/loggerBase/CoException.h"
#include "base/tcp/CoIoDescriptor.h"

namespace Corvane {

namespace {

constexpr socklen_t kIpv4AddressLength = 16;
constexpr socklen_t kIpv6AddressLength = 28;
constexpr size_t kAddressTextSize = 46;
// Room for the one control message a receive asks for (packet information).
constexpr size_t kControlSize = 128;
// Reports read from the error queue in one call; the queue is bounded by
// the receive buffer anyway, this only bounds the loop.
constexpr int kMaxReports = 64;

static_assert(sizeof(sockaddr_in) == kIpv4AddressLength, "IPv4 address length");
static_assert(sizeof(sockaddr_in6) == kIpv6AddressLength, "IPv6 address length");

socklen_t lengthOf(int family) { return family == AF_INET ? kIpv4AddressLength : kIpv6AddressLength; }

// Throws with text and a printf-style detail, at the caller's line.
[[noreturn]] __attribute__((format(printf, 3, 4))) void raiseText(int line, const char* text, const char* fmt, ...) {
    char detail[CoException::kMessageSize];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(detail, sizeof detail, fmt, args);
    va_end(args);
    CoException(line, __FILE__).raise(text, "%s", detail);
}

// The system text of err with the full stop every failure here carries.
std::string errText(int err) { return std::string(std::strerror(err)) + "."; }

#define CO_MCAST_RAISE(err, ...) raiseText(__LINE__, errText(err).c_str(), __VA_ARGS__)

// Group or destination text to an address. A text the resolver refuses is
// still read as a numeric address, so that the caller's failure names it.
void resolveAddress(const char* text, sockaddr_storage* out) {
    std::memset(out, 0, sizeof *out);
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = CoIoDescriptor::resolveAsIpv6() ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(text, nullptr, &hints, &list) == 0 && list != nullptr) {
        std::memcpy(out, list->ai_addr, std::min<size_t>(list->ai_addrlen, sizeof *out));
        ::freeaddrinfo(list);
        return;
    }
    if (std::strchr(text, ':') != nullptr) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(out);
        in6->sin6_family = AF_INET6;
        ::inet_pton(AF_INET6, text, &in6->sin6_addr);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(out);
        in4->sin_family = AF_INET;
        in4->sin_addr.s_addr = ::inet_addr(text);
    }
}

// Errors that an ICMP report of an earlier send leaves pending on a socket
// with the error queue on; the next receive returns them once.
bool isRefusal(int err) { return err == ECONNREFUSED || err == EHOSTUNREACH || err == ENETUNREACH; }

bool isPortUnreachable(const sock_extended_err& report) {
    if (report.ee_origin == SO_EE_ORIGIN_ICMP)
        return report.ee_type == ICMP_DEST_UNREACH && report.ee_code == ICMP_PORT_UNREACH;
    if (report.ee_origin == SO_EE_ORIGIN_ICMP6)
        return report.ee_type == ICMP6_DST_UNREACH && report.ee_code == ICMP6_DST_UNREACH_NOPORT;
    return false;
}

// The packet-information destination of a received datagram, or "".
std::string destinationOf(msghdr& message) {
    char text[kAddressTextSize] = {};
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            if (::inet_ntop(AF_INET, &info.ipi_addr, text, sizeof text))
                return text;
        } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
            in6_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            if (::inet_ntop(AF_INET6, &info.ipi6_addr, text, sizeof text))
                return text;
        }
    }
    return "";
}

void setPort(sockaddr_storage* address, unsigned int port) {
    if (address->ss_family == AF_INET)
        reinterpret_cast<sockaddr_in*>(address)->sin_port = htons(static_cast<uint16_t>(port));
    else
        reinterpret_cast<sockaddr_in6*>(address)->sin6_port = htons(static_cast<uint16_t>(port));
}

}  // namespace

CoMulticast::CoMulticast(unsigned int port, const char* group, const char* interface)
    : group_(group ? group : ""),
      interface_(interface ? interface : ""),
      descriptor_(CoIoDescriptor::INVALID_ID),
      port_(port) {
    if (group_.empty())
        CO_MCAST_RAISE(EINVAL, "Empty scope");
    groupAddress_.reset(new (std::nothrow) sockaddr_storage());
    if (!groupAddress_)
        raiseText(__LINE__, "Out of memory.", "Cannot initialize socket address.");
    resolveAddress(group_.c_str(), groupAddress_.get());
    const int family = groupAddress_->ss_family;
    descriptor_ = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (descriptor_ < 0) {
        const int err = errno;
        descriptor_ = CoIoDescriptor::INVALID_ID;
        CO_MCAST_RAISE(err, "Unable to create a datagram socket%s",
                       family == AF_INET    ? " for IPv4"
                       : family == AF_INET6 ? " for IPv6"
                                            : "");
    }
}

CoMulticast::~CoMulticast() {
    if (descriptor_ != CoIoDescriptor::INVALID_ID)
        ::close(descriptor_);
}

bool CoMulticast::isIPv6() const { return groupAddress_->ss_family == AF_INET6; }

int CoMulticast::level() const { return isIPv6() ? IPPROTO_IPV6 : IPPROTO_IP; }

void CoMulticast::bind(bool ephemeral) {
    if (!ephemeral) {
        const int on = 1;
        if (::setsockopt(descriptor_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
            CO_MCAST_RAISE(errno, "Unable to set SO_REUSEADDR option");
    }
    // Bounded by the ephemeral range: each failed try moves one port up.
    for (unsigned int port = ephemeral ? kEphemeralPortMin : port_;; ++port) {
        sockaddr_storage local;
        std::memset(&local, 0, sizeof local);
        if (isIPv6()) {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&local);
            in6->sin6_family = AF_INET6;
            in6->sin6_addr = in6addr_any;
        } else {
            auto* in4 = reinterpret_cast<sockaddr_in*>(&local);
            in4->sin_family = AF_INET;
            in4->sin_addr.s_addr = interface_.empty() ? htonl(INADDR_ANY) : ::inet_addr(interface_.c_str());
        }
        setPort(&local, port);
        if (::bind(descriptor_, reinterpret_cast<sockaddr*>(&local), lengthOf(local.ss_family)) == 0)
            break;
        const int err = errno;
        if (ephemeral && err == EADDRINUSE && port < kEphemeralPortMax)
            continue;
        CO_MCAST_RAISE(err, "Unable to bind to %s%s%d", interface_.c_str(), interface_.empty() ? "port " : ",",
                       static_cast<int>(port));
    }
    // Extras that the socket works without: a failure leaves them off.
    const int on = 1;
    if (ephemeral)
        reportsUnreachable_ =
            ::setsockopt(descriptor_, level(), isIPv6() ? IPV6_RECVERR : IP_RECVERR, &on, sizeof on) == 0;
    else
        ::setsockopt(descriptor_, level(), isIPv6() ? IPV6_RECVPKTINFO : IP_PKTINFO, &on, sizeof on);
    if (interface_.empty())
        return;
    int rc;
    if (isIPv6()) {
        const unsigned int index = interfaceIndex();
        rc = ::setsockopt(descriptor_, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index);
    } else {
        in_addr address;
        address.s_addr = ::inet_addr(interface_.c_str());
        rc = ::setsockopt(descriptor_, IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof address);
    }
    if (rc != 0)
        CO_MCAST_RAISE(errno, "Unable to set multicast i/f to %s", interface_.c_str());
}

unsigned int CoMulticast::interfaceIndex() const {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        CO_MCAST_RAISE(errno, "Unable to acquire network interface list");
    std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(list, &::freeifaddrs);
    in6_addr wanted;
    const int parsed = ::inet_pton(AF_INET6, interface_.c_str(), &wanted);
    if (parsed == 0)
        raiseText(__LINE__, "Invalid interface specified", "Invalid interface %s", interface_.c_str());
    if (parsed < 0)
        CO_MCAST_RAISE(errno, "Invalid interface %s", interface_.c_str());
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET6)
            continue;
        if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
        if (std::memcmp(&in6->sin6_addr, &wanted, sizeof wanted) == 0)
            return in6->sin6_scope_id;
    }
    return 0;
}

int CoMulticast::changeMembership(bool add) {
    if (isIPv6()) {
        ipv6_mreq request;
        request.ipv6mr_multiaddr = reinterpret_cast<const sockaddr_in6*>(groupAddress_.get())->sin6_addr;
        request.ipv6mr_interface = interface_.empty() ? 0 : interfaceIndex();
        return ::setsockopt(descriptor_, IPPROTO_IPV6, add ? IPV6_ADD_MEMBERSHIP : IPV6_DROP_MEMBERSHIP, &request,
                            sizeof request);
    }
    ip_mreq request;
    request.imr_multiaddr = reinterpret_cast<const sockaddr_in*>(groupAddress_.get())->sin_addr;
    request.imr_interface.s_addr = interface_.empty() ? htonl(INADDR_ANY) : ::inet_addr(interface_.c_str());
    return ::setsockopt(descriptor_, IPPROTO_IP, add ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP, &request,
                        sizeof request);
}

void CoMulticast::join() {
    if (changeMembership(true) != 0) {
        const int err = errno;
        CO_MCAST_RAISE(err, "Unable to join multicast group %s.%s", group_.c_str(),
                       err == ENODEV ? "  Check the default/multicast/gateway route entry" : "");
    }
}

void CoMulticast::leave() {
    if (changeMembership(false) != 0)
        CO_MCAST_RAISE(errno, "Unable to leave multicast group %s", group_.c_str());
}

// IPv4 takes these options as one byte, IPv6 as an int.
void CoMulticast::setTimeToLive(unsigned char ttl) {
    const int hops = ttl;
    const int rc = isIPv6() ? ::setsockopt(descriptor_, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof hops)
                            : ::setsockopt(descriptor_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    if (rc != 0)
        CO_MCAST_RAISE(errno, "Unable to set the time-to-live to %u", static_cast<unsigned>(ttl));
}

unsigned char CoMulticast::getTimeToLive() const {
    int value = 0;
    socklen_t length = isIPv6() ? sizeof value : 1;
    unsigned char byte = 0;
    void* out = isIPv6() ? static_cast<void*>(&value) : static_cast<void*>(&byte);
    if (::getsockopt(descriptor_, level(), isIPv6() ? IPV6_MULTICAST_HOPS : IP_MULTICAST_TTL, out, &length) != 0)
        CO_MCAST_RAISE(errno, "Unable to get the time-to-live");
    return isIPv6() ? static_cast<unsigned char>(value) : byte;
}

void CoMulticast::setLoopback(unsigned char loop) {
    const int on = loop;
    const int rc = isIPv6() ? ::setsockopt(descriptor_, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, &on, sizeof on)
                            : ::setsockopt(descriptor_, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    if (rc != 0)
        CO_MCAST_RAISE(errno, "Unable to set loopback to %u", static_cast<unsigned>(loop));
}

bool CoMulticast::getLoopback() const {
    int value = 0;
    socklen_t length = isIPv6() ? sizeof value : 1;
    unsigned char byte = 0;
    void* out = isIPv6() ? static_cast<void*>(&value) : static_cast<void*>(&byte);
    if (::getsockopt(descriptor_, level(), isIPv6() ? IPV6_MULTICAST_LOOP : IP_MULTICAST_LOOP, out, &length) != 0)
        CO_MCAST_RAISE(errno, "Unable to get the loopback");
    return isIPv6() ? value != 0 : byte != 0;
}

void CoMulticast::send(const void* data, int length, const char* address, unsigned int port) {
    assert(length >= 0 && "length >= 0");
    const char* to = address ? address : group_.c_str();
    const unsigned int toPort = port ? port : port_;
    sockaddr_storage destination;
    resolveAddress(to, &destination);
    setPort(&destination, toPort);
    if (::sendto(descriptor_, data, static_cast<size_t>(length), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&destination), lengthOf(destination.ss_family)) < 0)
        CO_MCAST_RAISE(errno, "Unable to send %d bytes to %s:%u", length, to, toPort);
}

void CoMulticast::sendTo(const void* data, int length, const sockaddr* destination) {
    assert(length >= 0 && "length >= 0");
    assert(destination && "destination");
    if (::sendto(descriptor_, data, static_cast<size_t>(length), MSG_NOSIGNAL, destination,
                 lengthOf(destination->sa_family)) < 0) {
        const int err = errno;
        std::string text;
        unsigned port = 0;
        getAddressText(destination, text, port);
        CO_MCAST_RAISE(err, "Unable to send %d bytes to %s:%u", length, text.c_str(), port);
    }
}

void CoMulticast::receive(void* buffer, int& length, sockaddr* source, bool blocking, std::string* destination) {
    assert(length >= 0 && "length >= 0");
    if (destination)
        destination->clear();
    iovec data{buffer, static_cast<size_t>(length)};
    alignas(cmsghdr) char control[kControlSize];
    msghdr message{};
    message.msg_name = source;
    message.msg_namelen = source ? (isIPv6() ? kIpv6AddressLength : kIpv4AddressLength) : 0;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = destination ? control : nullptr;
    message.msg_controllen = destination ? sizeof control : 0;
    const ssize_t count = ::recvmsg(descriptor_, &message, blocking ? 0 : MSG_DONTWAIT);
    if (count >= 0) {
        length = static_cast<int>(count);
        if (destination)
            *destination = destinationOf(message);
        return;
    }
    const int err = errno;
    if (err == ECONNRESET || err == EAGAIN || err == EWOULDBLOCK || err == EINTR ||
        (reportsUnreachable_ && isRefusal(err))) {
        length = 0;
        return;
    }
    CO_MCAST_RAISE(err, "Unable to receive %d bytes", length);
}

std::vector<CoMulticast::Endpoint> CoMulticast::takeUnreachable() {
    std::vector<Endpoint> refused;
    for (int i = 0; i < kMaxReports; ++i) {
        sockaddr_storage to;
        std::memset(&to, 0, sizeof to);
        char byte;
        iovec data{&byte, sizeof byte};
        alignas(cmsghdr) char control[kControlSize * 4];
        msghdr message{};
        message.msg_name = &to;
        message.msg_namelen = sizeof to;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (::recvmsg(descriptor_, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
            break;  // empty (EAGAIN), or no queue at all
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            const bool report = (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) ||
                                (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR);
            if (!report)
                continue;
            sock_extended_err error;
            std::memcpy(&error, CMSG_DATA(c), sizeof error);
            if (!isPortUnreachable(error))
                continue;
            Endpoint endpoint;
            getAddressText(reinterpret_cast<const sockaddr*>(&to), endpoint.address, endpoint.port);
            refused.push_back(endpoint);
        }
    }
    return refused;
}

unsigned int CoMulticast::getBoundPort() const {
    sockaddr_storage local;
    std::memset(&local, 0, sizeof local);
    socklen_t length = sizeof local;
    if (::getsockname(descriptor_, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    std::string text;
    unsigned port = 0;
    getAddressText(reinterpret_cast<const sockaddr*>(&local), text, port);
    return port;
}

void CoMulticast::getAddressText(const sockaddr* address, std::string& text, unsigned& port) {
    char buffer[kAddressTextSize] = {};
    text.clear();
    port = 0;
    if (address == nullptr)
        return;
    if (address->sa_family == AF_INET) {
        const auto* in4 = reinterpret_cast<const sockaddr_in*>(address);
        if (::inet_ntop(AF_INET, &in4->sin_addr, buffer, sizeof buffer))
            text = buffer;
        port = ntohs(in4->sin_port);
    } else if (address->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        if (::inet_ntop(AF_INET6, &in6->sin6_addr, buffer, sizeof buffer))
            text = buffer;
        port = ntohs(in6->sin6_port);
    }
}

}  // namespace Corvane
