#include "base/network/CoNetlink.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

using Corvane::CoNetlink;
using DumpStep = CoNetlink::DumpStep;

// The kernel's own answers are read in the topology monitor's test.
namespace {

// Builds netlink datagrams the way the kernel lays them out.
class Datagram {
public:
    explicit Datagram(std::string bytes = "") : bytes_(std::move(bytes)) {}
    Datagram& message(uint16_t type, const void* fixed, size_t fixedSize) {
        start_ = bytes_.size();
        nlmsghdr header{};
        header.nlmsg_type = type;
        return append(&header, sizeof header).append(fixed, fixedSize);
    }
    template <typename Fixed>
    Datagram& message(uint16_t type, const Fixed& fixed) {
        return message(type, &fixed, sizeof fixed);
    }
    // claimedLength: what the attribute says of its own length.
    Datagram& u32(uint16_t type, uint32_t value, unsigned short claimedLength = RTA_LENGTH(sizeof(uint32_t))) {
        const rtattr attribute{claimedLength, type};
        return append(&attribute, sizeof attribute).append(&value, sizeof value);
    }
    // Overwrites the current message's length field.
    Datagram& setLength(size_t length) {
        const uint32_t value = static_cast<uint32_t>(length);
        std::memcpy(&bytes_[start_], &value, sizeof value);
        return *this;
    }
    const std::string& bytes() const { return bytes_; }

private:
    Datagram& append(const void* data, size_t size) {
        bytes_.append(static_cast<const char*>(data), size);
        bytes_.append((4 - bytes_.size() % 4) % 4, '\0');
        return setLength(bytes_.size() - start_);
    }

    std::string bytes_;
    size_t start_ = 0;
};

rtmsg route(unsigned char family, unsigned char table) {
    rtmsg r{};
    r.rtm_family = family;
    r.rtm_table = table;
    return r;
}

TEST(CoNetlinkTest, RouteDumpFindsOnlyTheMainIpv4DefaultRoute) {
    const unsigned lo = if_nametoindex("lo");
    ASSERT_NE(0u, lo);
    const rtmsg main4 = route(AF_INET, RT_TABLE_MAIN), local4 = route(AF_INET, RT_TABLE_LOCAL);
    const rtmsg main6 = route(AF_INET6, RT_TABLE_MAIN);
    nlmsgerr refused{}, ack{};
    refused.error = -EPERM;
    const auto newRoute = [](const rtmsg& r) { return Datagram().message(RTM_NEWROUTE, r); };
    const Datagram defaultRoute = newRoute(main4).u32(RTA_OIF, lo);
    const struct {
        const char* what;
        Datagram datagram;
        DumpStep step;
    } cases[] = {
        {"default route", defaultRoute, DumpStep::Found},
        {"route with destination", newRoute(main4).u32(RTA_DST, 0x0100007f).u32(RTA_OIF, lo), DumpStep::Continue},
        {"local table", newRoute(local4).u32(RTA_OIF, lo), DumpStep::Continue},
        {"IPv6", newRoute(main6).u32(RTA_OIF, lo), DumpStep::Continue},
        {"no device", newRoute(main4), DumpStep::Continue},
        {"unknown device", newRoute(main4).u32(RTA_OIF, 0x7ffffff0u), DumpStep::Continue},
        {"done first", Datagram().message(NLMSG_DONE, main4), DumpStep::Done},
        {"route then done", newRoute(local4).u32(RTA_OIF, lo).message(NLMSG_DONE, &main4, 4), DumpStep::Done},
        {"done then route", Datagram(Datagram().message(NLMSG_DONE, &main4, 4).bytes() + defaultRoute.bytes()),
         DumpStep::Done},
        {"refused", Datagram().message(NLMSG_ERROR, refused), DumpStep::Error},
        {"acknowledged", Datagram().message(NLMSG_ERROR, ack), DumpStep::Continue},
        // Malformed: cut short, never read past.
        {"empty", Datagram(), DumpStep::Invalid},
        {"shorter than a header", Datagram(std::string(sizeof(nlmsghdr) - 1, '\0')), DumpStep::Invalid},
        {"length past the end", Datagram(defaultRoute).setLength(defaultRoute.bytes().size() + 1), DumpStep::Invalid},
        {"length inside the header", newRoute(main4).setLength(sizeof(nlmsghdr) - 1), DumpStep::Invalid},
        {"error without its number", Datagram().message(NLMSG_ERROR, &ack, 4), DumpStep::Invalid},
        {"attribute past its message", newRoute(main4).u32(RTA_OIF, lo, 100), DumpStep::Continue},
        {"truncated second message", Datagram(defaultRoute.bytes() + std::string(7, '\x55')), DumpStep::Found},
    };
    for (const auto& c : cases) {
        std::string ifname;
        int err = 0;
        const std::string& bytes = c.datagram.bytes();
        EXPECT_EQ(static_cast<int>(c.step),
                  static_cast<int>(CoNetlink::scanRouteDump(bytes.data(), bytes.size(), ifname, err)))
            << c.what;
        EXPECT_EQ(c.step == DumpStep::Found ? "lo" : "", ifname) << c.what;
        EXPECT_EQ(c.step == DumpStep::Error ? EPERM : 0, err) << c.what;
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
        {"new link", Datagram().message(RTM_NEWLINK, link), true},
        {"deleted link", Datagram().message(RTM_DELLINK, link), false},
        {"new address with local", Datagram().message(RTM_NEWADDR, address).u32(IFA_ADDRESS, ip).u32(IFA_LOCAL, ip),
         true},
        {"new address without local", Datagram().message(RTM_NEWADDR, address).u32(IFA_ADDRESS, ip), false},
        {"deleted address", Datagram().message(RTM_DELADDR, address).u32(IFA_LOCAL, ip), false},
        {"change after another message", Datagram().message(RTM_DELADDR, address).message(RTM_NEWLINK, link), true},
        {"change after done", Datagram().message(NLMSG_DONE, link).message(RTM_NEWLINK, link), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.change, CoNetlink::isTopologyChange(c.datagram.bytes().data(), c.datagram.bytes().size()))
            << c.what;
}

}  // namespace
