// Multicast never leaves this machine: the test binary runs in a network
// namespace of its own with only lo, multicast routed to it; the test of a
// join without that route makes a still emptier one in a child.
#include "base/tcp/CoMulticast.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/Thrown.h"
#include "support/VirtualNetwork.h"

namespace {

using Corvane::CoMulticast;
using CorvaneTest::thrownText;

constexpr const char* kGroup = "239.7.5.55";
constexpr unsigned int kGroupPort = 7555;
constexpr int kWaitMs = 5000;  // guards against hangs only

std::string textOf(int err) { return std::string(std::strerror(err)) + "."; }

// Waits for a datagram, then receives it without blocking; its length.
int receiveWithin(CoMulticast& socket, char* buffer, int size) {
    pollfd waiting{socket.getDescriptor(), POLLIN, 0};
    if (::poll(&waiting, 1, kWaitMs) != 1)
        return -1;
    int length = size;
    socket.receive(buffer, length, nullptr, false);
    return length;
}

// A UDP socket bound to a loopback port the system picks; *port gets it.
int boundUdp(unsigned* port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        ADD_FAILURE() << "no loopback UDP port";
    *port = ntohs(address.sin_port);
    return fd;
}

TEST(CoMulticastTest, PicksEphemeralPortsInOrderCutsLongDatagramsAndSaysWhyGroupsFail) {
    CoMulticast listener(kGroupPort, kGroup, nullptr);
    listener.bind(false);
    listener.join();
    CoMulticast sender(kGroupPort, kGroup, "127.0.0.1");
    sender.setTimeToLive(1);
    sender.setLoopback(1);
    sender.bind(true);
    CoMulticast second(kGroupPort, kGroup, "127.0.0.1");
    second.bind(true);
    // Every ephemeral port is free here: sender takes the first, second moves one up.
    EXPECT_EQ(49152u, sender.getBoundPort());
    EXPECT_EQ(49153u, second.getBoundPort());
    // Senders, destinations and answers by unicast are the discovery client's
    // tests. A datagram larger than the buffer is cut, and nothing past the
    // buffer changes.
    const std::string big(2000, 'x');
    sender.send(big.data(), static_cast<int>(big.size()));
    char buffer[2048] = {};
    EXPECT_EQ(1024, receiveWithin(listener, buffer, 1024));
    EXPECT_TRUE(buffer[1023] == 'x' && buffer[1024] == 0);
    int length = sizeof buffer;
    listener.receive(buffer, length, nullptr, false);
    EXPECT_EQ(0, length) << "a receive with nothing waiting returned data";

    listener.leave();
    EXPECT_EQ(textOf(EADDRNOTAVAIL) + " / Unable to leave multicast group " + kGroup,
              thrownText([&] { listener.leave(); }, true));
    CoMulticast badGroup(kGroupPort, "bad-group.invalid", nullptr);
    EXPECT_EQ(textOf(EINVAL) + " / Unable to join multicast group bad-group.invalid.",
              thrownText([&] { badGroup.join(); }, true));
}

// In an empty namespace: without a route to the group the join cannot pick
// an interface, and an IPv6 interface named by its link-local address is
// found by its index.
TEST(CoMulticastTest, JoinWithoutARouteAndIPv6InterfaceByAddress) {
    const int status = CorvaneTest::runInChild([] {
        if (::unshare(CLONE_NEWNET) != 0)
            return 100;
        CoMulticast listener(kGroupPort, kGroup, nullptr);
        listener.bind(false);
        if (thrownText([&] { listener.join(); }, true) != textOf(ENODEV) + " / Unable to join multicast group " +
                                                              kGroup +
                                                              ".  Check the default/multicast/gateway route entry")
            return 1;
        for (const char* command :
             {"link add cv0 type veth peer name cv1", "link set cv0 up", "addr add fe80::7/64 dev cv0 nodad"})
            if (!CorvaneTest::VirtualNetwork::ip(command))
                return 2;
        CoMulticast sender(kGroupPort, "ff12::7555", "fe80::7");
        sender.bind(false);
        unsigned index = 0;
        socklen_t size = sizeof index;
        ::getsockopt(sender.getDescriptor(), IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, &size);
        return index == ::if_nametoindex("cv0") ? 0 : 3;
    });
    if (status == 100)
        GTEST_SKIP() << "no network namespace of its own here";
    EXPECT_EQ(0, status);
}

// A destination may be a host name. The child reads a hosts file of its own.
TEST(CoMulticastTest, SendsToAHostByName) {
    CorvaneTest::TempDir dir;
    const std::string hosts = dir.write("hosts", "127.0.0.1 cv-receiver\n");
    unsigned port = 0;
    const int receiver = boundUdp(&port);
    const int status = CorvaneTest::runInChild([&] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0)
            return 100;
        // A throw must not leave the child: it would run the other tests there.
        const auto send = [&] { CoMulticast(kGroupPort, kGroup, nullptr).send("named", 5, "cv-receiver", port); };
        return thrownText(send) == "<no exception>" ? 0 : 1;
    });
    pollfd waiting{receiver, POLLIN, 0};
    const int ready = status == 0 ? ::poll(&waiting, 1, kWaitMs) : 0;
    ::close(receiver);
    if (status == 100)
        GTEST_SKIP() << "no mount namespace of its own here";
    EXPECT_EQ(0, status);
    EXPECT_EQ(1, ready) << "nothing arrived";
}

