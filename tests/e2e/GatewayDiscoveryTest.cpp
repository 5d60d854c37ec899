// The gateway reaching servers named without a port, through discovery:
// sims on this host (the test's own network namespace) and on virtual
// hosts behind a bridge.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GatewayFixture.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneInit.h"
#include "client/api/CorvaneMulticastClient.h"
#include "client/api/CorvaneServerId.h"
#include "support/Eventually.h"
#include "support/SimProcess.h"
#include "support/VirtualNetwork.h"

namespace {

using CorvaneTest::SimProcess;

// A root whose "info" stream says which server answered.
std::string treeOf(const std::string& name) {
    return "node / FOLDER Root\nmeta / info <info>" + name + "</info>\n";
}

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
};

TEST_F(GatewayDiscoveryTest, ServerNamedByAddressOrDatabaseIsFoundOnThisHost) {
    SimProcess main(treeOf("main"));
    SimProcess archive(treeOf("archive"), {"--database", "ARCHIVE"});
    ASSERT_TRUE(main.started() && archive.started());
    const struct {
        const char* host;
        const char* server;  // null: refused
    } cases[] = {
        {"127.0.0.1", "main"},  // a bare host names the default database
        {"localhost:OBRAN", "main"},
        {"127.0.0.1:ARCHIVE", "archive"},
        {"localhost:NOPE", nullptr},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rootInfo(c.host), c.server ? answeredBy(c.host, c.server) : error("Connection refused")) << c.host;
}

// A sim on a host of its own behind a bridge, with this process as the
// other host: the library picks the bridge up again after it went down (how
// it follows announcements is in CorvaneMulticastClientTest).
class DiscoveryBetweenHostsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!net_.error().empty())
            GTEST_SKIP() << net_.error();
        host_ = net_.addHost();
        ASSERT_TRUE(host_) << net_.error();
        ASSERT_TRUE(corvaneInit());
    }
    void TearDown() override { corvaneUninit(); }

    // The first address the library's discovery client lists for storage.
    static std::string addressOf(const std::string& storage) {
        CorvaneServerId id;
        id.setStorageId(storage.c_str());
        CorvaneDaemonInfo info;
        return CorvaneMulticastClient::instance()->resolve(id, info) ? info.getIP(0) : "";
    }

    CorvaneTest::VirtualNetwork net_;
    CorvaneTest::VirtualHost* host_ = nullptr;
};

TEST_F(DiscoveryBetweenHostsTest, InterfaceThatComesBackIsSearchedAgain) {
    const SimProcess sim(treeOf("ONE"), {"--storage-id", "store-ONE", "--discovery-interface", host_->address()}, 0,
                         host_->enter());
    ASSERT_TRUE(sim.started());
    ASSERT_TRUE(CorvaneTest::eventually([] { return addressOf("store-ONE") == "10.77.0.2"; }));
    // Only a search sent through the reopened socket can bring the server
    // back: it announced itself once, at its start.
    CorvaneServerId id;
    id.setStorageId("store-ONE");
    CorvaneMulticastClient::instance()->removeServer(id);
    ASSERT_EQ(addressOf("store-ONE"), "");
    ASSERT_TRUE(CorvaneTest::VirtualNetwork::ip(std::string("link set ") + CorvaneTest::VirtualNetwork::kBridge +
                                                " down"));
    ASSERT_TRUE(CorvaneTest::VirtualNetwork::ip(std::string("link set ") + CorvaneTest::VirtualNetwork::kBridge +
                                                " up"));
    EXPECT_TRUE(CorvaneTest::eventually([] { return addressOf("store-ONE") == "10.77.0.2"; }));
}

}  // namespace
