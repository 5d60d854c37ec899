#include "base/network/CoNetlink.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/loggerBase/CoLastErrLogger.h"
#include "support/TempDir.h"

using Corvane::CoNetlink;
using DumpStep = CoNetlink::DumpStep;

namespace {

// Builds netlink datagrams the way the kernel lays them out.
class Datagram {
public:
    // Starts a message with a fixed header of the given bytes.
    Datagram& message(uint16_t type, const void* fixed, size_t fixedSize) {
        start_ = bytes_.size();
        nlmsghdr header{};
        header.nlmsg_type = type;
        append(&header, sizeof header);
        append(fixed, fixedSize);
        pad();
        setLength(bytes_.size() - start_);
        return *this;
    }
    Datagram& attribute(uint16_t type, const void* value, size_t size) {
        rtattr attribute{};
        attribute.rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
        attribute.rta_type = type;
        append(&attribute, sizeof attribute);
        append(value, size);
        pad();
        setLength(bytes_.size() - start_);
        return *this;
    }
    Datagram& u32(uint16_t type, uint32_t value) { return attribute(type, &value, sizeof value); }
    // Overwrites the current message's length field.
    void setLength(size_t length) {
        const uint32_t value = static_cast<uint32_t>(length);
        std::memcpy(&bytes_[start_], &value, sizeof value);
    }
    std::string& bytes() { return bytes_; }

private:
    void append(const void* data, size_t size) { bytes_.append(static_cast<const char*>(data), size); }
    void pad() { bytes_.append((4 - bytes_.size() % 4) % 4, '\0'); }

    std::string bytes_;
    size_t start_ = 0;
};

rtmsg route(unsigned char family, unsigned char table) {
    rtmsg r{};
    r.rtm_family = family;
    r.rtm_table = table;
    return r;
}

DumpStep scan(const std::string& bytes, std::string& ifname, int& err) {
    return CoNetlink::scanRouteDump(bytes.data(), bytes.size(), ifname, err);
}

// Interfaces of the IPv4 default routes of the main table, as the kernel
// lists them in /proc.
std::set<std::string> defaultRouteInterfaces() {
    std::set<std::string> names;
    std::istringstream lines(CorvaneTest::readFile("/proc/net/route"));
    std::string line;
    std::getline(lines, line);  // heading
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, flags, refs, use, metric, mask;
        if (fields >> name >> destination >> gateway >> flags >> refs >> use >> metric >> mask &&
            destination == "00000000" && mask == "00000000")
            names.insert(name);
    }
    return names;
}

TEST(CoNetlinkTest, DefaultGatewayAgreesWithTheKernelTable) {
    Corvane::CoLastErrLogger logger;
    const std::string found = CoNetlink::defaultGatewayInterface(logger);
    EXPECT_EQ("", logger.lastError());
    const std::set<std::string> expected = defaultRouteInterfaces();
    if (expected.empty())
        EXPECT_EQ("", found);
    else
        EXPECT_EQ(1u, expected.count(found)) << "'" << found << "'";
}

TEST(CoNetlinkTest, RouteDumpFindsOnlyTheMainIpv4DefaultRoute) {
    const unsigned loIndex = if_nametoindex("lo");
    ASSERT_NE(0u, loIndex);
    const uint32_t destination = 0x0100007f;
    const rtmsg main4 = route(AF_INET, RT_TABLE_MAIN);
    const rtmsg local4 = route(AF_INET, RT_TABLE_LOCAL);
    const rtmsg main6 = route(AF_INET6, RT_TABLE_MAIN);
    const struct {
        const char* what;
        Datagram datagram;
        DumpStep step;
    } cases[] = {
        {"default route", Datagram().message(RTM_NEWROUTE, &main4, sizeof main4).u32(RTA_OIF, loIndex), DumpStep::Found},
        {"route with destination",
         Datagram().message(RTM_NEWROUTE, &main4, sizeof main4).u32(RTA_DST, destination).u32(RTA_OIF, loIndex),
         DumpStep::Continue},
        {"local table", Datagram().message(RTM_NEWROUTE, &local4, sizeof local4).u32(RTA_OIF, loIndex),
         DumpStep::Continue},
        {"IPv6", Datagram().message(RTM_NEWROUTE, &main6, sizeof main6).u32(RTA_OIF, loIndex), DumpStep::Continue},
        {"no device", Datagram().message(RTM_NEWROUTE, &main4, sizeof main4), DumpStep::Continue},
        {"unknown device index", Datagram().message(RTM_NEWROUTE, &main4, sizeof main4).u32(RTA_OIF, 0x7ffffff0u),
         DumpStep::Continue},
        {"done first", Datagram().message(NLMSG_DONE, &main4, sizeof main4), DumpStep::Done},
        {"route then done",
         Datagram()
             .message(RTM_NEWROUTE, &local4, sizeof local4)
             .u32(RTA_OIF, loIndex)
             .message(NLMSG_DONE, &main4, sizeof main4),
         DumpStep::Done},
        {"done then route",
         Datagram().message(NLMSG_DONE, &main4, sizeof main4).message(RTM_NEWROUTE, &main4, sizeof main4).u32(RTA_OIF,
                                                                                                              loIndex),
         DumpStep::Done},
    };
    for (const auto& c : cases) {
        std::string ifname;
        int err = 0;
        Datagram copy = c.datagram;
        EXPECT_EQ(static_cast<int>(c.step), static_cast<int>(scan(copy.bytes(), ifname, err))) << c.what;
        EXPECT_EQ(c.step == DumpStep::Found ? "lo" : "", ifname) << c.what;
    }

    nlmsgerr refused{};
    refused.error = -EPERM;
    std::string ifname;
    int err = 0;
    EXPECT_EQ(static_cast<int>(DumpStep::Error),
              static_cast<int>(scan(Datagram().message(NLMSG_ERROR, &refused, sizeof refused).bytes(), ifname, err)));
    EXPECT_EQ(EPERM, err);
    nlmsgerr ack{};
    EXPECT_EQ(static_cast<int>(DumpStep::Continue),
              static_cast<int>(scan(Datagram().message(NLMSG_ERROR, &ack, sizeof ack).bytes(), ifname, err)));
}

