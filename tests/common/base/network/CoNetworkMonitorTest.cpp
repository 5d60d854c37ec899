// The topology monitor is tested in a network namespace of its own: the test
// creates the namespace, runs one test of this binary inside it through
// "ip netns exec", and deletes it again. Inside, the child brings interfaces
// up and changes addresses while a dispatcher with monitoring follows; no
// traffic is sent anywhere. Without root or iproute2 the test is skipped.
#include "base/network/CoNetworkMonitor.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/loggerBase/CoMsg.h"
#include "base/network/CoNetwork.h"
#include "base/network/CoNetworkDispatcher.h"
#include "base/threads/CoThreadMgr.h"
#include "common/base/network/NetworkTestSupport.h"
#include "support/MessageLog.h"
#include "support/Process.h"
#include "support/PrivateNetwork.h"

using Corvane::CoMsg;
using Corvane::CoNetwork;
using Corvane::CoNetworkDispatcher;
using Corvane::CoNetworkInterface;
using Corvane::CoThreadMgr;
using CorvaneTest::MessageLog;
using CorvaneTest::ScopedNetworkConfig;
using Type = CoNetworkDispatcher::Type;

namespace {

constexpr const char* kNamespaceVariable = CorvaneTest::kPlacedInNamespaceVariable;
constexpr const char* kParentNamespaceVariable = "CORVANE_TEST_PARENT_NETNS";
constexpr const char* kChildTest = "CoNetworkMonitorTest.DISABLED_FollowsChangesInsideNamespace";
constexpr const char* kMonitorThread = "CoNetworkMonitor Thread";
// Guards against hangs only; a change normally arrives within milliseconds.
constexpr auto kEventTimeout = std::chrono::seconds(30);
constexpr int kChildTimeoutMs = 120000;

// Runs a program found in PATH, with this process's environment; its exit
// status, or -1 when it could not run. Unless quiet, what it wrote to
// standard error is shown when it fails.
int run(const std::vector<std::string>& args, bool quiet = false) {
    CorvaneTest::ProcessOptions options;
    options.env = CorvaneTest::currentEnvironment();
    const CorvaneTest::ProcessResult result = CorvaneTest::runProcess(args, options);
    if (result.exitStatus != 0 && !quiet)
        std::fprintf(stderr, "%s", result.err.c_str());
    return result.exitStatus;
}

// Runs "ip" with blank-separated arguments; true on success.
bool ip(const std::string& args) {
    std::vector<std::string> argv{"ip"};
    size_t start = 0;
    while (start < args.size()) {
        const size_t blank = args.find(' ', start);
        argv.push_back(args.substr(start, blank == std::string::npos ? std::string::npos : blank - start));
        start = blank == std::string::npos ? args.size() : blank + 1;
    }
    return run(argv) == 0;
}

// A namespace that lives as long as the object.
class NetworkNamespace {
public:
    NetworkNamespace() {
        static std::atomic<int> counter{0};
        name_ = "corvane-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        created_ = run({"ip", "netns", "add", name_}, true) == 0;
    }
    ~NetworkNamespace() {
        if (created_)
            run({"ip", "netns", "delete", name_});
    }
    NetworkNamespace(const NetworkNamespace&) = delete;
    NetworkNamespace& operator=(const NetworkNamespace&) = delete;

