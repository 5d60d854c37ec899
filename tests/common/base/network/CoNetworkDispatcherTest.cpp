#include "base/network/CoNetworkDispatcher.h"

#include <ifaddrs.h>
#include <net/if.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/loggerBase/CoMsg.h"
#include "common/base/network/NetworkTestSupport.h"
#include "support/MessageLog.h"

using Corvane::CoMsg;
using Corvane::CoNetworkDispatcher;
using Corvane::CoNetworkInterface;
using CorvaneTest::MessageLog;
using CorvaneTest::ScopedNetworkConfig;
using Type = CoNetworkDispatcher::Type;

namespace {

// Names of the interfaces that are up and running, loopback ones excluded.
std::vector<std::string> runningNonLoopbackNames() {
    std::set<std::string> names;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        const unsigned flags = entry->ifa_flags;
        if ((flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK) && entry->ifa_addr &&
            (entry->ifa_addr->sa_family == AF_INET || entry->ifa_addr->sa_family == AF_INET6))
            names.insert(entry->ifa_name);
    }
    freeifaddrs(list);
    return std::vector<std::string>(names.begin(), names.end());
}

std::vector<std::string> namesOf(const std::vector<CoNetworkInterface>& interfaces) {
    std::vector<std::string> names;
    for (const CoNetworkInterface& i : interfaces)
        if (names.empty() || names.back() != i.name())
            names.push_back(i.name());
    return names;
}

std::vector<CoNetworkInterface> list(CoNetworkDispatcher& dispatcher, Type type,
                                     const CoNetworkDispatcher::Filter& filter = CoNetworkDispatcher::Filter()) {
    std::vector<CoNetworkInterface> out;
    EXPECT_TRUE(dispatcher.getInterfaces(out, type, filter)) << dispatcher.lastError();
    return out;
}

class Recorder : public CoNetworkDispatcher::Observer {
public:
    void interfaceChanged(int event, const CoNetworkInterface& interface) override {
        events.push_back({event, interface});
    }
    struct Event {
        int event;
        CoNetworkInterface interface;
    };
    std::vector<Event> events;
};

TEST(CoNetworkDispatcherTest, ListsLoopbackFirstWithoutConfiguration) {
    auto file = ScopedNetworkConfig::missing();
    CoNetworkDispatcher dispatcher(false);
    const std::vector<CoNetworkInterface> all = list(dispatcher, Type::All);

    const auto lo = std::find_if(all.begin(), all.end(), [](const CoNetworkInterface& i) {
        return i.address() == "127.0.0.1";
    });
    ASSERT_NE(all.end(), lo) << "no 127.0.0.1 among " << all.size() << " addresses";
    EXPECT_TRUE(lo->has(CoNetworkInterface::Loopback));
    EXPECT_TRUE(lo->has(CoNetworkInterface::IPv4));
    EXPECT_FALSE(lo->has(CoNetworkInterface::IPv6));
    EXPECT_EQ("255.0.0.0", lo->netmask());
    EXPECT_EQ(1000, lo->speed());

    // Without names every address serves every role, loopback ones first.
    for (Type type : {Type::Metadata, Type::Data}) {
        const std::vector<CoNetworkInterface> role = list(dispatcher, type);
        EXPECT_EQ(all.size(), role.size()) << CoNetworkDispatcher::getTypeStr(type);
        ASSERT_FALSE(role.empty());
        EXPECT_TRUE(role.front().has(CoNetworkInterface::Loopback)) << role.front().toString();
        const auto firstOther = std::find_if(role.begin(), role.end(), [](const CoNetworkInterface& i) {
            return !i.has(CoNetworkInterface::Loopback);
        });
        EXPECT_TRUE(std::none_of(firstOther, role.end(), [](const CoNetworkInterface& i) {
            return i.has(CoNetworkInterface::Loopback);
        })) << CoNetworkDispatcher::getTypeStr(type);
    }
    for (const CoNetworkInterface& i : list(dispatcher, Type::Multicast))
        EXPECT_TRUE(i.has(CoNetworkInterface::Multicast)) << i.toString();

    const auto ipv4 = list(dispatcher, Type::All, [](const CoNetworkInterface& i) {
        return i.has(CoNetworkInterface::IPv4);
    });
    EXPECT_FALSE(ipv4.empty());
    for (const CoNetworkInterface& i : ipv4)
        EXPECT_FALSE(i.has(CoNetworkInterface::IPv6)) << i.toString();
}

TEST(CoNetworkDispatcherTest, ConfiguredNamesChooseAndOrderEachRole) {
    const std::vector<std::string> others = runningNonLoopbackNames();
    MessageLog::Scope log;
    // Names that match nothing are reported; the others still apply.
    ScopedNetworkConfig file(
        "[Interfaces]\n"
        "Metadata = nosuch0, lo\n"
        "Data = lo\n"
        "Multicast = nosuch1\n");
    CoNetworkDispatcher dispatcher(false);

    EXPECT_EQ(std::vector<std::string>{"lo"}, namesOf(list(dispatcher, Type::Metadata)));
    EXPECT_EQ(std::vector<std::string>{"lo"}, namesOf(list(dispatcher, Type::Data)));
    EXPECT_TRUE(list(dispatcher, Type::Multicast).empty());
    for (const CoNetworkInterface& i : list(dispatcher, Type::All))
        EXPECT_FALSE(i.has(CoNetworkInterface::Multicast)) << "not named, yet multicast: " << i.toString();
    EXPECT_EQ((std::vector<std::string>{"Metadata interface 'nosuch0' is invalid or down",
                                        "Multicast interface 'nosuch1' is invalid or down"}),
              log->texts(CoMsg::warning));

    if (others.empty())
        return;  // only a loopback interface here; the ordering below needs another one
    // A named loopback takes its place in the list; unnamed interfaces are left out.
    ScopedNetworkConfig ordered("[Interfaces]\nMetadata = " + others[0] + ", lo\n");
    CoNetworkDispatcher second(false);
    EXPECT_EQ((std::vector<std::string>{others[0], "lo"}), namesOf(list(second, Type::Metadata)));
    ScopedNetworkConfig reversed("[Interfaces]\nMetadata = lo, " + others[0] + "\n");
    CoNetworkDispatcher third(false);
    EXPECT_EQ((std::vector<std::string>{"lo", others[0]}), namesOf(list(third, Type::Metadata)));
}