TEST(CoNetlinkTest, MalformedDatagramsAreCutShort) {
    const rtmsg main4 = route(AF_INET, RT_TABLE_MAIN);
    const unsigned loIndex = if_nametoindex("lo");
    std::string ifname;
    int err = 0;

    for (size_t size : {size_t{0}, size_t{1}, sizeof(nlmsghdr) - 1})
        EXPECT_EQ(static_cast<int>(DumpStep::Invalid),
                  static_cast<int>(CoNetlink::scanRouteDump(std::string(size, '\0').data(), size, ifname, err)));

    Datagram tooLong;
    tooLong.message(RTM_NEWROUTE, &main4, sizeof main4).u32(RTA_OIF, loIndex);
    tooLong.setLength(tooLong.bytes().size() + 1);
    EXPECT_EQ(static_cast<int>(DumpStep::Invalid), static_cast<int>(scan(tooLong.bytes(), ifname, err)));
    Datagram tooShort;
    tooShort.message(RTM_NEWROUTE, &main4, sizeof main4);
    tooShort.setLength(sizeof(nlmsghdr) - 1);
    EXPECT_EQ(static_cast<int>(DumpStep::Invalid), static_cast<int>(scan(tooShort.bytes(), ifname, err)));

    // An attribute claiming more than its message holds is not read.
    Datagram badAttribute;
    badAttribute.message(RTM_NEWROUTE, &main4, sizeof main4).u32(RTA_OIF, loIndex);
    badAttribute.bytes()[sizeof(nlmsghdr) + sizeof main4] = 100;  // rta_len, low byte
    EXPECT_EQ(static_cast<int>(DumpStep::Continue), static_cast<int>(scan(badAttribute.bytes(), ifname, err)));
    EXPECT_EQ("", ifname);

    // A well-formed message followed by a truncated one: the first is used.
    Datagram truncatedTail;
    truncatedTail.message(RTM_NEWROUTE, &main4, sizeof main4).u32(RTA_OIF, loIndex);
    truncatedTail.bytes() += std::string(7, '\x55');
    EXPECT_EQ(static_cast<int>(DumpStep::Found), static_cast<int>(scan(truncatedTail.bytes(), ifname, err)));

    // Random bytes, with a plausible header now and then, never crash either parser.
    std::mt19937 random(12345);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 200, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random());
        if (bytes.size() >= sizeof(nlmsghdr) && round % 2 == 0) {
            const uint32_t length = static_cast<uint32_t>(random() % (bytes.size() + 1));
            std::memcpy(&bytes[0], &length, sizeof length);
        }
        scan(bytes, ifname, err);
        CoNetlink::isTopologyChange(bytes.data(), bytes.size());
    }
}

TEST(CoNetlinkTest, TopologyChangesAreLinksAndAddedLocalAddresses) {
    const ifinfomsg link{};
    const ifaddrmsg address{};
    const uint32_t ip = 0x010200c0;
    const struct {
        const char* what;
        Datagram datagram;
        bool change;
    } cases[] = {
        {"new link", Datagram().message(RTM_NEWLINK, &link, sizeof link), true},
        {"deleted link", Datagram().message(RTM_DELLINK, &link, sizeof link), false},
        {"new address with local",
         Datagram().message(RTM_NEWADDR, &address, sizeof address).u32(IFA_ADDRESS, ip).u32(IFA_LOCAL, ip), true},
        {"new address without local", Datagram().message(RTM_NEWADDR, &address, sizeof address).u32(IFA_ADDRESS, ip),
         false},
        {"deleted address", Datagram().message(RTM_DELADDR, &address, sizeof address).u32(IFA_LOCAL, ip), false},
        {"change after another message",
         Datagram().message(RTM_DELADDR, &address, sizeof address).message(RTM_NEWLINK, &link, sizeof link), true},
        {"change after done",
         Datagram().message(NLMSG_DONE, &link, sizeof link).message(RTM_NEWLINK, &link, sizeof link), false},
    };
    for (const auto& c : cases) {
        Datagram copy = c.datagram;
        EXPECT_EQ(c.change, CoNetlink::isTopologyChange(copy.bytes().data(), copy.bytes().size())) << c.what;
    }
}

}  // namespace