    bool created() const { return created_; }
    const std::string& name() const { return name_; }

private:
    std::string name_;
    bool created_ = false;
};

// Identifies the network namespace of the calling process.
std::string namespaceId() {
    struct stat own;
    if (stat("/proc/self/ns/net", &own) != 0)
        return "unknown";
    return std::to_string(own.st_dev) + ":" + std::to_string(own.st_ino);
}

// Runs this binary's child test inside the namespace.
CorvaneTest::ProcessResult runChildInNamespace(const std::string& ns) {
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return CorvaneTest::ProcessResult();
    CorvaneTest::ProcessOptions options;
    options.env = CorvaneTest::currentEnvironment();
    options.env[kNamespaceVariable] = ns;
    options.env[kParentNamespaceVariable] = namespaceId();
    options.timeoutMs = kChildTimeoutMs;
    return CorvaneTest::runProcess({"ip", "netns", "exec", ns, self, std::string("--gtest_filter=") + kChildTest,
                                    "--gtest_also_run_disabled_tests"},
                                   options);
}

// Leaves the network layer off when a test ends, also after a failed
// assertion, before the objects the monitor thread reaches are destroyed.
class NetworkUser {
public:
    NetworkUser() = default;
    ~NetworkUser() {
        while (CoNetwork::isInitialized())
            CoNetwork::uninit();
    }
    NetworkUser(const NetworkUser&) = delete;
    NetworkUser& operator=(const NetworkUser&) = delete;
};

// Records the dispatcher's reports and lets the test wait for one.
class EventLog : public CoNetworkDispatcher::Observer {
public:
    void interfaceChanged(int event, const CoNetworkInterface& interface) override {
        std::lock_guard<std::mutex> guard(mutex_);
        events_.push_back({event, interface.name(), interface.address()});
        changed_.notify_all();
    }
    // Waits until the interface with that address was reported with event.
    bool waitFor(int event, const std::string& name, const std::string& address) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kEventTimeout, [&] {
            return std::any_of(events_.begin(), events_.end(), [&](const Event& e) {
                return e.event == event && e.name == name && e.address == address;
            });
        });
    }
    bool seen(int event, const std::string& address) {
        std::lock_guard<std::mutex> guard(mutex_);
        return std::any_of(events_.begin(), events_.end(),
                           [&](const Event& e) { return e.event == event && e.address == address; });
    }

private:
    struct Event {
        int event;
        std::string name;
        std::string address;
    };
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

std::vector<std::string> ipv4Of(CoNetworkDispatcher& dispatcher, Type type) {
    std::vector<CoNetworkInterface> interfaces;
    EXPECT_TRUE(dispatcher.getInterfaces(interfaces, type,
                                         [](const CoNetworkInterface& i) { return i.has(CoNetworkInterface::IPv4); }));
    std::vector<std::string> out;
    for (const CoNetworkInterface& i : interfaces)
        out.push_back(i.name() + " " + i.address());
    return out;
}

CoNetworkInterface findAddress(CoNetworkDispatcher& dispatcher, const std::string& address) {
    std::vector<CoNetworkInterface> all;
    EXPECT_TRUE(dispatcher.getInterfaces(all, Type::All));
    for (const CoNetworkInterface& i : all)
        if (i.address() == address)
            return i;
    ADD_FAILURE() << "no interface with " << address;
    return CoNetworkInterface();
}

bool monitorThreadRunning() { return CoThreadMgr::instance().findThread(kMonitorThread) != nullptr; }

TEST(CoNetworkMonitorTest, FollowsTopologyChangesInOwnNamespace) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create a network namespace";
    if (run({"ip", "-V"}, true) != 0)
        GTEST_SKIP() << "needs iproute2 ('ip') to create a network namespace";
    NetworkNamespace ns;
    if (!ns.created())
        GTEST_SKIP() << "could not create a network namespace (no CAP_SYS_ADMIN here?)";
    const CorvaneTest::ProcessResult child = runChildInNamespace(ns.name());
    EXPECT_FALSE(child.timedOut);
    EXPECT_EQ(0, child.exitStatus) << child.out << child.err;
}

