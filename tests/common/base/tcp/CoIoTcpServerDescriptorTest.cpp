#include "base/tcp/CoIoTcpServerDescriptor.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/LoopbackListener.h"
#include "support/MessageLog.h"

namespace {

using Corvane::CoIoTcpServerDescriptor;

// Sets environment variables for one test and removes them again.
class ScopedEnv {
public:
    explicit ScopedEnv(std::vector<const char*> names) : names_(std::move(names)) {
        for (const char* name : names_)
            ::setenv(name, "1", 1);
    }
    ~ScopedEnv() {
        for (const char* name : names_)
            ::unsetenv(name);
    }

private:
    std::vector<const char*> names_;
};

bool accepts(int port, bool ipv6) { return CorvaneTest::connectLoopback(port, ipv6).valid(); }

// A system-chosen port serves both families unless one is switched off.
TEST(CoIoTcpServerDescriptorTest, FamilySwitchesDecideWhoIsServed) {
    const bool haveIpv6 = CorvaneTest::ipv6LoopbackAvailable();
    const struct {
        std::vector<const char*> disabled;
        bool ipv4;
        bool ipv6;
    } cases[] = {{{}, true, haveIpv6}, {{"XQ_TCP_DISABLE_IPV6"}, true, false}, {{"XQ_TCP_DISABLE_IPV4"}, false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.disabled.empty() ? "dual stack" : c.disabled[0]);
        if (c.ipv6 && !haveIpv6)
            continue;
        ScopedEnv env(c.disabled);
        CoIoTcpServerDescriptor server;
        ASSERT_TRUE(server.initPort(-1)) << server.lastError();
        EXPECT_EQ(c.ipv4, accepts(server.getPort(), false));
        if (haveIpv6) {
            EXPECT_EQ(c.ipv6, accepts(server.getPort(), true));
        }
    }
    ScopedEnv both({"XQ_TCP_DISABLE_IPV6", "XQ_TCP_DISABLE_IPV4"});
    CoIoTcpServerDescriptor server;
    EXPECT_FALSE(server.initPort(-1));
    EXPECT_EQ("No protocol available", server.lastError());
    EXPECT_FALSE(server.isValid());
}

TEST(CoIoTcpServerDescriptorTest, PortZeroGivesUpTheEarlierSocket) {
    CoIoTcpServerDescriptor server;
    ASSERT_TRUE(server.initPort(-1));
    EXPECT_FALSE(server.initPort(0));
    EXPECT_EQ(-1, server.getPort());
    EXPECT_FALSE(server.isValid());
    // A -1 lower limit with an upper one scans from the default low end.
    const int low = CoIoTcpServerDescriptor::kDefaultPortMin;
    ASSERT_TRUE(server.initPort(-1, 0, 0, -1, low + 20)) << server.lastError();
    EXPECT_GE(server.getPort(), low);
    EXPECT_LE(server.getPort(), low + 20);
}

TEST(CoIoTcpServerDescriptorTest, ScanSkipsTakenPorts) {
    for (const char* family : {"dual stack", "XQ_TCP_DISABLE_IPV6"}) {
        SCOPED_TRACE(family);
        ScopedEnv env(std::strcmp(family, "dual stack") == 0 ? std::vector<const char*>{}
                                                             : std::vector<const char*>{family});
        CoIoTcpServerDescriptor taken;
        ASSERT_TRUE(taken.initPort(-1)) << taken.lastError();
        const int first = taken.getPort();
        // Starting at portMin, and at -port.
        const struct {
            int port, portMin, portMax;
        } scans[] = {{-1, first, first + 20}, {-first, first - 1, first + 20}};
        for (const auto& s : scans) {
            CoIoTcpServerDescriptor server;
            ASSERT_TRUE(server.initPort(s.port, 0, 0, s.portMin, s.portMax)) << server.lastError();
            EXPECT_GT(server.getPort(), first);
            EXPECT_LE(server.getPort(), first + 20);
            EXPECT_TRUE(accepts(server.getPort(), false));
        }
    }
}

TEST(CoIoTcpServerDescriptorTest, BindFailsWhenThereIsNoOtherPortToTry) {
    CorvaneTest::MessageLog::Scope log;
    CoIoTcpServerDescriptor taken;
    ASSERT_TRUE(taken.initPort(-1));
    const int port = taken.getPort();
    const struct {
        int port, portMin, portMax, err;
    } cases[] = {{port, -1, -1, EADDRINUSE},
                 {-1, port, port, EADDRINUSE},
                 {-port, port - 1, port, EADDRINUSE},
                 {70000, -1, -1, EINVAL}};
    for (const auto& c : cases) {
        CoIoTcpServerDescriptor server;
        EXPECT_FALSE(server.initPort(c.port, 0, 0, c.portMin, c.portMax)) << c.port << " " << c.portMin;
        EXPECT_EQ(std::strerror(c.err), server.lastError());
        EXPECT_EQ(-1, server.getPort());
        EXPECT_FALSE(server.isValid());
    }
    EXPECT_TRUE(log->contains("Could not bind to port '70000' [fd:-1]"));
}

TEST(CoIoTcpServerDescriptorTest, GivenPortIsBoundAgainAfterClose) {
    int port = -1;
    {
        CoIoTcpServerDescriptor first;
        ASSERT_TRUE(first.initPort(-1));
        port = first.getPort();
        // A connection leaves the port in TIME_WAIT once closed.
        EXPECT_TRUE(accepts(port, false));
    }
    CoIoTcpServerDescriptor again;
    ASSERT_TRUE(again.initPort(port)) << again.lastError();
    EXPECT_EQ(port, again.getPort());
}

}  // namespace
