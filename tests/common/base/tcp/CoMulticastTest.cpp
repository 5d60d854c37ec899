// Multicast never leaves this machine: every test that joins or sends to a
// group runs in a forked child inside a network namespace of its own, with
// only lo up and the multicast route on lo, and reports its failures to the
// parent through a pipe. The rest sends unicast to loopback only.
#include "base/tcp/CoMulticast.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/loggerBase/CoException.h"
#include "support/Process.h"

namespace {

using Corvane::CoException;
using Corvane::CoMulticast;

constexpr const char* kGroup = "239.7.5.55";
constexpr unsigned int kGroupPort = 7555;
constexpr int kSkipped = 100;
constexpr int kWaitMs = 5000;  // guards against hangs only

std::string textOf(int err) { return std::string(std::strerror(err)) + "."; }

class CoMulticastTest : public ::testing::Test {
protected:
    // Runs op and describes how it failed: "" when it raised text and
    // detail, else what happened instead.
    static std::string raises(const std::function<void()>& op, const std::string& text, const std::string& detail) {
        try {
            op();
        } catch (const CoException& e) {
            if (text == e.what() && detail == e.detail())
                return "";
            return std::string("raised '") + e.what() + "' / '" + e.detail() + "', wanted '" + text + "' / '" +
                   detail + "'";
        }
        return "did not raise '" + detail + "'";
    }

    // Waits for a datagram, then receives it without blocking; its length.
    static int receiveWithin(CoMulticast& socket, char* buffer, int size, sockaddr_storage* source,
                             std::string* destination = nullptr) {
        pollfd waiting{socket.getDescriptor(), POLLIN, 0};
        if (::poll(&waiting, 1, kWaitMs) != 1)
            return -1;
        int length = size;
        socket.receive(buffer, length, reinterpret_cast<sockaddr*>(source), false, destination);
        return length;
    }

    static unsigned boundPort(const CoMulticast& socket) { return socket.getBoundPort(); }

    // Runs body in a child inside a fresh network namespace with lo up and
    // multicast on; body appends a line to its argument per failure. The
    // multicast route is left to body, which tests a join without it first.
    void runInOwnNamespace(const std::function<void(std::string&)>& body) {
        int fds[2];
        ASSERT_EQ(0, ::pipe2(fds, O_CLOEXEC));
        const int status = CorvaneTest::runInChild(
            [&] {
                ::close(fds[0]);
                if (::unshare(CLONE_NEWNET) != 0 || !ip({"link", "set", "lo", "up"}) ||
                    !ip({"link", "set", "lo", "multicast", "on"}))
                    return kSkipped;
                std::string failures;
                try {
                    body(failures);
                } catch (const CoException& e) {
                    failures += std::string("unexpected: ") + e.what() + " / " + e.detail() + "\n";
                }
                const ssize_t written = ::write(fds[1], failures.data(), failures.size());
                return written == static_cast<ssize_t>(failures.size()) ? 0 : 1;
            },
            30000);
        ::close(fds[1]);
        std::string failures;
        char chunk[4096];
        for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) > 0;)
            failures.append(chunk, static_cast<size_t>(n));
        ::close(fds[0]);
        if (status == kSkipped)
            GTEST_SKIP() << "needs root and iproute2 to make a network namespace; multicast must not leave the host";
        ASSERT_EQ(0, status) << "the namespace child crashed or hung";
        EXPECT_EQ("", failures);
    }

    static bool ip(std::vector<std::string> args) {
        args.insert(args.begin(), "ip");
        CorvaneTest::ProcessOptions options;
        options.env = CorvaneTest::currentEnvironment();
        options.timeoutMs = 10000;
        return CorvaneTest::runProcess(args, options).exitStatus == 0;
    }
};

#define CHECK_IN_CHILD(cond, what) \
    if (!(cond))                   \
    failures += std::string(what) + "\n"
// Adds how op failed otherwise than with text and detail, if it did.
#define CHECK_RAISES_IN_CHILD(op, text, detail)                          \
    if (const std::string how = raises(op, text, detail); !how.empty()) \
    failures += how + "\n"

