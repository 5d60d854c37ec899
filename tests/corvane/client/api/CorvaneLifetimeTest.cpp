// Handles and event registrations that meet the library stopped: made
// before corvaneInit, or alive after the last corvaneUninit. Run under
// AddressSanitizer, a handle that kept a reference into the deleted table
// or monitor fails here, and so does one that leaks.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneEventMonitor.h"
#include "client/api/CorvaneInit.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneServerHandle.h"
#include "common/base/fileUtil/FreshProcess.h"
#include "support/LoopbackListener.h"
#include "support/SimProcess.h"

namespace {

using CorvaneTest::SimProcess;

constexpr const char* kNotInitialised = "The Corvane library is not initialised";

struct NoEvents : CorvaneNodeEvent::Handler {
    void handleEvent(const CorvaneNodeEvent&) override {}
};

// Every kind of operation, with the node's type and children read (and so
// cached) beforehand where the library runs.
struct Handles {
    explicit Handles(const std::string& host) : server(host.c_str()), node(server, "/media") {}

    // The operations that failed with kNotInitialised, as letters; one per
    // operation when all did.
    std::string failures() {
        int number = 0;
        CorvaneStr text;
        CorvaneDaemonInfo info;
        CorvaneNodeHandle child;
        char buffer[16];
        const std::vector<std::function<bool()>> operations = {
            [&] { return server.ping(); },
            [&] { return server.getDaemonInfo(info); },
            [&] { return server.getNumTranslationGroups(number); },
            [&] { return server.pullFile("/x", "/dev/null"); },
            [&] { return server.registerEventHandler("/media", &handler); },
            [&] { return server.unregisterEventHandler("/media", &handler); },
            [&] { return node.getNodeType(number); },
            [&] { return node.getChild(0, child); },
            [&] { return node.getMetaData("info", "", 0, text); },
            [&] { return node.readStream(buffer, sizeof buffer, 0, 1, number); },
        };
        std::string failed;
        for (size_t i = 0; i < operations.size(); ++i)
            failed += !operations[i]() && std::string(server.lastError()) == kNotInitialised ? '.' : char('a' + i);
        return failed;
    }

    CorvaneServerHandle server;
    CorvaneNodeHandle node;
    NoEvents handler;
};

const std::string kAllFailed(10, '.');

TEST(CorvaneLifetimeTest, HandlesOutsideTheLibraryFailClearlyAndDestroySafely) {
    SimProcess sim(SimProcess::demoTree(), {"--no-discovery"});
    {
        Handles before(sim.host());
        EXPECT_EQ(before.failures(), kAllFailed) << "before corvaneInit";
        EXPECT_FALSE(CorvaneServerHandle::isDiscovered(sim.host().c_str()));
    }

    ASSERT_TRUE(corvaneInit());
    ASSERT_TRUE(corvaneInit());
    Handles after(sim.host());
    int type = -1, children = 0;
    ASSERT_TRUE(after.node.getNodeType(type) && after.node.getNumChildren(children)) << after.server.lastError();
    ASSERT_TRUE(after.server.registerEventHandler("/media", &after.handler)) << after.server.lastError();
    const int monitorPort = CorvaneEventMonitor::instance().boundPort();
    {
        CorvaneServerHandle local(sim.host().c_str());  // destroyed before the stop, as usual
        ASSERT_TRUE(local.ping());
    }
    corvaneUninit();
    EXPECT_TRUE(after.server.ping()) << "a nested stop stopped the library: " << after.server.lastError();
    corvaneUninit();
    EXPECT_EQ(after.failures(), kAllFailed) << "after the last corvaneUninit";
    // The last stop told the server to send no more events, and closed the
    // monitor's port.
    EXPECT_EQ(sim.calls("UnregisterEvents").size(), 1u);
    ASSERT_GT(monitorPort, 0);
    EXPECT_FALSE(CorvaneTest::connectLoopback(monitorPort).valid()) << "the event monitor outlived the library";

    // The same handles work again in the library's next run.
    CorvaneInitGuard again;
    ASSERT_TRUE(again.ok());
    EXPECT_TRUE(after.node.getNodeType(type)) << after.server.lastError();
    EXPECT_TRUE(after.server.registerEventHandler("/media", &after.handler)) << after.server.lastError();
}

// Where nothing answers discovery, a search costs a second; with discovery
// off, "host:port" connects at once, and a server named without a port is
// refused with the reason. The bound only catches the search, not a slow
// machine.
TEST(CorvaneLifetimeTest, DiscoveryOffConnectsDirectly) {
    if (!CorvaneTest::inFreshProcess({{"CORVANE_DISCOVERY", "off"}}))
        return;
    SimProcess sim(SimProcess::demoTree(), {"--no-discovery"});
    CorvaneInitGuard init;
    ASSERT_TRUE(init.ok());
    EXPECT_FALSE(CorvaneServerHandle::discoveryEnabled());
    const auto start = std::chrono::steady_clock::now();
    CorvaneServerHandle server(sim.host().c_str());
    ASSERT_TRUE(server.ping()) << server.lastError();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(800));
    CorvaneServerHandle bare("127.0.0.2");  // another host: no shared connection answers for it
    EXPECT_FALSE(bare.ping());
    EXPECT_STREQ(bare.lastError(), "Server discovery is off, and '127.0.0.2:OBRAN' names no port");
    // The call turns it on again, and the search runs.
    CorvaneServerHandle::setDiscovery(true);
    EXPECT_TRUE(CorvaneServerHandle::discoveryEnabled());
    EXPECT_FALSE(CorvaneServerHandle::isDiscovered(sim.host().c_str()));
}

}  // namespace