TEST(CoNetworkDispatcherTest, ObserversHearOfEachInterfaceOnce) {
    auto file = ScopedNetworkConfig::missing();
    CoNetworkDispatcher dispatcher(false);
    Recorder recorder;
    dispatcher.addObserver(&recorder);
    dispatcher.addObserver(&recorder);
    ASSERT_TRUE(dispatcher.update(false));

    const std::vector<CoNetworkInterface> all = list(dispatcher, Type::All);
    ASSERT_EQ(all.size(), recorder.events.size());
    for (size_t n = 0; n < all.size(); ++n) {
        EXPECT_EQ(CoNetworkDispatcher::kInterfaceAdded, recorder.events[n].event);
        EXPECT_EQ(all[n], recorder.events[n].interface) << all[n].toString();
    }

    // Nothing changed: nothing to report, forced or not.
    recorder.events.clear();
    EXPECT_TRUE(dispatcher.update(false));
    EXPECT_TRUE(dispatcher.update(true));
    EXPECT_TRUE(recorder.events.empty());

    dispatcher.removeObserver(&recorder);
    CoNetworkDispatcher fresh(false);
    fresh.addObserver(&recorder);
    fresh.removeObserver(&recorder);
    EXPECT_TRUE(fresh.update(true));
    EXPECT_TRUE(recorder.events.empty());
}

TEST(CoNetworkDispatcherTest, UnreadableConfigurationFailsTheUpdate) {
    MessageLog::Scope log;
    ScopedNetworkConfig file("", /*asDirectory=*/true);
    CoNetworkDispatcher dispatcher(false);
    std::vector<CoNetworkInterface> out(1);
    EXPECT_FALSE(dispatcher.getInterfaces(out, Type::All, CoNetworkDispatcher::Filter()));
    EXPECT_EQ(1u, out.size());
    EXPECT_EQ("Could not read '" + file.path() + "': " + std::strerror(EISDIR), dispatcher.lastError());
    // Posted once, by the configuration; the configuration reads as empty afterwards.
    EXPECT_EQ(1u, log->texts(CoMsg::error).size());
    EXPECT_TRUE(dispatcher.getInterfaces(out, Type::All, CoNetworkDispatcher::Filter()));
    EXPECT_FALSE(out.empty());
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
        {{&ib0, 0}, {&eth0, 0}, false, true},
        {{&eth9gw, 0}, {&eth0, 0}, true, true},  // gateway before name
        {{&eth0, 0}, {&eth1, 0}, true, true},    // name last
        {{&eth0, 0}, {&eth0, 0}, false, false},  // never before itself
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.metadata, CoNetworkDispatcher::metadataSort(c.a, c.b))
            << c.a.interface->toString() << " / " << c.b.interface->toString();
        EXPECT_EQ(c.data, CoNetworkDispatcher::dataSort(c.a, c.b))
            << c.a.interface->toString() << " / " << c.b.interface->toString();
    }
}

TEST(CoNetworkDispatcherTest, NamesOfTypesAndAttributes) {
    for (const char* name : {"metadata", "data", "multicast", "all"})
        EXPECT_STREQ(name, CoNetworkDispatcher::getTypeStr(CoNetworkDispatcher::getTypeFromStr(name)));
    EXPECT_EQ(Type::All, CoNetworkDispatcher::getTypeFromStr("Metadata"));
    EXPECT_EQ(Type::All, CoNetworkDispatcher::getTypeFromStr(""));

    const struct {
        const char* text;
        int value;
    } attributes[] = {{"loopback", 1}, {"ipv4", 2},  {"ipv6", 4},    {"multicast", 8},
                      {"any", -1},     {"gateway", 0}, {"none", 0}, {"IPv4", 0}};
    for (const auto& a : attributes)
        EXPECT_EQ(a.value, CoNetworkInterface::getAttributeFromStr(a.text)) << a.text;

    EXPECT_STREQ("gateway", CoNetworkInterface::getAttributeStr(16));
    EXPECT_STREQ("none", CoNetworkInterface::getAttributeStr(0));
    EXPECT_STREQ("any", CoNetworkInterface::getAttributeStr(-1));
    EXPECT_STREQ("", CoNetworkInterface::getAttributeStr(3));
    EXPECT_EQ("loopback|ipv4|gateway", CoNetworkInterface::getAttributesStr(1 | 2 | 16));
    EXPECT_EQ("ipv6|multicast", CoNetworkInterface::getAttributesStr(4 | 8));
    EXPECT_EQ("none", CoNetworkInterface::getAttributesStr(0));
    EXPECT_EQ("any", CoNetworkInterface::getAttributesStr(-1));
}

}  // namespace