TEST_F(CoMulticastTest, RoundTripsThroughGroupOnLoopbackInOwnNamespace) {
    runInOwnNamespace([](std::string& failures) {
        CoMulticast listener(kGroupPort, kGroup, nullptr);
        listener.bind(false);
        // Without a route to the group the join cannot pick an interface.
        CHECK_RAISES_IN_CHILD([&] { listener.join(); }, textOf(ENODEV),
                              std::string("Unable to join multicast group ") + kGroup +
                                  ".  Check the default/multicast/gateway route entry");
        if (!ip({"route", "add", "224.0.0.0/4", "dev", "lo"})) {
            failures += "could not add the multicast route on lo\n";
            return;
        }
        listener.join();

        CoMulticast sender(kGroupPort, kGroup, "127.0.0.1");
        sender.setTimeToLive(1);
        sender.setLoopback(1);
        sender.bind(true);
        CoMulticast second(kGroupPort, kGroup, "127.0.0.1");
        second.bind(true);
        // A fresh namespace has every ephemeral port free: the first is taken
        // by sender, so second moves one up.
        CHECK_IN_CHILD(boundPort(sender) == 49152 && boundPort(second) == 49153, "ephemeral ports");

        sender.send("search", 6);
        char buffer[2048];
        sockaddr_storage source;
        std::string to;
        int length = receiveWithin(listener, buffer, sizeof buffer, &source, &to);
        std::string from;
        unsigned fromPort = 0;
        CoMulticast::getAddressText(reinterpret_cast<sockaddr*>(&source), from, fromPort);
        CHECK_IN_CHILD(length == 6 && std::string(buffer, 6) == "search", "group datagram not received");
        CHECK_IN_CHILD(from == "127.0.0.1" && fromPort == 49152, "source " + from + ":" + std::to_string(fromPort));
        CHECK_IN_CHILD(to == kGroup, "group datagram sent to '" + to + "'");
        // The group port also takes unicast; the destination tells them apart.
        sender.send("direct", 6, "127.0.0.1");
        length = receiveWithin(listener, buffer, sizeof buffer, &source, &to);
        CHECK_IN_CHILD(length == 6 && to == "127.0.0.1", "unicast datagram sent to '" + to + "'");

        // The answer goes back by unicast to the sender's own port.
        listener.sendTo("reply", 5, reinterpret_cast<sockaddr*>(&source));
        length = receiveWithin(sender, buffer, sizeof buffer, nullptr);
        CHECK_IN_CHILD(length == 5 && std::string(buffer, 5) == "reply", "unicast reply not received");

        // A datagram larger than the buffer is cut, and nothing past the buffer changes.
        const std::string big(2000, 'x');
        sender.send(big.data(), static_cast<int>(big.size()));
        std::memset(buffer, 0, sizeof buffer);
        length = receiveWithin(listener, buffer, 1024, &source);
        CHECK_IN_CHILD(length == 1024 && buffer[1023] == 'x' && buffer[1024] == 0, "oversized datagram not cut");

        length = sizeof buffer;
        listener.receive(buffer, length, nullptr, false);
        CHECK_IN_CHILD(length == 0, "a receive with nothing waiting returned data");

        listener.leave();
        CHECK_RAISES_IN_CHILD([&] { listener.leave(); }, textOf(EADDRNOTAVAIL),
                              std::string("Unable to leave multicast group ") + kGroup);
        CoMulticast badGroup(kGroupPort, "bad-group.invalid", nullptr);
        CHECK_RAISES_IN_CHILD([&] { badGroup.join(); }, textOf(EINVAL),
                              "Unable to join multicast group bad-group.invalid.");

        // With every ephemeral port of the interface taken, the last one tried is named.
        rlimit files{};
        ::getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 17000);
        if (::setrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur < 17000)
            return;  // cannot hold the whole range here
        for (unsigned port = CoMulticast::kEphemeralPortMin; port <= CoMulticast::kEphemeralPortMax; ++port) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            local.sin_port = htons(static_cast<uint16_t>(port));
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
                ::close(fd);  // ours already; the child's exit closes the others
        }
        CHECK_RAISES_IN_CHILD([] { CoMulticast(kGroupPort, kGroup, "127.0.0.1").bind(true); }, textOf(EADDRINUSE),
                              "Unable to bind to 127.0.0.1,65535");
    });
}

