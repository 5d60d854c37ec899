// The gateway reaching servers named without a port, through discovery:
// sims on this host (the test's own network namespace) and on virtual
// hosts behind a bridge.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "GatewayFixture.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneInit.h"
#include "client/api/CorvaneMulticastClient.h"
#include "client/api/CorvaneServerHandle.h"
#include "client/api/CorvaneServerId.h"
#include "support/Eventually.h"
#include "support/SimProcess.h"
#include "support/VirtualNetwork.h"

namespace {

using CorvaneTest::SimProcess;

// A root whose "info" stream says which server answered.
std::string treeOf(const std::string& name) { return "node / FOLDER Root\nmeta / info <info>" + name + "</info>\n"; }

class GatewayDiscoveryTest : public GatewayFixture {
protected:
    // The response of getMetadata for "/" on host, or the error.
    std::string rootInfo(const std::string& host) const {
        return run({"mode=getMetadata", "host=" + host, "nodeId=/", "streamName=info"}).out;
    }
    static std::string answeredBy(const std::string& host, const std::string& name) {
        return ok("<response><node><nodeId>/</nodeId><host>" + host + "</host><info>" + name +
                  "</info></node></response>\n");
    }
    // Each host with the server that answers on it, null when it is refused.
    void expectAnsweredBy(const std::vector<std::pair<std::string, const char*>>& cases) const {
        for (const auto& c : cases)
            EXPECT_EQ(rootInfo(c.first), c.second ? answeredBy(c.first, c.second) : error("Connection refused"))
                << c.first;
    }
};

TEST_F(GatewayDiscoveryTest, ServerNamedByAddressOrDatabaseIsFoundOnThisHost) {
    SimProcess main(treeOf("main"));
    SimProcess archive(treeOf("archive"), {"--database", "ARCHIVE"});
    ASSERT_TRUE(main.started() && archive.started());
    expectAnsweredBy({
        {"127.0.0.1", "main"},  // a bare host names the default database
        {"localhost:OBRAN", "main"},
        {"127.0.0.1:ARCHIVE", "archive"},
        {"localhost:NOPE", nullptr},
    });
}

// Two sims on hosts of their own behind a bridge, with this process as the
// third host: the gateway and the library in here find them by address, by
// database and by storage identifier, follow one that moves, and pick the
// bridge up again after it went down.
class DiscoveryBetweenHostsTest : public GatewayDiscoveryTest {
protected:
    void SetUp() override {
        if (!net_.error().empty())
            GTEST_SKIP() << net_.error();
        one_ = net_.addHost();
        two_ = net_.addHost();
        ASSERT_TRUE(one_ && two_) << net_.error();
        ASSERT_TRUE(corvaneInit());
    }
    void TearDown() override { corvaneUninit(); }

    // A sim on host that announces itself on address (by default the host's own).
    static std::unique_ptr<SimProcess> simOn(const CorvaneTest::VirtualHost& host, const std::string& database,
                                             const std::string& address = "") {
        auto sim = std::make_unique<SimProcess>(
            treeOf(database),
            std::vector<std::string>{"--database", database, "--storage-id", "store-" + database,
                                     "--discovery-interface", address.empty() ? host.address() : address},
            0, host.enter());
        EXPECT_TRUE(sim->started());
        return sim;
    }

    // The first address the library's discovery client lists for storage.
    static std::string addressOf(const std::string& storage) {
        CorvaneServerId id;
        id.setStorageId(storage.c_str());
        CorvaneDaemonInfo info;
        return CorvaneMulticastClient::instance()->resolve(id, info) ? info.getIP(0) : "";
    }

    CorvaneTest::VirtualNetwork net_;
    CorvaneTest::VirtualHost* one_ = nullptr;
    CorvaneTest::VirtualHost* two_ = nullptr;
};

TEST_F(DiscoveryBetweenHostsTest, FindsServersByAddressDatabaseAndStorage) {
    auto one = simOn(*one_, "ONE");
    auto two = simOn(*two_, "TWO");
    const std::string a = one_->address();
    const std::string b = two_->address();
    expectAnsweredBy({
        {a, nullptr},  // a bare host names OBRAN, which neither serves
        {a + ":ONE", "ONE"},
        {b + ":TWO", "TWO"},
        {b + ":ONE", nullptr},
    });

    // By storage identifier alone, through the library.
    CorvaneServerId byStorage;
    byStorage.setStorageId("store-TWO");
    CorvaneServerHandle server(byStorage);
    ASSERT_TRUE(server.ping(10000)) << server.lastError();
    CorvaneDaemonInfo info;
    ASSERT_TRUE(server.getDaemonInfo(info));
    EXPECT_STREQ(info.getDatabase(), "TWO");

    // The server moves to another address and announces itself there.
    two->stop();
    ASSERT_TRUE(two_->ip("addr flush dev eth0") && two_->ip("addr add 10.77.0.9/24 dev eth0"));
    two = simOn(*two_, "TWO", "10.77.0.9");
    ASSERT_TRUE(two->started());
    EXPECT_TRUE(CorvaneTest::eventually([] { return addressOf("store-TWO") == "10.77.0.9"; }));
    EXPECT_EQ(rootInfo("10.77.0.9:TWO"), answeredBy("10.77.0.9:TWO", "TWO"));
}

TEST_F(DiscoveryBetweenHostsTest, InterfaceThatComesBackIsSearchedAgain) {
    auto one = simOn(*one_, "ONE");
    ASSERT_TRUE(CorvaneTest::eventually([] { return addressOf("store-ONE") == "10.77.0.2"; }));
    // Only a search sent through the reopened socket can bring the server
    // back: it announced itself once, at its start.
    CorvaneServerId id;
    id.setStorageId("store-ONE");
    CorvaneMulticastClient::instance()->removeServer(id);
    ASSERT_EQ(addressOf("store-ONE"), "");
    for (const char* state : {" down", " up"})
        ASSERT_TRUE(
            CorvaneTest::VirtualNetwork::ip(std::string("link set ") + CorvaneTest::VirtualNetwork::kBridge + state));
    EXPECT_TRUE(CorvaneTest::eventually([] { return addressOf("store-ONE") == "10.77.0.2"; }));
}

}  // namespace
