// corvane-sim in discovery, seen from the wire: two servers on one host
// sharing the discovery port, searched, announcing, listing each other and
// saying goodbye. Multicast must never leave this machine, so this runs only
// in a network namespace whose one interface is lo.
#include <gtest/gtest.h>

#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/rcApi/rcAPI.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/tcp/CoMulticast.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneMulticastProtocol.h"
#include "support/Eventually.h"
#include "support/SimProcess.h"

namespace {

using Corvane::CoMulticast;
using CorvaneMulticastProtocol::RequestType;

// Not the default port, which the sims of other tests announce on.
constexpr unsigned kPort = 27555;
constexpr const char* kGroup = "224.0.0.1";
constexpr int kWaitMs = 10000;  // guards against hangs only

bool onlyLoopbackHere() {
    struct if_nameindex* names = ::if_nameindex();
    bool only = names != nullptr;
    for (const struct if_nameindex* n = names; n && n->if_index != 0; ++n)
        only = only && std::strcmp(n->if_name, "lo") == 0;
    if (names)
        ::if_freenameindex(names);
    return only;
}

void sendText(CoMulticast& socket, const std::string& text) {
    socket.send(text.data(), static_cast<int>(text.size()));
}

class SimDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!onlyLoopbackHere())
            GTEST_SKIP() << "needs a network namespace of its own: discovery must not reach the network";
        group_ = std::make_unique<CoMulticast>(kPort, kGroup, "");
        group_->bind(false);
        group_->join();
    }

    static std::unique_ptr<CorvaneTest::SimProcess> startSim(const char* database, const char* storageId) {
        auto sim = std::make_unique<CorvaneTest::SimProcess>(
            CorvaneTest::SimProcess::demoTree(),
            std::vector<std::string>{"--discovery-port", std::to_string(kPort), "--database", database,
                                     "--storage-id", storageId});
        EXPECT_TRUE(sim->started());
        return sim;
    }

    // Sends from its own port on loopback, where the replies come back.
    static std::unique_ptr<CoMulticast> searcher() {
        auto socket = std::make_unique<CoMulticast>(kPort, kGroup, "127.0.0.1");
        socket->setLoopback(1);
        socket->bind(true);
        return socket;
    }

    // A search narrowed the way a client narrows it: a default record.
    static void search(CoMulticast& socket, const char* database, const char* storageId) {
        Corvane::rcAttrStream payload;
        if (database || storageId) {
            CorvaneDaemonInfo narrowed;
            narrowed.setDatabase(database);
            narrowed.setStorageId(storageId);
            narrowed.write(payload);
        }
        sendText(socket, CorvaneMulticastProtocol::encodeRequest(RequestType::FindServers, payload));
    }

    // The storage identifier of the next datagram of type on socket, ""
    // when none comes within waitMs. Datagrams of other types are skipped.
    static std::string next(CoMulticast& socket, RequestType type, int waitMs = kWaitMs) {
        for (int i = 0; i < 100; ++i) {
            pollfd waiting{socket.getDescriptor(), POLLIN, 0};
            if (::poll(&waiting, 1, waitMs) != 1)
                return "";
            char buffer[2048];
            int length = sizeof buffer - 1;
            socket.receive(buffer, length, nullptr, false);
            buffer[length] = '\0';
            RequestType got = RequestType::Invalid;
            Corvane::rcAttrStream payload;
            if (CorvaneMulticastProtocol::decodeRequest(buffer, got, payload) && got == type)
                return CorvaneDaemonInfo(payload).getStorageId();
        }
        return "";
    }

    // The replies that have arrived on socket, without waiting.
    static std::multiset<std::string> repliesWaiting(CoMulticast& socket) {
        std::multiset<std::string> ids;
        for (std::string id; !(id = next(socket, RequestType::DiscoverServersReply, 0)).empty();)
            ids.insert(id);
        return ids;
    }

    static std::vector<std::string> daemonList(const CorvaneTest::SimProcess& sim) {
        Corvane::rcAPI api;
        std::string text;
        EXPECT_TRUE(api.connect("127.0.0.1", sim.port(), kWaitMs));
        EXPECT_TRUE(api.call(0, "GetDaemonList", "", true, text, kWaitMs)) << text;
        CorvaneMulticastProtocol::ServerList list;
        CorvaneMulticastProtocol::decodeServerList(text, list);
        std::vector<std::string> ids;
        for (const CorvaneDaemonInfo& info : list)
            ids.push_back(info.getStorageId());
        return ids;
    }

    std::unique_ptr<CoMulticast> group_;
};

