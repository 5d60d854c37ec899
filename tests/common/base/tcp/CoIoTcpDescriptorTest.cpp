#include "base/tcp/CoIoTcpDescriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/LoopbackListener.h"

namespace {

using Corvane::CoIoTcpDescriptor;
using CorvaneTest::LoopbackListener;
using CorvaneTest::ScopedFd;

std::string textOf(int err) { return std::strerror(err); }

TEST(CoIoTcpDescriptorTest, ConnectsByAddressOrNameAndTalks) {
    const struct {
        const char* host;
        bool ipv6;
        const char* address;
    } cases[] = {{"127.0.0.1", false, "127.0.0.1"}, {"localhost", false, nullptr}, {"::1", true, "::1"}};
    // A name connects to its first address, which the hosts file chooses.
    const std::string localhost = CoIoTcpDescriptor::getIpAddrFromHostName("localhost");
    for (auto c : cases) {
        SCOPED_TRACE(c.host);
        if (!c.address) {
            c.address = localhost.c_str();
            c.ipv6 = localhost.find(':') != std::string::npos;
        }
        if (c.ipv6 && !CorvaneTest::ipv6LoopbackAvailable())
            continue;
        LoopbackListener listener(16, c.ipv6);
        CoIoTcpDescriptor client(c.host, listener.port(), 8192, 8192, 5);
        ASSERT_EQ("", client.lastError());
        EXPECT_TRUE(client.isConnected());
        EXPECT_TRUE(client.setNonBlocking(false));  // a caller that wants to block may
        EXPECT_EQ(0, ::fcntl(client.getFd(), F_GETFL) & O_NONBLOCK);
        ScopedFd server = listener.accept();
        ASSERT_TRUE(server.valid());

        EXPECT_TRUE(client.writeStr("ping\n"));
        std::string line;
        EXPECT_TRUE(CorvaneTest::recvLine(server.get(), &line));
        EXPECT_EQ("ping", line);
        ASSERT_TRUE(CorvaneTest::sendAll(server.get(), "pong\n"));
        char buf[16];
        EXPECT_EQ(4, client.readLine(buf, sizeof buf));
        EXPECT_STREQ("pong", buf);

        std::string local, peer;
        EXPECT_TRUE(client.getSocketIP(local));
        EXPECT_TRUE(client.getPeerIP(peer));
        EXPECT_EQ(c.address, local);
        EXPECT_EQ(c.address, peer);
    }
}

TEST(CoIoTcpDescriptorTest, RefusedConnectLeavesRefusalText) {
    int port = -1;
    const ScopedFd closed = CorvaneTest::bindWithoutListening(&port);
    ASSERT_TRUE(closed.valid());
    CoIoTcpDescriptor client("127.0.0.1", port, 0, 0, 5);
    EXPECT_EQ(textOf(ECONNREFUSED), client.lastError());
    EXPECT_TRUE(client.isValid());  // callers look at the text, not the descriptor
    EXPECT_FALSE(client.isConnected());
}

TEST(CoIoTcpDescriptorTest, ConnectGivesUpAfterItsTimeOutOrACancel) {
    LoopbackListener listener(0);
    const std::vector<ScopedFd> pending = CorvaneTest::stallListener(listener.port());
    if (pending.empty())
        GTEST_SKIP() << "this kernel completes every loopback connect, so none can time out";
    CoIoTcpDescriptor client("127.0.0.1", listener.port(), 0, 0, 1);
    EXPECT_EQ(textOf(ETIMEDOUT), client.lastError());
    EXPECT_FALSE(client.isConnected());  // nothing to read must not pass for a peer
    // A cancel made before the connect began still ends it at once.
    CoIoTcpDescriptor cancelled;
    cancelled.cancel();
    EXPECT_FALSE(cancelled.connectTo("127.0.0.1", listener.port(), 0, 0, 30));
    EXPECT_EQ(textOf(ECONNABORTED), cancelled.lastError());
}

// The binary runs in a network namespace of its own: no query leaves the
// machine, and a name that is not local fails at once. The local name is
// shortened unless it is a local domain's.
TEST(CoIoTcpDescriptorTest, LooksUpNamesAndShortensTheLocalOne) {
    std::string text;
    EXPECT_FALSE(CoIoTcpDescriptor::getIpAddrFromHostName("no-such-host.invalid", text));
    CoIoTcpDescriptor client("no-such-host.invalid", 1, 0, 0, 1);
    EXPECT_NE("", client.lastError());
    EXPECT_FALSE(client.isValid());
    char raw[256] = {};
    ASSERT_EQ(0, ::gethostname(raw, sizeof raw - 1));
    EXPECT_EQ(CoIoTcpDescriptor::shortenHostName(raw), CoIoTcpDescriptor::getLocalHostName());
    const std::pair<const char*, const char*> cases[] = {
        {"box.example.com", "box"}, {"box.local", "box.local"}, {"box.localdomain", "box.localdomain"},
        {"box.", "box"},            {"a.b.local", "a"},         {"", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(c.second, CoIoTcpDescriptor::shortenHostName(c.first)) << "name: '" << c.first << "'";
}

}  // namespace
