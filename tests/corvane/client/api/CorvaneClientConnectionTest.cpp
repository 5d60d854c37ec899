#include "client/api/CorvaneClientConnection.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ScriptedServer.h"
#include "base/env/EnvVar.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/tcp/CoMulticast.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneMulticastClient.h"
#include "client/api/CorvaneMulticastProtocol.h"
#include "common/base/network/NetworkTestSupport.h"
#include "support/Eventually.h"
#include "support/Gate.h"
#include "support/LoopbackListener.h"
#include "support/MessageLog.h"
#include "support/Thrown.h"

using CorvaneTest::Gate;
using CorvaneTest::ScriptedServer;

namespace {

// What the process-wide disconnect hook saw.
std::mutex gLostMutex;
std::vector<std::string> gLost;

void recordLost(const CorvaneServerId& server) {
    std::lock_guard<std::mutex> guard(gLostMutex);
    gLost.push_back(server.getStr());
}

// Takes what the hook saw since the last call.
std::vector<std::string> lostServers() {
    std::lock_guard<std::mutex> guard(gLostMutex);
    return std::exchange(gLost, {});
}

// The exception text of one call, or "<no exception>".
std::string callError(CorvaneClientConnection& connection, const char* method, unsigned int timeoutMs = 5000) {
    std::string result;
    return CorvaneTest::thrownText([&] { connection.callMethod(method, "", true, result, timeoutMs); });
}

// Calls "Hello" on the connection when told that it (re)connected.
struct HelloCallback : CorvaneClientConnection::ConnectCallback {
    void connected(CorvaneClientConnection& connection) override {
        std::string result;
        connection.callMethod("Hello", "", true, result, 5000);
    }
};

class CorvaneClientConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        lostServers();  // what an earlier test left
        CorvaneClientConnection::disconnectCB_ = &recordLost;
        server_.reply("Echo", "pong");
    }
    void TearDown() override {
        CorvaneClientConnection::disconnectCB_ = nullptr;
        CorvaneMulticastClient::destroyInstance();  // connecting started discovery
    }

    CorvaneServerId serverId() const { return CorvaneServerId(server_.port(), "127.0.0.1"); }

    std::string echo(CorvaneClientConnection& connection, const char* args = "") {
        std::string result;
        connection.callMethod("Echo", args, true, result, 5000);
        return result;
    }

    // Blocks the server's thread in "Slow" until release_ opens; entered_
    // opens when the call arrives. New gates each time.
    void makeSlow() {
        auto entered = entered_ = std::make_shared<Gate>();
        auto release = release_ = std::make_shared<Gate>();
        server_.handle("Slow", [entered, release](const std::string&, std::string& out) {
            entered->open();
            release->wait();
            out = "late";
            return true;
        });
    }

    // The error of a "Slow" call that stopper ends from this thread while the
    // call waits on another.
    std::string errorOfStoppedCall(CorvaneClientConnection& connection, const std::function<void()>& stopper) {
        makeSlow();
        std::string error;
        std::thread caller([&] { error = callError(connection, "Slow", 20000); });
        EXPECT_TRUE(entered_->wait());
        stopper();
        caller.join();
        release_->open();
        return error;
    }

    CorvaneTest::MessageLog::Scope messages_;
    ScriptedServer server_;
    std::shared_ptr<Gate> entered_;
    std::shared_ptr<Gate> release_;
};

TEST_F(CorvaneClientConnectionTest, HostAndPortConnectDirectlyWhenDiscoveryCannotResolve) {
    Corvane::EnvVar<bool> trace("XQ_CORVANE_TRACE", false);
    trace.setValue(true);
    CorvaneClientConnection connection(serverId());
    EXPECT_EQ("pong", echo(connection, "a b\tc\\d"));
    trace.setValue(false);
    echo(connection, "quiet");
    const std::string port = std::to_string(server_.port());
    for (const std::string& text :
         {"Connecting to server [127.0.0.1:" + port + "] [] []", "Connected to server [127.0.0.1:" + port + "] [] []",
          std::string("Calling Echo(a b\tc\\d)"), std::string("Finished Echo() -> 'pong'")})
        EXPECT_TRUE(messages_->contains(text)) << text;
    EXPECT_FALSE(messages_->contains("Calling Echo(quiet)"));
    // Nor when a discovery configuration naming no group makes discovery impossible.
    CorvaneMulticastClient::destroyInstance();
    CorvaneTest::ScopedNetworkConfig config("[SelfDiscovery]\nScope =\n");
    CorvaneClientConnection undiscovered(serverId());
    EXPECT_EQ("pong", echo(undiscovered));
}

