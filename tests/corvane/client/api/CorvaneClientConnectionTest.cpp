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
#include "base/rcApi/rcAttrStream.h"
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
        ++count;
        std::string result;
        connection.callMethod(method_, "", true, result, 5000);
    }
    int count = 0;

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
    void TearDown() override { CorvaneClientConnection::disconnectCB_ = nullptr; }

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
    struct Case {
        CorvaneServerId id;
        const char* database;
        bool hostResolved;
    };
    CorvaneServerId withStorage("localhost");
    withStorage.setStorageId("S1");
    const Case cases[] = {
        {CorvaneServerId("127.0.0.1"), "OBRAN", false},        // host only: the default database
        {CorvaneServerId(7549, "127.0.0.1"), "", false},       // a port needs no database
        {CorvaneServerId("127.0.0.1:MEDIA"), "MEDIA", false},  // a database is kept
        {CorvaneServerId("localhost"), "OBRAN", true},         // a name becomes its address
        {withStorage, "", false},                              // a storage id is left alone
    };
    for (const Case& c : cases) {
        CorvaneClientConnection connection(c.id);
        EXPECT_STREQ(c.database, connection.getServerId().getDatabase()) << c.id.getHost();
        const std::string host = connection.getServerId().getHost();
        if (c.hostResolved)
            EXPECT_TRUE(host == "127.0.0.1" || host == "::1") << host;
        else
            EXPECT_EQ(c.id.getHost(), host);
        // The record to match against starts from the completed identifier.
        const CorvaneDaemonInfo info = connection.getDaemonInfo(true);
        EXPECT_EQ(host, info.getIP(0));
        EXPECT_STREQ(c.database, info.getDatabase());
        EXPECT_EQ(c.id.getPort(), info.getNodePort());
        EXPECT_STREQ(c.id.getStorageId(), info.getStorageId());
        EXPECT_FALSE(connection.isConnected());
    }
}

TEST_F(CorvaneClientConnectionTest, HostAndPortConnectDirectlyWhenDiscoveryCannotResolve) {
    CorvaneClientConnection connection(serverId());
    EXPECT_EQ("pong", echo(connection, "a b\tc\\d"));
    EXPECT_EQ("a b\tc\\d", server_.lastArgs("Echo"));
    EXPECT_TRUE(connection.isConnected());
    const std::string port = std::to_string(server_.port());
    EXPECT_TRUE(messages_->contains("Connecting to server [127.0.0.1:" + port + "] [] []"));
    EXPECT_TRUE(messages_->contains("Connected to server [127.0.0.1:" + port + "] [] []"));
}

TEST_F(CorvaneClientConnectionTest, HostOnlyIdentifierFailsWithConnectionRefused) {
    CorvaneClientConnection connection(CorvaneServerId("127.0.0.1"));
    EXPECT_EQ(std::strerror(ECONNREFUSED), callError(connection, "Echo"));
    EXPECT_TRUE(messages_->contains("Connecting to server [127.0.0.1:0] [OBRAN] []"));
    EXPECT_TRUE(server_.calls().empty());
    EXPECT_TRUE(lostServers().empty());  // never connected, nothing lost
}

TEST_F(CorvaneClientConnectionTest, RefusedConnectionCarriesTheSystemText) {
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
    CorvaneClientConnection connection(serverId());
    CallingCallback callback("Echo");
    connection.addConnectCallback(&callback);
    EXPECT_EQ(std::strerror(ETIMEDOUT), callError(connection, "Slow", 200));
    EXPECT_FALSE(connection.isConnected());
    EXPECT_EQ(std::vector<std::string>{serverId().getStr()}, lostServers());
    release_.open();
    // The late reply went to the old connection; the new one gets its own.
    EXPECT_EQ("pong", echo(connection));
    EXPECT_EQ(2, callback.count);
    connection.removeConnectCallback(&callback);
}

TEST_F(CorvaneClientConnectionTest, ConnectCallbacksRunAfterEachConnectionBeforeTheCall) {
    server_.reply("Hello", "hi");
    server_.reply("Other", "");
    CorvaneClientConnection connection(serverId());
    CallingCallback hello("Hello");
    CallingCallback other("Other");
    connection.addConnectCallback(&hello);
    connection.addConnectCallback(&other);
    echo(connection);
    echo(connection);  // no reconnection, no notification
    connection.forcedDisconnect();
    EXPECT_FALSE(connection.isConnected());
    echo(connection);
    connection.removeConnectCallback(&hello);
    connection.forcedDisconnect();
    echo(connection);

    std::vector<std::string> methods;
    for (const ScriptedServer::Call& call : server_.calls())
        methods.push_back(call.method);
    const std::vector<std::string> expected = {"Hello", "Other", "Echo", "Echo",  // first connection
                                               "Hello", "Other", "Echo",          // reconnected
                                               "Other", "Echo"};                  // hello removed
    EXPECT_EQ(expected, methods);
    EXPECT_EQ(2, hello.count);
    EXPECT_EQ(3, other.count);
    EXPECT_TRUE(messages_->contains("Forced disconnect"));
    connection.removeConnectCallback(&other);
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
    EXPECT_EQ("pong", echo(connection));
}

TEST_F(CorvaneClientConnectionTest, DaemonInfoIsFetchedOnceUntilTheNextConnectionAttempt) {
    CorvaneDaemonInfo record;
    record.setDisplayName("alpha");
    record.setDatabase("MEDIA");
    record.setIP(0, "127.0.0.1");
    record.setNodePort(server_.port());
    Corvane::rcAttrStream stream;
    record.write(stream);
    server_.reply("GetDaemonInfo", stream.str());

    CorvaneClientConnection connection(serverId());
    EXPECT_STREQ("", connection.getDaemonInfo(true).getDisplayName());  // stale, but no call asked
    EXPECT_TRUE(server_.calls().empty());
    EXPECT_STREQ("alpha", connection.getDaemonInfo(false).getDisplayName());
    EXPECT_STREQ("MEDIA", connection.getDaemonInfo(false).getDatabase());
    EXPECT_EQ(std::vector<std::string>{"\"\""}, server_.argsOf("GetDaemonInfo"));

    connection.forcedDisconnect();
    connection.getDaemonInfo(false);  // a disconnect alone keeps the record
    EXPECT_EQ(1u, server_.argsOf("GetDaemonInfo").size());
    echo(connection);  // reconnecting makes it stale
    EXPECT_STREQ("alpha", connection.getDaemonInfo(false).getDisplayName());
    EXPECT_EQ(2u, server_.argsOf("GetDaemonInfo").size());
}

TEST_F(CorvaneClientConnectionTest, TracingShowsCallsAndResults) {
    Corvane::EnvVar<bool> trace("XQ_CORVANE_TRACE", false);
    trace.setValue(true);
    CorvaneClientConnection connection(serverId());
    echo(connection, "x y");
    trace.setValue(false);
    echo(connection, "quiet");
    EXPECT_TRUE(messages_->contains("Calling Echo(x y)"));
    EXPECT_TRUE(messages_->contains("Finished Echo() -> 'pong'"));
    EXPECT_FALSE(messages_->contains("Calling Echo(quiet)"));
}

}  // namespace
