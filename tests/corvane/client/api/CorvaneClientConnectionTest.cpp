#include "client/api/CorvaneClientConnection.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ScriptedServer.h"
#include "base/loggerBase/CoException.h"
#include "base/env/EnvVar.h"
#include "client/api/CorvaneMulticastClient.h"
#include "support/Gate.h"
#include "support/LoopbackListener.h"
#include "support/MessageLog.h"

using CorvaneTest::Gate;
using CorvaneTest::MessageLog;
using CorvaneTest::ScriptedServer;

namespace {

// What the process-wide disconnect hook saw.
std::mutex gLostMutex;
std::vector<std::string> gLost;

void recordLost(const CorvaneServerId& server) {
    std::lock_guard<std::mutex> guard(gLostMutex);
    gLost.push_back(server.getStr());
}

std::vector<std::string> lostServers() {
    std::lock_guard<std::mutex> guard(gLostMutex);
    return gLost;
}

// The exception text of one call, or "<no exception>".
std::string callError(CorvaneClientConnection& connection, const char* method, unsigned int timeoutMs = 5000) {
    std::string result;
    try {
        connection.callMethod(method, "", true, result, timeoutMs);
    } catch (const Corvane::CoException& e) {
        return e.what();
    }
    return "<no exception>";
}

// Calls method on the connection when told that it (re)connected.
class CallingCallback : public CorvaneClientConnection::ConnectCallback {
public:
    explicit CallingCallback(const char* method) : method_(method) {}
    void connected(CorvaneClientConnection& connection) override {
        std::string result;
        connection.callMethod(method_, "", true, result, 5000);
    }
private:
    const char* method_;
};

class CorvaneClientConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> guard(gLostMutex);
            gLost.clear();
        }
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
    // opens when the call arrives.
    void makeSlow() {
        server_.handle("Slow", [this](const std::string&, std::string& out) {
            entered_.open();
            release_.wait();
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
        EXPECT_TRUE(entered_.wait());
        stopper();
        caller.join();
        release_.open();
        return error;
    }

    MessageLog::Scope messages_;
    ScriptedServer server_;
    Gate entered_;
    Gate release_;
};

TEST_F(CorvaneClientConnectionTest, ConstructionCompletesTheIdentifier) {
    CorvaneServerId withStorage("localhost");
    withStorage.setStorageId("S1");
    // "address|database|port|storage" of the record to match against.
    const std::pair<CorvaneServerId, const char*> cases[] = {
        {CorvaneServerId("127.0.0.1"), "127.0.0.1|OBRAN|0|"},  // host only: the default database
        {CorvaneServerId(7549, "127.0.0.1"), "127.0.0.1||7549|"},
        {CorvaneServerId("127.0.0.1:MEDIA"), "127.0.0.1|MEDIA|0|"},
        {withStorage, "localhost||0|S1"},  // a storage id is left alone
    };
    for (const auto& c : cases) {
        CorvaneClientConnection connection(c.first);
        const CorvaneDaemonInfo info = connection.getDaemonInfo(true);
        EXPECT_EQ(c.second, std::string(info.getIP(0)) + "|" + connection.getServerId().getDatabase() + "|" +
                                std::to_string(info.getNodePort()) + "|" + info.getStorageId());
        EXPECT_STREQ(info.getDatabase(), connection.getServerId().getDatabase());
    }
    // A name becomes its address.
    const std::string host = CorvaneClientConnection(CorvaneServerId("localhost")).getServerId().getHost();
    EXPECT_TRUE(host == "127.0.0.1" || host == "::1") << host;
}

TEST_F(CorvaneClientConnectionTest, HostAndPortConnectDirectlyWhenDiscoveryCannotResolve) {
    Corvane::EnvVar<bool> trace("XQ_CORVANE_TRACE", false);
    trace.setValue(true);
    CorvaneClientConnection connection(serverId());
    EXPECT_EQ("pong", echo(connection, "a b\tc\\d"));
    trace.setValue(false);
    echo(connection, "quiet");
    EXPECT_EQ("quiet", server_.lastArgs("Echo"));
    EXPECT_TRUE(connection.isConnected());
    const std::string port = std::to_string(server_.port());
    for (const std::string& text : {"Connecting to server [127.0.0.1:" + port + "] [] []",
                                    "Connected to server [127.0.0.1:" + port + "] [] []",
                                    std::string("Calling Echo(a b\tc\\d)"), std::string("Finished Echo() -> 'pong'")})
        EXPECT_TRUE(messages_->contains(text)) << text;
    EXPECT_FALSE(messages_->contains("Calling Echo(quiet)"));
}

TEST_F(CorvaneClientConnectionTest, RefusedConnectionCarriesTheSystemText) {
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
    EXPECT_FALSE(connection.isConnected());
    EXPECT_EQ(1u, messages_->startingWith("Could not connect to server [127.0.0.1:" + std::to_string(port) +
                                          "] [] []: " + error)
                      .size());
    EXPECT_TRUE(server_.calls().empty());
}

TEST_F(CorvaneClientConnectionTest, ServerErrorBecomesTheExceptionTextUnchanged) {
    const std::string text = "Node '/a b' not found:\ttab \\ backslash \"quoted\"";
    server_.fail("Boom", text);
    CorvaneClientConnection connection(serverId());
    EXPECT_EQ(text, callError(connection, "Boom"));
    // An error reply is an answer: the connection stays and is reused.
    EXPECT_TRUE(connection.isConnected());
    EXPECT_TRUE(lostServers().empty());
    EXPECT_EQ("pong", echo(connection));
    EXPECT_EQ(1u, messages_->startingWith("Connected to server").size());
}

TEST_F(CorvaneClientConnectionTest, TimedOutCallDisconnectsAndTheNextCallReconnects) {
    makeSlow();
    server_.reply("Hello", "hi");
    CorvaneClientConnection connection(serverId());
    CallingCallback hello("Hello");
    connection.addConnectCallback(&hello);
    EXPECT_EQ(std::strerror(ETIMEDOUT), callError(connection, "Slow", 200));
    EXPECT_FALSE(connection.isConnected());
    EXPECT_EQ(std::vector<std::string>{serverId().getStr()}, lostServers());
    release_.open();
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
    EXPECT_EQ(std::vector<std::string>{serverId().getStr()}, lostServers());
    EXPECT_EQ("pong", echo(connection));
}

TEST_F(CorvaneClientConnectionTest, StopWithoutReasonGivesTheAbortText) {
    CorvaneClientConnection connection(serverId());
    EXPECT_EQ(std::strerror(ECONNABORTED), errorOfStoppedCall(connection, [&] { connection.forcedDisconnect(); }));
}

TEST_F(CorvaneClientConnectionTest, DaemonInfoIsFetchedOnceUntilTheNextConnectionAttempt) {
    server_.reply("GetDaemonInfo", CorvaneTest::attrs({{"IP0", "127.0.0.1"}, {"DisplayName", "alpha"},
                                                       {"Database", "MEDIA"}, {"NodePort", std::to_string(server_.port())}}));
    CorvaneClientConnection connection(serverId());
    EXPECT_STREQ("", connection.getDaemonInfo(true).getDisplayName());  // stale, but no call asked
    EXPECT_TRUE(server_.calls().empty());
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
