// What a server stores is hostile input too: a root "info" stream nested
// deep enough to overflow a recursive parser's stack, asked for by every
// page that opens the server, must fail that one request and leave the
// FastCGI process serving the others.
#include <gtest/gtest.h>

#include <future>
#include <string>

#include "FastCgiGateway.h"
#include "GatewayFixture.h"
#include "support/SimProcess.h"

namespace {

using HostileStoredDataTest = FastCgiFixture;

TEST_F(HostileStoredDataTest, DeeplyNestedAdministratorListFailsOnlyItsOwnRequest) {
    std::string deep;
    for (int i = 0; i < 200000; ++i)
        deep += "<a>";
    const CorvaneTest::SimProcess sim("node / FOLDER Root\nmeta / info " + deep +
                                      "\nnode /media FOLDER Media\nmeta /media notes <notes/>\n");
    ASSERT_TRUE(sim.started());
    startGateway();
    const auto ask = [&](const std::string& query) { return gateway_->ask(fastCgiGet(query, "admin"), "", 60000); };
    const std::string host = "host=" + sim.host();
    for (int round = 0; round < 3; ++round) {
        auto admin = std::async(std::launch::async, ask, "mode=isAdmin&" + host + "&nodeId=/");
        auto other = std::async(std::launch::async, ask, "mode=getMetadata&" + host + "&nodeId=/media&streamName=notes");
        EXPECT_EQ(admin.get(), error("Parse manager&apos;s metadata failed"));
        EXPECT_EQ(other.get(), ok("<response><node><nodeId>/media</nodeId><host>" + sim.host() +
                                  "</host><notes/></node></response>\n"));
        ASSERT_TRUE(gateway_->alive()) << "the deep stream ended the process";
    }
}

}  // namespace
