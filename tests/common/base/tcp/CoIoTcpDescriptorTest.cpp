#include "base/tcp/CoIoTcpDescriptor.h"

#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/loggerBase/CoException.h"
#include "support/LoopbackListener.h"
#include "support/Process.h"

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

TEST(CoIoTcpDescriptorTest, ShortensHostNamesButNotLocalOnes) {
    const struct {
        const char* name;
        const char* shortName;
    } cases[] = {{"box.example.com", "box"}, {"box", "box"},           {"box.local", "box.local"},
                 {"box.localdomain", "box.localdomain"}, {"box.", "box"}, {"a.b.local", "a"},
                 {"", ""},                             {".local", ".local"}};
    for (const auto& c : cases)
        EXPECT_EQ(c.shortName, CoIoTcpDescriptor::shortenHostName(c.name)) << "name: '" << c.name << "'";
}

// Only names the hosts file knows, so that no query leaves this machine.
TEST(CoIoTcpDescriptorTest, LooksUpLoopbackNamesBothWays) {
    const std::string name = CoIoTcpDescriptor::getHostNameFromIpAddr("127.0.0.1", false);
    EXPECT_FALSE(name.empty());
    std::string address;
    ASSERT_TRUE(CoIoTcpDescriptor::getIpAddrFromHostName("localhost", address));
    EXPECT_TRUE(address == "127.0.0.1" || address == "::1") << address;
    EXPECT_EQ("127.0.0.1", CoIoTcpDescriptor::getIpAddrFromHostName("127.0.0.1"));
    std::string shortName;
    ASSERT_TRUE(CoIoTcpDescriptor::getHostNameFromIpAddr("127.0.0.1", true, shortName));
    EXPECT_EQ(CoIoTcpDescriptor::shortenHostName(name), shortName);
}

bool hostsFileNames(const std::string& name) {
    std::ifstream hosts("/etc/hosts");
    std::string line;
    while (std::getline(hosts, line)) {
        std::istringstream fields(line.substr(0, line.find('#')));
        std::string field;
        fields >> field;  // the address
        while (fields >> field)
            if (field == name)
                return true;
    }
    return false;
}

TEST(CoIoTcpDescriptorTest, LocalHostNameIsShortAndItsAddressCached) {
    char raw[256] = {};
    ASSERT_EQ(0, ::gethostname(raw, sizeof raw - 1));
    EXPECT_EQ(CoIoTcpDescriptor::shortenHostName(raw), CoIoTcpDescriptor::getLocalHostName());
    if (!hostsFileNames(raw))
        GTEST_SKIP() << "'" << raw << "' is not in /etc/hosts; looking it up would query the network";
    std::string first, second;
    ASSERT_TRUE(CoIoTcpDescriptor::getLocalHostIpAddr(first));
    ASSERT_TRUE(CoIoTcpDescriptor::getLocalHostIpAddr(second));
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, second);
}

// A child in a network namespace of its own, with no interface up, so that
// a failing lookup reaches no one. Exit bits: 1 no exception, 2 the
// non-throwing form succeeded, 4 the connection did not fail with a text.
TEST(CoIoTcpDescriptorTest, FailedLookupsThrowOrReturnFalse) {
    const int status = CorvaneTest::runInChild([] {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return 100;
        int bits = 0;
        try {
            CoIoTcpDescriptor::getIpAddrFromHostName("no-such-host.invalid");
            bits |= 1;
        } catch (const Corvane::CoException& e) {
            if (std::strlen(e.what()) == 0)
                bits |= 1;
        }
        std::string address;
        if (CoIoTcpDescriptor::getIpAddrFromHostName("no-such-host.invalid", address))
            bits |= 2;
        CoIoTcpDescriptor client("no-such-host.invalid", 1, 0, 0, 1);
        if (client.lastError().empty() || client.isValid())
            bits |= 4;
        return bits;
    }, 5000);
    ASSERT_NE(-1, status) << "the lookup child hung or crashed";
    if (status == 100)
        GTEST_SKIP() << "no private network namespace here; a failing lookup would query the network";
    EXPECT_EQ(0, status);
}

}  // namespace