// IPv6 multicast is not delivered on lo, so the IPv6 socket is checked with
// its options and a unicast round trip to ::1.
TEST_F(CoMulticastTest, Ipv6SocketKeepsOptionsAndTalksOverLoopback) {
    CoMulticast socket(0, "ff15::7555", "::1");
    ASSERT_TRUE(socket.isIPv6());
    EXPECT_TRUE(::fcntl(socket.getDescriptor(), F_GETFD) & FD_CLOEXEC);
    socket.setTimeToLive(7);
    socket.setLoopback(0);
    EXPECT_EQ(7, socket.getTimeToLive());
    EXPECT_FALSE(socket.getLoopback());
    socket.bind(true);  // ::1 is on no up, non-loopback interface: the default one
    const unsigned port = boundPort(socket);
    ASSERT_GE(port, CoMulticast::kEphemeralPortMin);
    socket.send("ping", 4, "::1", port);
    char buffer[16];
    sockaddr_storage source;
    ASSERT_EQ(4, receiveWithin(socket, buffer, sizeof buffer, &source));
    std::string from;
    unsigned fromPort = 0;
    CoMulticast::getAddressText(reinterpret_cast<sockaddr*>(&source), from, fromPort);
    EXPECT_EQ("::1", from);
    EXPECT_EQ(port, fromPort);

    CoMulticast v4(kGroupPort, kGroup, nullptr);
    v4.setTimeToLive(3);
    v4.setLoopback(0);
    EXPECT_EQ(3, v4.getTimeToLive());
    EXPECT_FALSE(v4.getLoopback());
}

// Binding and refused sends put nothing on the wire.
TEST_F(CoMulticastTest, FailuresCarrySystemTextAndOperation) {
    const int held = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::bind(held, reinterpret_cast<sockaddr*>(&address), sizeof address));
    socklen_t length = sizeof address;
    ::getsockname(held, reinterpret_cast<sockaddr*>(&address), &length);
    const unsigned heldPort = ntohs(address.sin_port);
    sockaddr_in6 toV6{};
    toV6.sin6_family = AF_INET6;
    toV6.sin6_addr = in6addr_loopback;
    toV6.sin6_port = htons(9);

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
        {[&] { CoMulticast(kGroupPort, kGroup, nullptr).sendTo("abc", 3, reinterpret_cast<sockaddr*>(&toV6)); },
         textOf(EAFNOSUPPORT), "Unable to send 3 bytes to ::1:9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ("", raises(c.op, c.text, c.detail));
    ::close(held);
}

// A search sent to a host where nothing listens comes back at once as port
// unreachable; the sender must learn it without its receives failing.
TEST_F(CoMulticastTest, ReportsUnreachableDestinationOfEarlierSend) {
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address));
    socklen_t size = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(probe);  // its port is now closed
    const unsigned closedPort = ntohs(address.sin_port);

    CoMulticast sender(kGroupPort, kGroup, "127.0.0.1");
    EXPECT_EQ(0u, sender.getBoundPort());
    sender.bind(true);
    EXPECT_GE(sender.getBoundPort(), CoMulticast::kEphemeralPortMin);
    sender.send("find", 4, "127.0.0.1", closedPort);
    pollfd waiting{sender.getDescriptor(), POLLIN, 0};
    ASSERT_EQ(1, ::poll(&waiting, 1, kWaitMs));
    char buffer[16];
    int length = sizeof buffer;
    sender.receive(buffer, length, nullptr, false);  // the refusal, not data
    EXPECT_EQ(0, length);
    const std::vector<CoMulticast::Endpoint> refused = sender.takeUnreachable();
    ASSERT_EQ(1u, refused.size());
    EXPECT_EQ("127.0.0.1", refused[0].address);
    EXPECT_EQ(closedPort, refused[0].port);
    // Taken: the socket no longer polls ready.
    EXPECT_EQ(0, ::poll(&waiting, 1, 0));
    EXPECT_TRUE(sender.takeUnreachable().empty());
}

}  // namespace