TEST_F(SimDiscoveryTest, AnswersWhatItSatisfiesListsWhatItHearsAndSaysGoodbye) {
    auto a = startSim("ONE", "a-store");
    EXPECT_EQ(next(*group_, RequestType::DiscoverServers), "a-store");
    auto b = startSim("TWO", "b-store");
    EXPECT_EQ(next(*group_, RequestType::DiscoverServers), "b-store");

    // Bad datagrams must not stop either server answering.
    auto noise = searcher();
    sendText(*noise, "Version 1 1Type 2 74Data 99 cut");
    sendText(*noise, std::string(1100, 'x'));

    // Each search from its own port. Every server meets the last one, which
    // both answer, after the others: once its replies are in, so is any
    // reply, right or wrong, to the ones before.
    struct {
        const char* database;
        const char* storageId;
        std::multiset<std::string> answeredBy;
    } searches[] = {
        {"TWO", nullptr, {"b-store"}},
        {nullptr, "a-store", {"a-store"}},
        {"ONE", "b-store", {}},
        {nullptr, nullptr, {"a-store", "b-store"}},
    };
    std::vector<std::unique_ptr<CoMulticast>> sockets;
    for (const auto& s : searches) {
        sockets.push_back(searcher());
        search(*sockets.back(), s.database, s.storageId);
    }
    std::multiset<std::string> last{next(*sockets.back(), RequestType::DiscoverServersReply),
                                    next(*sockets.back(), RequestType::DiscoverServersReply)};
    const std::multiset<std::string> extra = repliesWaiting(*sockets.back());
    last.insert(extra.begin(), extra.end());
    EXPECT_EQ(last, searches[3].answeredBy);
    for (size_t i = 0; i + 1 < sockets.size(); ++i)
        EXPECT_EQ(repliesWaiting(*sockets[i]), searches[i].answeredBy) << "search " << i;

    // A heard B's announcement before the last search.
    EXPECT_EQ(daemonList(*a), (std::vector<std::string>{"a-store", "b-store"}));
    // B searched at its start, and A answered.
    EXPECT_TRUE(CorvaneTest::eventually(
        [&] { return daemonList(*b) == std::vector<std::string>{"b-store", "a-store"}; }));

    // A client's discovery socket, bound later on the wildcard address, is
    // handed unicasts to the port before older wildcard sockets: a search
    // sent to this host must still reach a server.
    CoMulticast late(kPort, kGroup, "");
    late.bind(false);
    const std::string find = CorvaneMulticastProtocol::encodeRequest(RequestType::FindServers, Corvane::rcAttrStream());
    sockets[0]->send(find.data(), static_cast<int>(find.size()), "127.0.0.1", kPort);
    EXPECT_NE(next(*sockets[0], RequestType::DiscoverServersReply), "");

    b->stop();
    EXPECT_EQ(next(*group_, RequestType::RemoveServer), "b-store");
    search(*sockets[1], nullptr, "a-store");  // A has taken in the goodbye once it answers this
    EXPECT_EQ(next(*sockets[1], RequestType::DiscoverServersReply), "a-store");
    EXPECT_EQ(daemonList(*a), (std::vector<std::string>{"a-store"}));
}

}  // namespace
