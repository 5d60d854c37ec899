#include "base/network/CoNetworkConfig.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/loggerBase/CoMsg.h"
#include "base/network/CoNetwork.h"
#include "base/network/CoNetworkDispatcher.h"
#include "base/threads/CoThreadMgr.h"
#include "common/base/network/NetworkTestSupport.h"
#include "common/base/threads/ThreadTestSupport.h"
#include "support/MessageLog.h"

using namespace Corvane;
using namespace CorvaneTest;

namespace {

Corvane::CoNetworkConfig& config() { return Corvane::CoNetworkConfig::instance(); }

const std::string kUuid = "0f8fad5b-d9cb-469f-a165-70867728950e";

// Port, TTL and scope read over the values a caller starts from.
std::string selfDiscovery() {
    unsigned port = 7555, ttl = 1;
    std::string scope = "224.0.0.1";
    EXPECT_TRUE(config().getSelfDiscoveryPort(port));
    EXPECT_TRUE(config().getSelfDiscoveryTTL(ttl));
    EXPECT_TRUE(config().getSelfDiscoveryScope(scope));
    return std::to_string(port) + " " + std::to_string(ttl) + " " + scope;
}

// A missing file leaves every default. In a file, lists are trimmed with
// empty items kept; a number keeps the caller's value unless it starts with
// digits.
TEST(CoNetworkConfigTest, ReadsEveryKeyOrItsDefaultAndRefusesInvalidUuids) {
    MessageLog::Scope log;
    auto missing = ScopedNetworkConfig::missing();
    EXPECT_EQ("7555 1 224.0.0.1", selfDiscovery());
    std::vector<std::string> names{"stale"};
    EXPECT_TRUE(config().getMetadataInterfaces(names));
    EXPECT_TRUE(names.empty());

    // No UUID is quiet: only the last error says so.
    std::string uuid = "unchanged";
    EXPECT_FALSE(config().getUUID(uuid));
    EXPECT_EQ("unchanged", uuid);
    EXPECT_EQ("No host UUID configured. Please check " + missing.path() + ".", config().lastError());
    EXPECT_EQ(0u, log->lines().size());
    EXPECT_FALSE(config().silentMode());

    ScopedNetworkConfig file("[Local]\nUUID = " + kUuid +
                             "\n[Interfaces]\nMetadata = eth0, eth1\t,,eth2,\nData = ib0\nMulticast =\n"
                             "[SelfDiscovery]\nPort = 8123abc\nScope = 239.1.2.3\nTTL = x4\n");
    EXPECT_TRUE(config().getUUID(uuid));
    EXPECT_EQ(kUuid, uuid);

    EXPECT_TRUE(config().getMetadataInterfaces(names));
    EXPECT_EQ((std::vector<std::string>{"eth0", "eth1", "", "eth2", ""}), names);
    EXPECT_TRUE(config().getDataInterfaces(names));
    EXPECT_EQ(std::vector<std::string>{"ib0"}, names);
    names = {"stale"};
    EXPECT_TRUE(config().getMulticastInterfaces(names));
    EXPECT_TRUE(names.empty());
    EXPECT_EQ("8123 1 239.1.2.3", selfDiscovery());

    // Invalid UUIDs are refused.
    for (const std::string& bad : {kUuid.substr(1), "g" + kUuid.substr(1)}) {
        MessageLog::Scope log;
        ScopedNetworkConfig file("[Local]\nUUID=" + bad + "\n");
        uuid = "unchanged";
        EXPECT_FALSE(config().getUUID(uuid)) << bad;
        EXPECT_EQ("unchanged", uuid);
        EXPECT_EQ("Invalid UUID '" + bad + "'", config().lastError());
        EXPECT_EQ(std::vector<std::string>{"Invalid UUID '" + bad + "'"}, log->texts(CoMsg::error));
    }
}

class CoNetworkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(CoNetwork::isInitialized()) << "an earlier test left the network layer on"; }
    // The next test finds the network layer off, also after a failed assertion.
    void TearDown() override {
        while (CoNetwork::isInitialized())
            CoNetwork::uninit();
    }

    MessageLog::Scope log_;
};

[[noreturn]] void exitWithTheNetworkLayerOn() {
    static CorvaneTest::StderrRouter router;
    CoMsg::setRouter(&router);
    CoMsg::setLevel(CoMsg::warning);
    CoNetwork::init();
    // Nobody observes yet: a process that never watches interfaces has no thread.
    if (Corvane::CoThreadMgr::instance().findThread("CoNetworkMonitor Thread"))
        std::_Exit(2);
    static Corvane::CoNetworkDispatcher* const watcher = new Corvane::CoNetworkDispatcher(true);
    (void)watcher;
    if (!Corvane::CoThreadMgr::instance().findThread("CoNetworkMonitor Thread"))
        std::_Exit(3);
    std::exit(0);  // as returning from main does
}

TEST_F(CoNetworkTest, InitAndUninitNestOneTooManyDiesAndExitWithoutUninitIsClean) {
    for (int round = 0; round < 2; ++round) {  // the monitor can be started a second time
        EXPECT_TRUE(CoNetwork::init() && CoNetwork::init());
        EXPECT_TRUE(CoNetwork::uninit());
        EXPECT_TRUE(CoNetwork::isInitialized());
        EXPECT_TRUE(CoNetwork::uninit());
        EXPECT_FALSE(CoNetwork::isInitialized());
    }
    // One uninit too many is a programming error: a count of -1 would keep the monitor off after the next init.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(CoNetwork::uninit(), "after >= 0");

    // Programs forget the last uninit. The monitor must end its thread itself
    // at exit: the thread manager's exit handler would delete the thread object
    // the monitor still holds, and the monitor would then use it.
    EXPECT_EXIT(exitWithTheNetworkLayerOn(), ::testing::ExitedWithCode(0),
                ::testing::Not(::testing::HasSubstr("was not stopped by its owner")));
}

TEST_F(CoNetworkTest, HostNameQueries) {
    ASSERT_TRUE(CoNetwork::init());
    char expected[256] = {};
    ASSERT_EQ(0, gethostname(expected, sizeof expected - 1));

    std::string name;
    EXPECT_TRUE(CoNetwork::getLocalHostName(name));
    EXPECT_EQ(expected, name);

    // A buffer too small for the name makes gethostname fail.
    const size_t size = std::strlen(expected);
    std::vector<char> small(size, 'x');
    EXPECT_TRUE(CoNetwork::getHostName(small.data(), small.size()));
    EXPECT_EQ(std::string("localhost").substr(0, size - 1), small.data());
    EXPECT_EQ(std::vector<std::string>{"Could not retrieve host name: " + std::string(std::strerror(ENAMETOOLONG))},
              log_->texts(CoMsg::error));
}

}  // namespace
