// The test binary runs in a private network namespace with only lo up, so
// discovery stays on this host. The servers' side is played here with
// CoMulticast sockets on a group of the loopback.
#include "client/api/CorvaneMulticastClient.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ScriptedServer.h"
#include "base/network/CoNetwork.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/tcp/CoMulticast.h"
#include "client/api/CorvaneServerId.h"
#include "common/base/network/NetworkTestSupport.h"
#include "support/Eventually.h"
#include "support/MessageLog.h"
#include "support/TempDir.h"
#include "support/VirtualNetwork.h"

namespace {

using Corvane::CoMulticast;
using Corvane::rcAttrStream;
using CorvaneMulticastProtocol::RequestType;

constexpr unsigned int kPort = 17555;
constexpr const char* kGroup = "239.75.5.55";
constexpr int kWaitMs = 5000;  // hang guard only

CorvaneDaemonInfo server(const char* display, const char* database, const char* storageId,
                         std::vector<const char*> addresses, int nodePort = 7000) {
    CorvaneDaemonInfo record;
    record.setVersionMajor(3);  // servers before 3 carry no storage identifier
    record.setDisplayName(display);
    record.setDatabase(database);
    record.setStorageId(storageId);
    record.setNodePort(nodePort);
    for (size_t i = 0; i < addresses.size(); ++i)
        record.setIP(static_cast<int>(i), addresses[i]);
    return record;
}

std::string request(RequestType type, const CorvaneDaemonInfo& record) {
    rcAttrStream payload;
    record.write(payload);
    return CorvaneMulticastProtocol::encodeRequest(type, payload);
}

// The client with its load-time settings opened to the test.
struct TestClient : CorvaneMulticastClient {
    explicit TestClient(int64_t resyncUs = 3600LL * 1000000, int verbosity = 1)
        : CorvaneMulticastClient(kPort, kGroup, 1) {
        verbosity_ = verbosity;
        resyncPeriodUs_ = resyncUs;
    }
    ~TestClient() override { stop(); }  // the thread calls our overrides
    using CorvaneMulticastClient::start;
    using CorvaneMulticastClient::stop;

    // Storage identifiers (or display names) in list order; the thread must run.
    std::vector<std::string> listed() {
        ServerList servers;
        findServers(&servers, nullptr, nullptr, 0);
        std::vector<std::string> names;
        for (const CorvaneDaemonInfo& s : servers)
            names.push_back(*s.getStorageId() ? s.getStorageId() : s.getDisplayName());
        return names;
    }
};

// The servers: a sender that multicasts from 127.0.0.1 and, when asked, a
// socket on 127.0.0.1 for unicast (it takes unicast before the client's own
// public socket).
class FakeServers {
public:
    explicit FakeServers(bool unicast) : sender_(kPort, kGroup, "127.0.0.1") {
        sender_.setLoopback(1);
        sender_.bind(true);
        if (unicast) {
            unicast_ = std::make_unique<CoMulticast>(kPort, kGroup, "127.0.0.1");
            unicast_->bind(false);
        }
    }
    ~FakeServers() {
        stop_ = true;
        if (responder_.joinable())
            responder_.join();
    }

    void multicast(const std::string& text) { sender_.send(text.data(), static_cast<int>(text.size())); }

    // A local server: answers the unicast searches with record until
    // destroyed, and no multicast one, so that only the search sent to
    // 127.0.0.1 can find it.
    void answerUnicastSearches(const CorvaneDaemonInfo& record) {
        responder_ = std::thread([this, record] {
            for (int i = 0; i < 500 && !stop_; ++i) {
                pollfd ready{unicast_->getDescriptor(), POLLIN, 0};
                if (::poll(&ready, 1, 20) != 1)
                    continue;
                char datagram[2048];
                int length = sizeof datagram - 1;
                sockaddr_storage from;
                unicast_->receive(datagram, length, reinterpret_cast<sockaddr*>(&from), false);
                datagram[length] = '\0';
                RequestType type;
                rcAttrStream payload;
                if (!CorvaneMulticastProtocol::decodeRequest(datagram, type, payload) ||
                    type != RequestType::FindServers)
                    continue;
                // A search naming another database or storage identifier,
                // an empty one included, is for another server.
                std::string database, storageId;
                if ((payload.getValue("Database", database) && database != record.getDatabase()) ||
                    (payload.getValue("StorageId", storageId) && storageId != record.getStorageId()))
                    continue;
                const std::string text = request(RequestType::DiscoverServersReply, record);
                unicast_->sendTo(text.data(), static_cast<int>(text.size()), reinterpret_cast<const sockaddr*>(&from));
            }
        });
    }

private:
    CoMulticast sender_;
    std::unique_ptr<CoMulticast> unicast_;
    std::atomic<bool> stop_{false};
    std::thread responder_;
};

class CorvaneMulticastClientTest : public ::testing::Test {
protected:
    void SetUp() override { CorvaneMulticastClient::destroyInstance(); }  // left by another test of the binary
    void TearDown() override { CorvaneMulticastClient::destroyInstance(); }

