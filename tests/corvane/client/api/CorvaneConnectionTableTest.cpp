#include "client/api/CorvaneConnectionTable.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ScriptedServer.h"
#include "base/rcApi/rcAttrStream.h"
#include "client/api/CorvaneClientConnection.h"
#include "support/MessageLog.h"

using CorvaneTest::MessageLog;
using CorvaneTest::ScriptedServer;
using Shared = CorvaneClientConnection::Shared;

namespace {

constexpr int64_t kNeverExpire = -1;

// Descriptors of this process that are TCP sockets connected to port: the
// client ends only, which the in-process server's own sockets are not.
int socketsConnectedTo(int port) {
    std::set<std::string> inodes;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(dir)) {
            char target[64];
            const std::string path = std::string("/proc/self/fd/") + entry->d_name;
            const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
            if (n > 0 && std::string(target, static_cast<size_t>(n)).rfind("socket:[", 0) == 0)
                inodes.insert(std::string(target + 8, static_cast<size_t>(n) - 9));
        }
        closedir(dir);
    }
    char remote[16];
    std::snprintf(remote, sizeof remote, ":%04X", port);
    int count = 0;
    for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, peer, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> peer >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
            if (peer.size() > 5 && peer.compare(peer.size() - 5, 5, remote) == 0 && inodes.count(inode))
                ++count;
        }
    }
    return count;
}

class CorvaneConnectionTableTest : public ::testing::Test {
protected:
    void TearDown() override { corvaneDeleteConnectionTable(); }

    // Identifiers of servers nobody connects to: the table never connects.
    static CorvaneServerId idle(int n) { return CorvaneServerId(40000 + n, "127.0.0.1"); }

    // The reference counts posted for the connection to name, in order.
    std::vector<int> counts(const std::string& name) const {
        std::vector<int> found;
        for (const std::string& message : messages_->texts()) {
            const bool ref = message.rfind("Referencing shared connection", 0) == 0;
            const bool unref = message.rfind("Unreferencing shared connection", 0) == 0;
            const std::string tail = "to '" + name + "' (";
            const size_t at = message.find(tail);
            if ((ref || unref) && at != std::string::npos)
                found.push_back(std::stoi(message.substr(at + tail.size())));
        }
        return found;
    }

    size_t created() const { return messages_->startingWith("Creating shared connection").size(); }
    size_t released() const { return messages_->startingWith("Releasing shared connection").size(); }

    MessageLog::Scope messages_;
};

TEST_F(CorvaneConnectionTableTest, HandlesForOneServerShareOneConnection) {
    corvaneCreateConnectionTable(4, kNeverExpire);
    const CorvaneServerId id = idle(1);
    const std::string name = id.getStr();
    {
        Shared first(id);
        ASSERT_NE(nullptr, first.get());
        Shared second(CorvaneServerId(name.c_str()));  // the same server from its text
        EXPECT_EQ(first.get(), second.get());
        EXPECT_TRUE(second == first.get());
        EXPECT_EQ(1, corvaneSharedConnectionCount());
        second.reset();
        EXPECT_EQ(nullptr, second.get());
    }
    EXPECT_EQ((std::vector<int>{1, 2, 1, 0}), counts(name));
    EXPECT_EQ(1u, created());
    // Nobody holds it now, but it stays for the next handle.
    EXPECT_EQ(1, corvaneSharedConnectionCount());
    EXPECT_EQ(0u, released());
}

TEST_F(CorvaneConnectionTableTest, AServerThatDescribedItselfIsFoundUnderItsOtherNames) {
    ScriptedServer server;
    CorvaneDaemonInfo record;
    record.setDatabase("MEDIA");
    record.setIP(0, "127.0.0.1");
    record.setNodePort(server.port());
    Corvane::rcAttrStream stream;
    record.write(stream);
    server.reply("GetDaemonInfo", stream.str());
    corvaneCreateConnectionTable(4, kNeverExpire);

    Shared byPort(CorvaneServerId(server.port(), "127.0.0.1"));
    const CorvaneServerId byDatabase("MEDIA", "127.0.0.1", 0);
    {
        // Until the server has said which database it serves, only the
        // port is known: another connection.
        Shared early(byDatabase);
        EXPECT_NE(byPort.get(), early.get());
    }
    byPort->getDaemonInfo(false);
    Shared late(byDatabase);
    EXPECT_EQ(byPort.get(), late.get());
}