// Nothing listens: the identifier is completed, and the connection refused.
TEST_F(CorvaneClientConnectionTest, IdentifierIsCompletedAndARefusedConnectionCarriesTheSystemText) {
    CorvaneServerId withStorage("localhost");
    withStorage.setStorageId("S1");
    // A storage id is left alone; the record starts as the identifier.
    const CorvaneDaemonInfo info = CorvaneClientConnection(withStorage).getDaemonInfo(true);
    EXPECT_EQ("localhost|0|S1",
              std::string(info.getIP(0)) + "|" + std::to_string(info.getNodePort()) + "|" + info.getStorageId());
    CorvaneClientConnection named(CorvaneServerId("127.0.0.1:MEDIA"));
    EXPECT_STREQ("MEDIA", named.getDaemonInfo(true).getDatabase());
    // A name becomes its address.
    const std::string host = CorvaneClientConnection(CorvaneServerId("localhost")).getServerId().getHost();
    EXPECT_TRUE(host == "127.0.0.1" || host == "::1") << host;
    // A bare host names the default database.
    CorvaneClientConnection hostOnly(CorvaneServerId("127.0.0.1"));
    EXPECT_EQ(std::strerror(ECONNREFUSED), callError(hostOnly, "Echo"));
    EXPECT_TRUE(messages_->contains("Connecting to server [127.0.0.1:0] [OBRAN] []"));
    EXPECT_TRUE(lostServers().empty());  // never connected, nothing lost

    int port = 0;
    CorvaneTest::ScopedFd closedPort = CorvaneTest::bindWithoutListening(&port);
    ASSERT_TRUE(closedPort.valid());
    CorvaneClientConnection connection(CorvaneServerId(port, "127.0.0.1"));
    const std::string error = callError(connection, "Echo");
    EXPECT_NE(std::string::npos, error.find(std::strerror(ECONNREFUSED))) << error;
    const std::string failed = "Could not connect to server [127.0.0.1:" + std::to_string(port) + "] [] []: " + error;
    EXPECT_EQ(1u, messages_->startingWith(failed).size());
}

// A discovered server that takes the connection but does not answer the
// login in time ends the attempt: the caller's budget is spent, and a slow
// server is no gone one.
TEST_F(CorvaneClientConnectionTest, DiscoveredServerThatDoesNotAnswerInTimeEndsTheAttempt) {
    CorvaneTest::LoopbackListener silent;
    CorvaneTest::ScopedNetworkConfig config("[SelfDiscovery]\nPort = 17556\nScope = 239.75.5.56\nTTL = 1\n");
    CorvaneMulticastClient* discovery = CorvaneMulticastClient::instance();
    const std::string text = CorvaneMulticastProtocol::encodeRequest(
        CorvaneMulticastProtocol::RequestType::DiscoverServers,
        Corvane::rcAttrStream(CorvaneTest::attrs({{"VersionMajor", "3"},
                                                  {"StorageId", "SX"},
                                                  {"IP0", "127.0.0.1"},
                                                  {"NodePort", std::to_string(silent.port())}})));
    Corvane::CoMulticast announcer(17556, "239.75.5.56", "127.0.0.1");
    announcer.setLoopback(1);
    announcer.bind(true);
    announcer.send(text.data(), static_cast<int>(text.size()));
    CorvaneServerId id("elsewhere");
    id.setStorageId("SX");
    CorvaneDaemonInfo record;
    ASSERT_TRUE(CorvaneTest::eventually([&] { return discovery->resolve(id, record); }));
    CorvaneClientConnection connection(id);
    EXPECT_EQ(std::strerror(ETIMEDOUT), callError(connection, "Echo", 1000));
    EXPECT_TRUE(discovery->resolve(id, record));
}