// Runs only inside the namespace made by the test above.
TEST(CoNetworkMonitorTest, DISABLED_FollowsChangesInsideNamespace) {
    const char* ns = std::getenv(kNamespaceVariable);
    if (!ns)
        GTEST_SKIP() << "runs only inside the network namespace that FollowsTopologyChangesInOwnNamespace makes";
    const char* parent = std::getenv(kParentNamespaceVariable);
    ASSERT_TRUE(parent && parent != namespaceId() && namespaceId() != "unknown") << "not inside namespace " << ns;

    // Destroyed in reverse order: the network layer stops first.
    MessageLog::Scope log;
    ScopedNetworkConfig file(
        "[Interfaces]\n"
        "Metadata = ib0, eth0\n"
        "Multicast = eth0\n");
    EventLog events;
    CoNetworkDispatcher dispatcher(true);
    dispatcher.addObserver(&events);
    NetworkUser user;

    ASSERT_FALSE(monitorThreadRunning());
    ASSERT_TRUE(CoNetwork::init());
    ASSERT_TRUE(CoNetwork::init());
    EXPECT_TRUE(monitorThreadRunning());
    ASSERT_TRUE(CoNetwork::uninit());
    EXPECT_TRUE(monitorThreadRunning()) << "one of two users is left";

    ASSERT_TRUE(dispatcher.update(false));
    EXPECT_TRUE(ipv4Of(dispatcher, Type::All).empty()) << "a fresh namespace has nothing up";
    for (const char* warning : {"Metadata interface 'ib0' is invalid or down",
                                "Metadata interface 'eth0' is invalid or down",
                                "Multicast interface 'eth0' is invalid or down"})
        EXPECT_TRUE(log->contains(warning, CoMsg::warning)) << warning;

    // A link change.
    ASSERT_TRUE(ip("link set lo up"));
    ASSERT_TRUE(events.waitFor(CoNetworkDispatcher::kInterfaceAdded, "lo", "127.0.0.1"));

    // A pair of connected interfaces, so that both come up running.
    for (const char* command : {"link add eth0 type veth peer name ib0", "addr add 192.0.2.1/24 dev eth0",
                                "addr add 198.51.100.1/24 dev ib0", "link set ib0 multicast on", "link set eth0 up",
                                "link set ib0 up"})
        ASSERT_TRUE(ip(command)) << command;
    ASSERT_TRUE(events.waitFor(CoNetworkDispatcher::kInterfaceAdded, "eth0", "192.0.2.1"));
    ASSERT_TRUE(events.waitFor(CoNetworkDispatcher::kInterfaceAdded, "ib0", "198.51.100.1"));
    // The default route makes eth0 the gateway interface; a route alone is
    // no topology change, so the lists are rebuilt by hand.
    ASSERT_TRUE(ip("route add default via 192.0.2.254 dev eth0"));
    ASSERT_TRUE(dispatcher.update(true));

    const CoNetworkInterface eth0 = findAddress(dispatcher, "192.0.2.1");
    EXPECT_EQ(CoNetworkInterface::IPv4 | CoNetworkInterface::Multicast | CoNetworkInterface::Gateway,
              eth0.attributes())
        << eth0.toString();
    EXPECT_EQ("255.255.255.0", eth0.netmask());
    EXPECT_EQ(1000, eth0.speed());
    const CoNetworkInterface ib0 = findAddress(dispatcher, "198.51.100.1");
    EXPECT_EQ(CoNetworkInterface::IPv4, ib0.attributes()) << "multicast capable but not named: " << ib0.toString();
    EXPECT_EQ(10000, ib0.speed());

    // Metadata: the unnamed loopback at rank 0 first, then in the order named.
    EXPECT_EQ((std::vector<std::string>{"lo 127.0.0.1", "ib0 198.51.100.1", "eth0 192.0.2.1"}),
              ipv4Of(dispatcher, Type::Metadata));
    // Data names nothing: loopback first, then the faster interface.
    EXPECT_EQ((std::vector<std::string>{"lo 127.0.0.1", "ib0 198.51.100.1", "eth0 192.0.2.1"}),
              ipv4Of(dispatcher, Type::Data));
    EXPECT_EQ(std::vector<std::string>{"eth0 192.0.2.1"}, ipv4Of(dispatcher, Type::Multicast));

    // An address change is reported as the old address gone and the new one
    // come; a removal alone is no change, so it shows with the addition.
    ASSERT_TRUE(ip("addr del 192.0.2.1/24 dev eth0"));
    ASSERT_TRUE(ip("addr add 192.0.2.2/24 dev eth0"));
    ASSERT_TRUE(events.waitFor(CoNetworkDispatcher::kInterfaceAdded, "eth0", "192.0.2.2"));
    EXPECT_TRUE(events.seen(CoNetworkDispatcher::kInterfaceRemoved, "192.0.2.1"));

    // The last user stops the monitor thread.
    ASSERT_TRUE(CoNetwork::uninit());
    EXPECT_FALSE(monitorThreadRunning());
    EXPECT_FALSE(CoNetwork::isInitialized());
}

}  // namespace