TEST_F(CorvaneConnectionTableTest, CapacityBoundsTheConnectionsHeld) {
    corvaneCreateConnectionTable(4, kNeverExpire);
    std::vector<std::unique_ptr<Shared>> held;
    for (int n = 0; n < 4; ++n)
        held.emplace_back(new Shared(idle(n)));
    EXPECT_EQ(4, corvaneSharedConnectionCount());
    // Every connection is referenced: nothing can make room.
    Shared fifth(idle(4));
    EXPECT_EQ(nullptr, fifth.get());
    EXPECT_EQ(4, corvaneSharedConnectionCount());

    CorvaneClientConnection* dropped = held[1]->get();
    held[1]->reset();
    const CorvaneServerId fifthId = idle(4);
    fifth.reset(&fifthId);
    ASSERT_NE(nullptr, fifth.get());
    EXPECT_EQ(4, corvaneSharedConnectionCount());
    EXPECT_EQ(1u, released());
    for (const auto& handle : held) {
        if (handle->get()) {
            EXPECT_NE(dropped, handle->get());
        }
    }
}

TEST_F(CorvaneConnectionTableTest, IdleConnectionsExpireWhenAnotherServerIsLookedUp) {
    corvaneCreateConnectionTable(4, 0);  // idle at once
    { Shared a(idle(1)); }
    {
        // An expired connection is still reused for its own server.
        Shared again(idle(1));
        EXPECT_EQ(1u, created());
    }
    EXPECT_EQ(0u, released());
    Shared b(idle(2));
    EXPECT_EQ(1u, released());
    EXPECT_EQ(1, corvaneSharedConnectionCount());
    // A held connection never expires.
    Shared c(idle(3));
    EXPECT_EQ(2, corvaneSharedConnectionCount());
}

TEST_F(CorvaneConnectionTableTest, CleanDeletesIdleConnections) {
    corvaneCreateConnectionTable(4, kNeverExpire);
    {
        Shared held(idle(1));
        { Shared idleOne(idle(2)); }
        corvaneCleanConnections(false);  // nothing expires
        EXPECT_EQ(2, corvaneSharedConnectionCount());
        corvaneCleanConnections(true);
        EXPECT_EQ(1, corvaneSharedConnectionCount());
        EXPECT_NE(nullptr, held.get());
        EXPECT_FALSE(held->isConnected());
    }

    corvaneDeleteConnectionTable();
    corvaneCreateConnectionTable(4, 0);
    { Shared idleOne(idle(2)); }
    corvaneCleanConnections(false);  // expired at once
    EXPECT_EQ(0, corvaneSharedConnectionCount());
}

TEST_F(CorvaneConnectionTableTest, DeletingTheTableClosesItsConnections) {
    ScriptedServer server;
    server.reply("Echo", "");
    corvaneCreateConnectionTable(4, kNeverExpire);
    for (int round = 0; round < 3; ++round) {
        Shared shared(CorvaneServerId(server.port(), "127.0.0.1"));
        std::string result;
        shared->callMethod("Echo", "", true, result, 5000);
        EXPECT_TRUE(shared->isConnected());
    }
    EXPECT_EQ(1, socketsConnectedTo(server.port()));  // idle, but kept open
    corvaneDeleteConnectionTable();
    EXPECT_EQ(0, socketsConnectedTo(server.port()));
}

TEST_F(CorvaneConnectionTableTest, WithoutATableHandlesStayEmpty) {
    Shared empty;
    EXPECT_EQ(nullptr, empty.get());
    const CorvaneServerId id = idle(1);
    empty.reset(&id);
    EXPECT_EQ(nullptr, empty.get());
    corvaneCleanConnections(true);
    EXPECT_EQ(0, corvaneSharedConnectionCount());
}

TEST_F(CorvaneConnectionTableTest, MovedHandleKeepsTheReference) {
    corvaneCreateConnectionTable(4, kNeverExpire);
    Shared first(idle(1));
    CorvaneClientConnection* connection = first.get();
    Shared second(std::move(first));
    EXPECT_EQ(connection, second.get());
    Shared third;
    third = std::move(second);
    EXPECT_EQ(connection, third.get());
    EXPECT_EQ((std::vector<int>{1}), counts(idle(1).getStr()));
}

}  // namespace