TEST_F(CorvaneClientConnectionTest, TimedOutCallDisconnectsAndTheNextCallReconnects) {
    makeSlow();
    server_.reply("Hello", "hi");
    CorvaneClientConnection connection(serverId());
    HelloCallback hello;
    connection.addConnectCallback(&hello);
    EXPECT_EQ(std::strerror(ETIMEDOUT), callError(connection, "Slow", 200));
    EXPECT_FALSE(connection.isConnected());
    EXPECT_EQ(std::vector<std::string>{serverId().getStr()}, lostServers());
    release_->open();
    // The late reply went to the old connection; the new one gets its own.
    EXPECT_EQ("pong", echo(connection));
    echo(connection);  // no reconnection, no notification
    connection.removeConnectCallback(&hello);
    connection.forcedDisconnect();
    echo(connection);
    std::string methods;
    for (const ScriptedServer::Call& call : server_.calls())
        methods += call.method + " ";
    // Each connection runs the callback before its first call, until removed.
    EXPECT_EQ("Hello Slow Hello Echo Echo Echo ", methods);
    EXPECT_TRUE(messages_->contains("Forced disconnect"));
}

TEST_F(CorvaneClientConnectionTest, StopFromAnotherThreadEndsTheCallWithTheReason) {
    CorvaneClientConnection connection(serverId());
    EXPECT_EQ("watchdog fired", errorOfStoppedCall(connection, [&] { connection.stop("watchdog fired"); }));
    EXPECT_FALSE(connection.isConnected());
    EXPECT_EQ("pong", echo(connection));
    // Without a reason: the abort text.
    EXPECT_EQ(std::strerror(ECONNABORTED), errorOfStoppedCall(connection, [&] { connection.forcedDisconnect(); }));
}

TEST_F(CorvaneClientConnectionTest, ServerErrorIsTheTextAndDaemonInfoIsFetchedOncePerConnection) {
    const std::string text = "Node '/a b' not found:\ttab \\ backslash \"quoted\"";
    server_.fail("Boom", text);
    CorvaneClientConnection connection(serverId());
    EXPECT_EQ(text, callError(connection, "Boom"));
    // An error reply is an answer: the connection stays and is reused.
    EXPECT_TRUE(connection.isConnected());
    EXPECT_TRUE(lostServers().empty());
    EXPECT_EQ("pong", echo(connection));
    EXPECT_EQ(1u, messages_->startingWith("Connected to server").size());

    server_.reply("GetDaemonInfo", CorvaneTest::attrs({{"IP0", "127.0.0.1"},
                                                       {"DisplayName", "alpha"},
                                                       {"Database", "MEDIA"},
                                                       {"NodePort", std::to_string(server_.port())}}));
    EXPECT_STREQ("", connection.getDaemonInfo(true).getDisplayName());  // stale, but no call asked
    EXPECT_TRUE(server_.argsOf("GetDaemonInfo").empty());
    EXPECT_EQ("alpha MEDIA", std::string(connection.getDaemonInfo(false).getDisplayName()) + " " +
                                 connection.getDaemonInfo(false).getDatabase());
    EXPECT_EQ(std::vector<std::string>{"\"\""}, server_.argsOf("GetDaemonInfo"));

    connection.forcedDisconnect();
    connection.getDaemonInfo(false);  // a disconnect alone keeps the record
    EXPECT_EQ(1u, server_.argsOf("GetDaemonInfo").size());
    echo(connection);  // reconnecting makes it stale
    EXPECT_STREQ("alpha", connection.getDaemonInfo(false).getDisplayName());
    EXPECT_EQ(2u, server_.argsOf("GetDaemonInfo").size());
}

}  // namespace
