#include "base/network/CoNetlink.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "base/loggerBase/CoLastErrLogger.h"
#include "base/loggerBase/CoMsg.h"

namespace Corvane {

namespace {

// A dump that never ends must not hold the caller forever.
constexpr int kDumpReceiveTimeoutSeconds = 5;
constexpr int kMaxDumpDatagrams = 4096;

std::atomic<uint32_t> gSequence{0};
std::atomic<bool> gGatewayReported{false};

size_t align4(size_t length) { return (length + 3) & ~size_t{3}; }

// One message of a datagram, copied out so that alignment never matters.
struct Message {
    nlmsghdr header;
    const char* payload;  // after the header
    size_t payloadSize;
};

// Reads the message at offset; false when it is truncated or malformed.
bool messageAt(const char* data, size_t size, size_t offset, Message& message) {
    if (offset > size || size - offset < sizeof(nlmsghdr))
        return false;
    std::memcpy(&message.header, data + offset, sizeof(nlmsghdr));
    const size_t length = message.header.nlmsg_len;
    if (length < sizeof(nlmsghdr) || length > size - offset)
        return false;
    message.payload = data + offset + NLMSG_HDRLEN;
    message.payloadSize = length - NLMSG_HDRLEN;
    return true;
}

// Finds attribute type among the attributes that follow a fixed header of
// fixedSize bytes in a message payload.
bool findAttribute(const Message& message, size_t fixedSize, unsigned short type, const char** value,
                   size_t* valueSize) {
    size_t offset = align4(fixedSize);
    while (offset <= message.payloadSize && message.payloadSize - offset >= sizeof(rtattr)) {
        rtattr attribute;
        std::memcpy(&attribute, message.payload + offset, sizeof attribute);
        if (attribute.rta_len < sizeof(rtattr) || attribute.rta_len > message.payloadSize - offset)
            return false;
        if (attribute.rta_type == type) {
            *value = message.payload + offset + RTA_LENGTH(0);
            *valueSize = attribute.rta_len - RTA_LENGTH(0);
            return true;
        }
        offset += align4(attribute.rta_len);
    }
    return false;
}

}  // namespace

CoNetlink::DumpStep CoNetlink::scanRouteDump(const char* data, size_t size, std::string& ifname, int& err) {
    Message message;
    if (!messageAt(data, size, 0, message))
        return DumpStep::Invalid;
    for (size_t offset = 0; messageAt(data, size, offset, message); offset += align4(message.header.nlmsg_len)) {
        const uint16_t type = message.header.nlmsg_type;
        if (type == NLMSG_DONE)
            return DumpStep::Done;
        if (type == NLMSG_ERROR) {
            nlmsgerr error;
            if (message.payloadSize < sizeof error)
                return DumpStep::Invalid;
            std::memcpy(&error, message.payload, sizeof error);
            if (error.error != 0) {
                err = -error.error;
                return DumpStep::Error;
            }
            continue;
        }
        if (type != RTM_NEWROUTE || message.payloadSize < sizeof(rtmsg))
            continue;
        rtmsg route;
        std::memcpy(&route, message.payload, sizeof route);
        const char* value = nullptr;
        size_t valueSize = 0;
        if (route.rtm_family != AF_INET || route.rtm_table != RT_TABLE_MAIN ||
            findAttribute(message, sizeof route, RTA_DST, &value, &valueSize))
            continue;
        uint32_t index = 0;
        if (!findAttribute(message, sizeof route, RTA_OIF, &value, &valueSize) || valueSize < sizeof index)
            continue;  // a default route without one device (multipath) names no interface
        std::memcpy(&index, value, sizeof index);
        char name[IF_NAMESIZE] = {};
        if (!if_indextoname(index, name))
            continue;
        ifname = name;
        return DumpStep::Found;
    }
    return DumpStep::Continue;
}

std::string CoNetlink::defaultGatewayInterface(const CoLastErrLogger& logger) {
    const int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        const int err = errno;
        CO_LAST_ERR(logger).postError("Could not create netlink socket: %s", std::strerror(err));
        return std::string();
    }
    timeval timeout{kDumpReceiveTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    alignas(nlmsghdr) char buffer[kDumpBufferSize] = {};
    nlmsghdr request{};
    request.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.nlmsg_type = RTM_GETROUTE;
    request.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.nlmsg_seq = ++gSequence;
    request.nlmsg_pid = static_cast<uint32_t>(getpid());
    std::memcpy(buffer, &request, sizeof request);  // the route message stays all zeros

    std::string result;
    if (send(fd, buffer, request.nlmsg_len, 0) < 0) {
        const int err = errno;
        CO_LAST_ERR(logger).postError("Could not send on netlink socket: %s", std::strerror(err));
        close(fd);
        return result;
    }
    for (int datagrams = 0; datagrams < kMaxDumpDatagrams; ++datagrams) {
        const ssize_t received = recv(fd, buffer, sizeof buffer, 0);
        if (received < 0) {
            const int err = errno;
            if (err == EINTR)
                continue;
            CO_LAST_ERR(logger).postError("Could not receive from netlink: %s", std::strerror(err));
            break;
        }
        int err = 0;
        const DumpStep step = scanRouteDump(buffer, static_cast<size_t>(received), result, err);
        if (step == DumpStep::Continue)
            continue;
        if (step == DumpStep::Invalid) {
            CO_LAST_ERR(logger).postError("Invalid netlink reply received");
            CO_DEBUG("No default gateway found");
        } else if (step == DumpStep::Done) {
            CO_DEBUG("No default gateway found");
        } else if (step == DumpStep::Error) {
            CO_LAST_ERR(logger).postError("Error parsing/receiving netlink reply: %s", std::strerror(err));
        } else if (!gGatewayReported.exchange(true)) {
            CO_DEBUG("Using default gateway: %s", result.c_str());
        }
        break;
    }
    close(fd);
    return result;
}

bool CoNetlink::isTopologyChange(const char* data, size_t size) {
    Message message;
    for (size_t offset = 0; messageAt(data, size, offset, message); offset += align4(message.header.nlmsg_len)) {
        const uint16_t type = message.header.nlmsg_type;
        if (type == NLMSG_DONE)
            break;
        if (type == RTM_NEWLINK)
            return true;
        const char* value = nullptr;
        size_t valueSize = 0;
        if (type == RTM_NEWADDR && message.payloadSize >= sizeof(ifaddrmsg) &&
            findAttribute(message, sizeof(ifaddrmsg), IFA_LOCAL, &value, &valueSize))
            return true;
    }
    return false;
}

}  // namespace Corvane
