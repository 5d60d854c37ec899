#include "client/api/CorvaneConnectionTable.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ScriptedServer.h"
#include "client/api/CorvaneClientConnection.h"
#include "client/api/CorvaneMulticastClient.h"
#include "support/MessageLog.h"
#include "support/TempDir.h"

using CorvaneTest::MessageLog;
using CorvaneTest::ScriptedServer;
using Shared = CorvaneClientConnection::Shared;

namespace {

constexpr int64_t kNeverExpire = -1;

class CorvaneConnectionTableTest : public ::testing::Test {
protected:
    void TearDown() override {
        corvaneDeleteConnectionTable();
        CorvaneMulticastClient::destroyInstance();  // connecting started discovery
    }

    // Identifiers of servers nobody connects to: the table never connects.
    static CorvaneServerId idle(int n) { return CorvaneServerId(40000 + n, "127.0.0.1"); }

    size_t created() const { return messages_->startingWith("Creating shared connection").size(); }
    size_t released() const { return messages_->startingWith("Releasing shared connection").size(); }

    MessageLog::Scope messages_;
};

TEST_F(CorvaneConnectionTableTest, HandlesForOneServerShareOneConnection) {
    corvaneCreateConnectionTable(1, kNeverExpire);
    const CorvaneServerId id = idle(1);
    {
        Shared first(id);
        Shared second(CorvaneServerId(id.getStr()));  // the same server from its text
        EXPECT_TRUE(first.get() && second == first.get());
        // A moved handle keeps its reference; its source gives its own up.
        Shared third(std::move(second)), fourth;
        fourth = std::move(third);
        first.reset();
        EXPECT_EQ(nullptr, Shared(idle(2)).get()) << "the moved handle lost its reference";
        fourth.reset();
        EXPECT_EQ(nullptr, fourth.get());
    }
    // Nobody holds it now, but it stays until another server needs the room.
    EXPECT_EQ(1u, created());
    EXPECT_EQ(0u, released());
    EXPECT_NE(nullptr, Shared(idle(2)).get()) << "a reference outlived its handle";
}

TEST_F(CorvaneConnectionTableTest, CapacityBoundsTheConnectionsHeld) {
    corvaneCreateConnectionTable(2, kNeverExpire);
    auto first = std::make_unique<Shared>(idle(0));
    Shared second(idle(1));
    // Every connection is referenced: nothing can make room.
    Shared third(idle(2));
    EXPECT_EQ(nullptr, third.get());
    CorvaneClientConnection* dropped = first->get();
    first.reset();
    const CorvaneServerId thirdId = idle(2);
    third.reset(&thirdId);
    ASSERT_NE(nullptr, third.get());
    EXPECT_NE(dropped, second.get());
    EXPECT_EQ(1u, released());
    third.reset();
    corvaneCleanConnections(false);  // nothing expires
    EXPECT_EQ(2, corvaneSharedConnectionCount());
    corvaneCleanConnections(true);  // only the idle one goes
    EXPECT_EQ(1, corvaneSharedConnectionCount());
    EXPECT_NE(nullptr, second.get());
}

TEST_F(CorvaneConnectionTableTest, DeletingTheTableClosesItsConnectionsAndIdleOnesExpire) {
    ScriptedServer server;
    server.reply("Echo", "");
    corvaneCreateConnectionTable(4, kNeverExpire);
    for (int round = 0; round < 3; ++round) {
        Shared shared(CorvaneServerId(server.port(), "127.0.0.1"));
        EXPECT_EQ(round > 0, shared->isConnected()) << "idle, but kept open";
        std::string result;
        shared->callMethod("Echo", "", true, result, 5000);
    }
    // Only the client's end can close first: the server's follows it.
    const int open = CorvaneTest::countOpenFds();
    corvaneDeleteConnectionTable();
    EXPECT_LT(CorvaneTest::countOpenFds(), open);

    // Without a table handles stay empty.
    Shared empty;
    const CorvaneServerId id = idle(1);
    empty.reset(&id);
    EXPECT_EQ(nullptr, empty.get());
    corvaneCleanConnections(true);
    EXPECT_EQ(0, corvaneSharedConnectionCount());

    corvaneCreateConnectionTable(4, 0);  // idle at once
    const size_t made = created(), gone = released();
    { Shared a(idle(1)); }
    {
        // An expired connection is still reused for its own server.
        Shared again(idle(1));
        EXPECT_EQ(made + 1, created());
    }
    EXPECT_EQ(gone, released());
    Shared b(idle(2));
    EXPECT_EQ(gone + 1, released()) << "an idle connection outlived the look-up of another server";
    EXPECT_EQ(1, corvaneSharedConnectionCount());
    // A held connection never expires.
    Shared c(idle(3));
    EXPECT_EQ(2, corvaneSharedConnectionCount());
}

}  // namespace