// Binding and refused sends put nothing on the wire.
TEST(CoMulticastTest, FailuresCarrySystemTextAndOperation) {
    unsigned heldPort = 0;
    const int held = boundUdp(&heldPort);
    const struct {
        std::function<void()> op;
        std::string text;
        std::string detail;
    } cases[] = {
        {[] { CoMulticast(kGroupPort, "", nullptr); }, textOf(EINVAL), "Empty scope"},
        {[] { CoMulticast(kGroupPort, nullptr, nullptr); }, textOf(EINVAL), "Empty scope"},
        // Held without address reuse: no retry on another port.
        {[&] { CoMulticast(heldPort, kGroup, nullptr).bind(false); }, textOf(EADDRINUSE),
         "Unable to bind to port " + std::to_string(heldPort)},
        {[] { CoMulticast(kGroupPort, kGroup, "192.0.2.1").bind(true); }, textOf(EADDRNOTAVAIL),
         "Unable to bind to 192.0.2.1,49152"},
        {[] { CoMulticast(kGroupPort, "ff15::7555", "not-an-address").bind(true); }, "Invalid interface specified",
         "Invalid interface not-an-address"},
        {[] { CoMulticast(kGroupPort, kGroup, nullptr).send("abc", 3, "::1", 9); }, textOf(EAFNOSUPPORT),
         "Unable to send 3 bytes to ::1:9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text + " / " + c.detail, thrownText(c.op, true));
    ::close(held);
}

// A search sent to a host where nothing listens comes back at once as port
// unreachable; the sender must learn it without its receives failing. IPv6
// multicast is not delivered on lo, so this is the IPv6 socket's round trip.
TEST(CoMulticastTest, ReportsUnreachableDestinationOfEarlierSend) {
    unsigned closedPort = 0;
    ::close(boundUdp(&closedPort));  // its port is now closed, for IPv6 too: nothing else binds here
    for (const auto& family : {std::make_pair(kGroup, "127.0.0.1"), std::make_pair("ff15::7555", "::1")}) {
        SCOPED_TRACE(family.second);
        CoMulticast sender(kGroupPort, family.first, family.second);
        EXPECT_EQ(0u, sender.getBoundPort());
        EXPECT_TRUE(::fcntl(sender.getDescriptor(), F_GETFD) & FD_CLOEXEC);
        sender.setTimeToLive(7);
        sender.setLoopback(0);
        EXPECT_TRUE(sender.getTimeToLive() == 7 && !sender.getLoopback());
        sender.bind(true);  // ::1 is on no up, non-loopback interface: the default one
        sender.send("find", 4, family.second, closedPort);
        pollfd waiting{sender.getDescriptor(), POLLIN, 0};
        ASSERT_EQ(1, ::poll(&waiting, 1, kWaitMs));
        char buffer[16];
        int length = sizeof buffer;
        sender.receive(buffer, length, nullptr, false);  // the refusal, not data
        EXPECT_EQ(0, length);
        const std::vector<CoMulticast::Endpoint> refused = sender.takeUnreachable();
        ASSERT_EQ(1u, refused.size());
        EXPECT_EQ(family.second, refused[0].address);
        EXPECT_EQ(closedPort, refused[0].port);
        // Taken: the socket no longer polls ready.
        EXPECT_EQ(0, ::poll(&waiting, 1, 0));
        EXPECT_TRUE(sender.takeUnreachable().empty());
    }
}

}  // namespace
