#include "base/network/CoNetworkDispatcher.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/loggerBase/CoMsg.h"
#include "common/base/network/NetworkTestSupport.h"
#include "support/MessageLog.h"

using namespace Corvane;
using namespace CorvaneTest;
using Type = CoNetworkDispatcher::Type;

// The test binary runs in a network namespace with only lo; the topology
// monitor's test brings other interfaces up in a namespace of its own.
namespace {

std::vector<std::string> namesOf(const std::vector<CoNetworkInterface>& interfaces) {
    std::vector<std::string> names;
    for (const CoNetworkInterface& i : interfaces)
        if (names.empty() || names.back() != i.name())
            names.push_back(i.name());
    return names;
}

std::vector<CoNetworkInterface> list(CoNetworkDispatcher& dispatcher, Type type) {
    std::vector<CoNetworkInterface> out;
    EXPECT_TRUE(dispatcher.getInterfaces(out, type)) << dispatcher.lastError();
    return out;
}

struct Recorder : CoNetworkDispatcher::Observer {
    void interfaceChanged(int event, const CoNetworkInterface& interface) override {
        events.push_back({event, interface});
    }
    std::vector<std::pair<int, CoNetworkInterface>> events;
};

TEST(CoNetworkDispatcherTest, ConfiguredNamesChooseEachRoleAndAnUnreadableFileFailsTheUpdate) {
    MessageLog::Scope log;
    // Names that match nothing are reported; the others still apply.
    ScopedNetworkConfig file("[Interfaces]\nMetadata = nosuch0, lo\nData = lo\nMulticast = nosuch1\n");
    CoNetworkDispatcher dispatcher(false);
    EXPECT_EQ(std::vector<std::string>{"lo"}, namesOf(list(dispatcher, Type::Metadata)));
    EXPECT_EQ(std::vector<std::string>{"lo"}, namesOf(list(dispatcher, Type::Data)));
    EXPECT_TRUE(list(dispatcher, Type::Multicast).empty());
    for (const CoNetworkInterface& i : list(dispatcher, Type::All))
        EXPECT_FALSE(i.has(CoNetworkInterface::Multicast)) << "not named, yet multicast: " << i.toString();
    EXPECT_EQ((std::vector<std::string>{"Metadata interface 'nosuch0' is invalid or down",
                                        "Multicast interface 'nosuch1' is invalid or down"}),
              log->texts(CoMsg::warning));

    // An unreadable file fails the update.
    ScopedNetworkConfig unreadable("", /*asDirectory=*/true);
    CoNetworkDispatcher failing(false);
    std::vector<CoNetworkInterface> out(1);
    EXPECT_FALSE(failing.getInterfaces(out, Type::All));
    EXPECT_EQ(1u, out.size());
    EXPECT_EQ("Could not read '" + unreadable.path() + "': " + std::strerror(EISDIR), failing.lastError());
    // Posted once, by the configuration; the configuration reads as empty afterwards.
    EXPECT_EQ(1u, log->texts(CoMsg::error).size());
    EXPECT_TRUE(failing.getInterfaces(out, Type::All));
    EXPECT_FALSE(out.empty());
}

// Without configuration every address is listed in every role, and observers
// hear of each once.
TEST(CoNetworkDispatcherTest, ListsEveryAddressInEveryRoleWithoutConfigurationAndReportsEachOnce) {
    auto file = ScopedNetworkConfig::missing();
    CoNetworkDispatcher dispatcher(false);
    Recorder recorder;
    dispatcher.addObserver(&recorder);
    dispatcher.addObserver(&recorder);
    ASSERT_TRUE(dispatcher.update(false));
    const std::vector<CoNetworkInterface> all = list(dispatcher, Type::All);
    EXPECT_EQ("", dispatcher.lastError()) << "asking for the default route failed";
    ASSERT_EQ(all.size(), recorder.events.size());
    for (size_t n = 0; n < all.size(); ++n) {
        EXPECT_EQ(CoNetworkDispatcher::kInterfaceAdded, recorder.events[n].first);
        EXPECT_EQ(all[n], recorder.events[n].second) << all[n].toString();
    }

    // Nothing changed: nothing to report, forced or not.
    recorder.events.clear();
    EXPECT_TRUE(dispatcher.update(false));
    EXPECT_TRUE(dispatcher.update(true));
    EXPECT_TRUE(recorder.events.empty());
    dispatcher.removeObserver(&recorder);

    const auto lo =
        std::find_if(all.begin(), all.end(), [](const CoNetworkInterface& i) { return i.address() == "127.0.0.1"; });
    ASSERT_NE(all.end(), lo) << "no 127.0.0.1 among " << all.size() << " addresses";
    EXPECT_EQ(CoNetworkInterface::Loopback | CoNetworkInterface::IPv4 | CoNetworkInterface::Multicast,
              lo->attributes());
    EXPECT_EQ("255.0.0.0", lo->netmask());
    EXPECT_EQ(1000, lo->speed());
    for (Type type : {Type::Metadata, Type::Data, Type::Multicast})
        EXPECT_EQ(all.size(), list(dispatcher, type).size()) << CoNetworkDispatcher::getTypeStr(type);
}

TEST(CoNetworkDispatcherTest, OrderingsPreferRankLoopbackSpeedGatewayName) {
    using CI = CoNetworkInterface;
    const CI lo("lo", CI::Loopback | CI::IPv4, "127.0.0.1", "255.0.0.0", 1000);
    const CI eth0("eth0", CI::IPv4, "192.0.2.1", "255.255.255.0", 1000);
    const CI eth1("eth1", CI::IPv4, "192.0.2.2", "255.255.255.0", 1000);
    const CI eth9gw("eth9", CI::IPv4 | CI::Gateway, "192.0.2.9", "255.255.255.0", 1000);
    const CI ib0("ib0", CI::IPv4, "198.51.100.1", "255.255.255.0", 10000);
    using E = CoNetworkDispatcher::Entry;
    const struct {
        E a, b;
        bool metadata;  // a before b in the metadata order
        bool data;      // a before b in the data order
    } cases[] = {
        {{&eth1, 0}, {&eth0, 1}, true, true},  // rank first
        {{&lo, 0}, {&eth0, 0}, true, true},    // loopback next
        {{&lo, 1}, {&eth0, 0}, false, false},  // but rank wins
        {{&eth0, 0}, {&ib0, 0}, true, false},  // speed: ordinary first for metadata, fast first for data
        {{&ib0, 0}, {&eth0, 0}, false, true},   {{&eth9gw, 0}, {&eth0, 0}, true, true},  // gateway before name
        {{&eth0, 0}, {&eth1, 0}, true, true},                                            // name last
        {{&eth0, 0}, {&eth0, 0}, false, false},                                          // never before itself
    };
    for (const auto& c : cases) {
        const std::string pair = c.a.interface->toString() + " / " + c.b.interface->toString();
        EXPECT_EQ(c.metadata, CoNetworkDispatcher::metadataSort(c.a, c.b)) << pair;
        EXPECT_EQ(c.data, CoNetworkDispatcher::dataSort(c.a, c.b)) << pair;
    }
}

}  // namespace
