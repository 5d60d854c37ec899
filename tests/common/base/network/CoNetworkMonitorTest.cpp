// The topology monitor is tested in a fresh process that moves into a network
// namespace of its own and there brings interfaces up and changes addresses
// while a dispatcher with monitoring follows; no traffic is sent anywhere.
// Without root or iproute2 the test is skipped.
#include "base/network/CoNetworkMonitor.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/network/CoNetwork.h"
#include "base/network/CoNetworkDispatcher.h"
#include "base/threads/CoThreadMgr.h"
#include "common/base/fileUtil/FreshProcess.h"
#include "common/base/network/NetworkTestSupport.h"
#include "support/VirtualNetwork.h"

using namespace Corvane;
using namespace CorvaneTest;
using Type = CoNetworkDispatcher::Type;

namespace {

// The dispatcher's reports as "+name address" (added) or "-name address".
class EventLog : public CoNetworkDispatcher::Observer {
public:
    void interfaceChanged(int event, const CoNetworkInterface& i) override {
        std::lock_guard<std::mutex> guard(mutex_);
        events_.push_back((event == CoNetworkDispatcher::kInterfaceAdded ? "+" : "-") + i.name() + " " + i.address());
        changed_.notify_all();
    }
    // The limit guards against hangs only; a change arrives within milliseconds.
    bool waitFor(const std::string& event) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30),
                                 [&] { return std::find(events_.begin(), events_.end(), event) != events_.end(); });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
};

// "name address" of each IPv4 address of a role and, with details, its
// netmask, speed and attributes.
std::vector<std::string> ipv4Of(CoNetworkDispatcher& dispatcher, Type type, bool details = false) {
    std::vector<CoNetworkInterface> interfaces;
    EXPECT_TRUE(dispatcher.getInterfaces(interfaces, type,
                                         [](const CoNetworkInterface& i) { return i.has(CoNetworkInterface::IPv4); }));
    std::vector<std::string> out;
    for (const CoNetworkInterface& i : interfaces)
        out.push_back(i.name() + " " + i.address() +
                      (details ? " " + i.netmask() + " " + std::to_string(i.speed()) + " " +
                                     CoNetworkInterface::getAttributesStr(i.attributes())
                               : ""));
    return out;
}

bool monitorThreadRunning() { return Corvane::CoThreadMgr::instance().findThread("CoNetworkMonitor Thread"); }

TEST(CoNetworkMonitorTest, FollowsTopologyChangesInOwnNamespace) {
    if (!CorvaneTest::inFreshProcess())
        return;
    if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0)
        GTEST_SKIP() << "needs root to make a network namespace";
    if (!VirtualNetwork::ip("-V"))
        GTEST_SKIP() << "needs iproute2 ('ip')";

    // Destroyed in reverse order: the network layer stops first, also after a
    // failed assertion, before the objects the monitor thread reaches go.
    CorvaneTest::ScopedNetworkConfig file("[Interfaces]\nMetadata = ib0, eth0\nMulticast = eth0\n");
    EventLog events;
    CoNetworkDispatcher dispatcher(true);
    dispatcher.addObserver(&events);
    struct NetworkOff {
        ~NetworkOff() {
            while (CoNetwork::isInitialized())
                CoNetwork::uninit();
        }
    } off;

    ASSERT_FALSE(monitorThreadRunning());
    ASSERT_TRUE(CoNetwork::init() && CoNetwork::init());
    EXPECT_TRUE(monitorThreadRunning());
    ASSERT_TRUE(CoNetwork::uninit());
    EXPECT_TRUE(monitorThreadRunning()) << "one of two users is left";

    ASSERT_TRUE(dispatcher.update(false));
    EXPECT_TRUE(ipv4Of(dispatcher, Type::All).empty()) << "a fresh namespace has nothing up";
    ASSERT_TRUE(VirtualNetwork::ip("link set lo up"));  // a link change
    ASSERT_TRUE(events.waitFor("+lo 127.0.0.1"));

    // A pair of connected interfaces, so that both come up running.
    for (const char* command :
         {"link add eth0 type veth peer name ib0", "addr add 192.0.2.1/24 dev eth0", "addr add 198.51.100.1/24 dev ib0",
          "link set ib0 multicast on", "link set eth0 up", "link set ib0 up"})
        ASSERT_TRUE(VirtualNetwork::ip(command)) << command;
    ASSERT_TRUE(events.waitFor("+eth0 192.0.2.1"));
    ASSERT_TRUE(events.waitFor("+ib0 198.51.100.1"));
    // The default route makes eth0 the gateway interface; a route alone is
    // no topology change, so the lists are rebuilt by hand.
    ASSERT_TRUE(VirtualNetwork::ip("route add default via 192.0.2.254 dev eth0"));
    ASSERT_TRUE(dispatcher.update(true));

    // ib0 is multicast capable but not named so.
    EXPECT_THAT(ipv4Of(dispatcher, Type::All, true),
                ::testing::IsSupersetOf({"eth0 192.0.2.1 255.255.255.0 1000 ipv4|multicast|gateway",
                                         "ib0 198.51.100.1 255.255.255.0 10000 ipv4"}));

    // Metadata: the unnamed loopback at rank 0 first, then in the order named.
    // Data names nothing: loopback first, then the faster interface.
    for (Type type : {Type::Metadata, Type::Data})
        EXPECT_EQ((std::vector<std::string>{"lo 127.0.0.1", "ib0 198.51.100.1", "eth0 192.0.2.1"}),
                  ipv4Of(dispatcher, type));
    EXPECT_EQ(std::vector<std::string>{"eth0 192.0.2.1"}, ipv4Of(dispatcher, Type::Multicast));

    // An address change is reported as the old address gone and the new one
    // come; a removal alone is no change, so it shows with the addition.
    ASSERT_TRUE(VirtualNetwork::ip("addr del 192.0.2.1/24 dev eth0"));
    ASSERT_TRUE(VirtualNetwork::ip("addr add 192.0.2.2/24 dev eth0"));
    ASSERT_TRUE(events.waitFor("+eth0 192.0.2.2"));
    EXPECT_TRUE(events.waitFor("-eth0 192.0.2.1"));

    ASSERT_TRUE(CoNetwork::uninit());
    EXPECT_FALSE(monitorThreadRunning()) << "the last user stops the thread";
}

}  // namespace