    // A started client, by default one that made no start-up search; the singleton owns it.
    TestClient& startedClient(int64_t resyncUs = 3600LL * 1000000, bool search = false, int verbosity = 1) {
        auto client = std::make_unique<TestClient>(resyncUs, verbosity);
        client->start(search);
        return *client.release();
    }

    static bool eventuallyResolves(CorvaneMulticastClient& client, const CorvaneServerId& id, bool wanted = true) {
        CorvaneDaemonInfo out;
        return CorvaneTest::eventually([&] { return client.resolve(id, out) == wanted; }, kWaitMs);
    }

    static CorvaneServerId byStorage(const char* storageId, const char* text = "elsewhere") {
        CorvaneServerId id(text);
        id.setStorageId(storageId);
        return id;
    }

    CorvaneTest::MessageLog::Scope messages_;
};

TEST_F(CorvaneMulticastClientTest, ListsAnnouncedServersInOrderAndResolvesThem) {
    FakeServers servers(false);
    TestClient& client = startedClient();
    const CorvaneDaemonInfo remote = server("delta", "DB1", "SD", {"127.0.0.1", "10.9.8.7"});
    for (const CorvaneDaemonInfo& record :
         {server("alpha", "DB2", "SA", {"10.1.1.1"}), server("alpha", "DB1", "SB", {"10.1.1.1"}, 7001),
          server("beta", "", "", {}, 0), remote})
        servers.multicast(request(RequestType::DiscoverServers, record));
    ASSERT_TRUE(eventuallyResolves(client, byStorage("SD")));
    ASSERT_TRUE(eventuallyResolves(client, CorvaneServerId("127.0.0.1")));
    EXPECT_EQ((std::vector<std::string>{"SB", "SA", "beta", "SD"}), client.listed());

    const struct {
        CorvaneServerId id;
        const char* storageId;  // null: no match
    } cases[] = {
        {CorvaneServerId("10.1.1.1"), "SB"},  // first of two in list order
        {CorvaneServerId("10.1.1.1:DB2"), "SA"},
        {CorvaneServerId("10.1.1.1:7000"), "SA"},
        {byStorage("SD"), "SD"},
        {CorvaneServerId(7549, "127.0.0.1"), ""},  // sender added, NodePort 0 listed as 7549
        {CorvaneServerId("localhost:OBRAN"), ""},  // no Database listed as OBRAN
        {CorvaneServerId("10.9.8.7:DB1"), "SD"},
        {CorvaneServerId("127.0.0.1:DB1"), nullptr},  // the remote loopback address was dropped
        {byStorage("S?"), nullptr},
    };
    for (const auto& c : cases) {
        CorvaneDaemonInfo out;
        const bool found = client.resolve(c.id, out);
        EXPECT_EQ(std::string(c.storageId ? c.storageId : "<none>"), found ? out.getStorageId() : "<none>")
            << c.id.getStr();
    }
    CorvaneDaemonInfo beta;
    ASSERT_TRUE(client.resolve(CorvaneServerId(7549, "127.0.0.1"), beta));
    EXPECT_STREQ("127.0.0.1", beta.getIP(0)) << "the sender is the address of a record without one";
    // The same server again overwrites its record in place.
    CorvaneDaemonInfo moved = remote;
    moved.setIP(1, "10.9.8.8");
    servers.multicast(request(RequestType::DiscoverServers, moved));
    ASSERT_TRUE(eventuallyResolves(client, CorvaneServerId("10.9.8.8")));
    EXPECT_EQ(4u, client.listed().size());

    // A removal forgets only the server it names.
    servers.multicast(request(RequestType::RemoveServer, moved));
    EXPECT_TRUE(eventuallyResolves(client, byStorage("SD"), false));
    EXPECT_EQ((std::vector<std::string>{"SB", "SA", "beta"}), client.listed());
    client.removeServer(byStorage("S?"));  // none: nothing to tell
    EXPECT_TRUE(CorvaneTest::eventually(
        [&] {
            return messages_->startingWith("Corvane Multicast: Removing") ==
                   std::vector<std::string>{"Corvane Multicast: Removing 'SD'"};
        },
        kWaitMs));
}

// An interface that comes while the client runs gets a socket and a search
// of its own, and its address is this host's until it goes again: a record
// of that address keeps its loopback sender only meanwhile.
TEST_F(CorvaneMulticastClientTest, FollowsInterfacesThatComeAndGo) {
    FakeServers servers(false);
    TestClient& client = startedClient();
    Corvane::CoNetwork::init();  // the topology monitor
    struct Down {
        ~Down() {
            CorvaneTest::VirtualNetwork::ip("link del cvd0");
            Corvane::CoNetwork::uninit();
        }
    } down;
    for (const char* command : {"link add cvd0 type veth peer name cvd1", "addr add 192.0.2.9/24 dev cvd0",
                                "link set cvd1 up", "link set cvd0 up"})
        ASSERT_TRUE(CorvaneTest::VirtualNetwork::ip(command)) << command;
    auto posted = [&](const std::string& text) {
        return CorvaneTest::eventually([&] { return messages_->contains(text); }, kWaitMs);
    };
    ASSERT_TRUE(posted("Corvane Multicast: start multicasting on 'cvd0'"));
    EXPECT_TRUE(posted("Corvane Multicast: Sending 'FIND_SERVERS' to '239.75.5.55:17555' on cvd0"));
    const CorvaneDaemonInfo here = server("here", "DB", "SH", {"192.0.2.9"});
    servers.multicast(request(RequestType::DiscoverServers, here));
    EXPECT_TRUE(eventuallyResolves(client, CorvaneServerId("127.0.0.1:DB")));
    EXPECT_FALSE(messages_->find(" Metadata IPs: 192.0.2.9 127.0.0.1 \n").empty());

    ASSERT_TRUE(CorvaneTest::VirtualNetwork::ip("link del cvd0"));
    ASSERT_TRUE(posted("Corvane Multicast: drop multicasting on 'cvd0'"));
    client.findStorage("SH");  // searches on lo only
    EXPECT_EQ(1u, messages_->find("' on cvd0").size());
    servers.multicast(request(RequestType::DiscoverServers, here));
    EXPECT_TRUE(eventuallyResolves(client, CorvaneServerId("127.0.0.1:DB"), false));
}

TEST_F(CorvaneMulticastClientTest, ResyncDropsSilentServersAndKeepsRefreshedOnes) {
    FakeServers servers(false);
    TestClient& client = startedClient(300000, false, 2);
    const CorvaneDaemonInfo heard = server("heard", "DB", "SH", {"10.5.5.5"});
    servers.multicast(request(RequestType::DiscoverServers, heard));
    servers.multicast(request(RequestType::DiscoverServers, server("silent", "DB", "SS", {"10.5.5.6"})));
    ASSERT_TRUE(eventuallyResolves(client, byStorage("SS")));
    // A server refreshed after each connection stays; the silent one goes.
    EXPECT_TRUE(CorvaneTest::eventually(
        [&] {
            client.refreshServer(heard.toServerId());
            return client.listed() == std::vector<std::string>{"SH"};
        },
        kWaitMs));
    // Each pass tells from when on it discards, and what.
    EXPECT_FALSE(messages_->startingWith("Corvane Multicast: discarding servers inactive since ").empty());
    EXPECT_TRUE(
        CorvaneTest::eventually([&] { return messages_->contains("Corvane Multicast: discarding 'SS'"); }, kWaitMs));
    const int open = CorvaneTest::countOpenFds();
    client.stop();  // closes the control pipe, keeps the sockets
    EXPECT_EQ(open - 2, CorvaneTest::countOpenFds());
}

TEST_F(CorvaneMulticastClientTest, DropsCorruptAndOversizedDatagramsWithWarning) {
    FakeServers servers(false);
    TestClient& client = startedClient();
    // Valid, but past the 1024 bytes a datagram is read to: it arrives cut.
    const std::string oversized =
        request(RequestType::DiscoverServers, server(std::string(1200, 'x').c_str(), "DB", "SO", {"10.6.6.6"}));
    ASSERT_GT(oversized.size(), 1024u);
    for (const std::string& text : {std::string("g"), oversized})  // one byte is still a datagram
        servers.multicast(text);
    servers.multicast(request(RequestType::DiscoverServers, server("after", "DB", "SF", {"10.6.6.7"})));
    ASSERT_TRUE(eventuallyResolves(client, byStorage("SF")));  // after the bad ones: same socket, same order

    const auto warnings = messages_->find("Invalid/Corrupted packet received from '127.0.0.1:");
    ASSERT_EQ(2u, warnings.size());
    EXPECT_EQ(Corvane::CoMsg::warning, warnings[0].level);
    EXPECT_EQ(": " + oversized.substr(0, 1024), warnings[1].text.substr(warnings[1].text.size() - 1026));
    EXPECT_EQ((std::vector<std::string>{"SF"}), client.listed());
}

TEST_F(CorvaneMulticastClientTest, StartUpFetchesServerListOfFirstServerThatAnswers) {
    CorvaneTest::ScriptedServer rpc;
    const CorvaneDaemonInfo first = server("first", "DB", "S0", {"127.0.0.1"}, rpc.port());
    CorvaneMulticastProtocol::ServerList known{server("second", "DB", "S1", {"10.7.7.7"}, 0),
                                               server("third", "DB", "S2", {"10.7.7.8"})};
    rpc.reply("GetDaemonList", CorvaneMulticastProtocol::encodeServerList(known));
    FakeServers servers(true);
    servers.answerUnicastSearches(first);

    TestClient& client = startedClient(3600LL * 1000000, true);
    EXPECT_EQ((std::vector<std::string>{"S0", "S1", "S2"}), client.listed());
    EXPECT_EQ(std::vector<std::string>{""}, rpc.argsOf("GetDaemonList"));
    CorvaneDaemonInfo out;
    ASSERT_TRUE(client.resolve(byStorage("S1"), out));
    // No sender address for a fetched record.
    EXPECT_EQ("7549 10.7.7.7 ", std::to_string(out.getNodePort()) + " " + out.getIP(0) + " " + out.getIP(1));
    // The local search was answered: no time-out, no network search.
    EXPECT_EQ(0u, messages_->startingWith("Unable to find a Corvane daemon").size());
    // The list's connection is kept for the next call, and closed once it
    // is too old for one: a process that never connects again held it, and
    // its login on the server, until the library stopped.
    EXPECT_GT(CorvaneTest::connectionsTo(rpc.port()), 0);
    // Refreshing a server the list lacks asks that server's host for it by
    // name, which only the server named answers.
    client.removeServer(byStorage("S0"));
    client.refreshServer(byStorage("S0", "127.0.0.1:DB"));
    EXPECT_TRUE(eventuallyResolves(client, byStorage("S0")));
    // The refresh leaves the parked connection to close in time.
    EXPECT_TRUE(CorvaneTest::eventually([&] { return CorvaneTest::connectionsTo(rpc.port()) == 0; }, 15000));
}

// With nothing listening on the local discovery port, the start-up search of
// 127.0.0.1 cannot be answered: it must not wait its full second for it.
TEST_F(CorvaneMulticastClientTest, LocalSearchEndsEarlyWhenNothingCanAnswer) {
    CorvaneTest::ScopedNetworkConfig config(std::string("[SelfDiscovery]\nPort = ") + std::to_string(kPort) +
                                            "\nScope = " + kGroup + "\nTTL = 1\n");
    CorvaneMulticastClient::instance();
    EXPECT_EQ((std::vector<std::string>{"Corvane Multicast: no Corvane daemon listens on '127.0.0.1:17555'."}),
              messages_->startingWith("Corvane Multicast: no Corvane daemon"));
    EXPECT_EQ((std::vector<std::string>{"Unable to find a Corvane daemon on 127.0.0.1 (time-out).",
                                        std::string("Unable to find a Corvane daemon on ") + kGroup + " (time-out)."}),
              messages_->startingWith("Unable to find a Corvane daemon"));
    // The port unreachable report ends the search quietly.
    EXPECT_EQ(0u, messages_->find("Caught Exception").size());
}

}  // namespace
