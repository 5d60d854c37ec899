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

// Each call gives up the socket of the one before. A scan starts at portMin
// or at -port; a -1 lower limit means the default one.
TEST(CoIoTcpServerDescriptorTest, PortChoiceScansAndFailsWithItsReason) {
    CorvaneTest::MessageLog::Scope log;
    CoIoTcpServerDescriptor taken;
    ASSERT_TRUE(taken.initPort(-1));
    const int t = taken.getPort(), low = CoIoTcpServerDescriptor::kDefaultPortMin;
    const struct {
        int port, portMin, portMax, from, to, err;
    } cases[] = {{-1, t, t + 20, t + 1, t + 20, 0},        {-t, t - 1, t + 20, t + 1, t + 20, 0},
                 {-1, -1, low + 20, low, low + 20, 0},     {t, -1, -1, -1, -1, EADDRINUSE},
                 {-1, t, t, -1, -1, EADDRINUSE},           {-t, t - 1, t, -1, -1, EADDRINUSE},
                 {70000, -1, -1, -1, -1, EINVAL},          {0, -1, -1, -1, -1, 0}};
    for (const bool ipv4Only : {false, true}) {
        ScopedEnv env(ipv4Only ? std::vector<const char*>{"XQ_TCP_DISABLE_IPV6"} : std::vector<const char*>{});
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(c.port) + " " + std::to_string(c.portMin) + " ipv4 only " +
                         std::to_string(ipv4Only));
            CoIoTcpServerDescriptor server;
            ASSERT_TRUE(server.initPort(-1));
            EXPECT_EQ(c.from >= 0, server.initPort(c.port, 0, 0, c.portMin, c.portMax)) << server.lastError();
            EXPECT_EQ(c.err ? std::strerror(c.err) : "", server.lastError());
            EXPECT_TRUE(server.getPort() >= c.from && server.getPort() <= c.to) << server.getPort();
            EXPECT_EQ(c.from >= 0, server.isValid());
            EXPECT_EQ(c.from >= 0, c.from >= 0 && accepts(server.getPort(), false));
        }
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
