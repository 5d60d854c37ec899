// The server context driven pass by pass on the test thread, with raw
// clients on loopback, so that every step is ordered without sleeps.
#include "base/rcApi/rcServerContext.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "RpcTestSupport.h"
#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcSysCalls.h"
#include "support/MessageLog.h"
#include "support/TempDir.h"

using namespace Corvane;
using CorvaneTest::MessageLog;
using CorvaneTest::RawConn;

namespace {

const rcParam::Decl kText[] = {{&rcParamString::TYPE, "text"}, {nullptr, nullptr}};

class RecordingServer : public rcServerContext {
public:
    RecordingServer() : rcServerContext(-1) {}
    bool authenticate(const rcConnectionInfo& info) override {
        lastUser = info.userName();
        return info.userName() != "refused";
    }
    std::string lastUser;
};

bool firstCB(void*, const rcMethod&, const rcParam::Array&, rcParam& result) {
    result.fromString("first");
    return true;
}

bool secondCB(void*, const rcMethod&, const rcParam::Array&, rcParam& result) {
    result.fromString("second");
    return true;
}

class rcServerContextTest : public ::testing::Test {
protected:
    std::unique_ptr<RawConn> connectClient() {
        auto conn = std::make_unique<RawConn>(CorvaneTest::connectLoopback(server_.getPort()));
        EXPECT_GE(conn->fd(), 0);
        return conn;
    }

    // Runs dispatch passes until conn has a line; bounded.
    std::string pumpLine(RawConn& conn) {
        for (int pass = 0; pass < 50; ++pass) {
            const std::string line = conn.readLine(0);
            if (line != "<timeout>")
                return line;
            server_.appContext().callIOHandler(200);
        }
        return "<no reply>";
    }

    // Runs a few passes and expects no reply.
    bool silent(RawConn& conn) {
        for (int pass = 0; pass < 3; ++pass)
            server_.appContext().callIOHandler(50);
        return conn.readLine(0) == "<timeout>";
    }

    static std::string commandLine(bool sync, int id, const char* method, const std::string& args) {
        rcCommand cmd;
        cmd.set(sync, id, method, args.c_str());
        return cmd.toString();
    }

    static std::string loginLine(const std::string& user, bool breakChecksum) {
        rcConnectionInfo info;
        info.fill();
        info.setUserName(user);
        info.setCrc(info.checksum() ^ (breakChecksum ? 1u : 0u));
        return commandLine(true, 0, rcSysCalls::CALL_LOGIN, info.toString());
    }

    MessageLog::Scope log_;
    RecordingServer server_;
};

TEST_F(rcServerContextTest, LoginIsCheckedThenAuthenticated) {
    struct Case {
        const char* user;
        bool breakChecksum;
        const char* reply;
    };
    for (const Case& c : {Case{"alice", false, "ok "},
                          Case{"bob", true, "error Authentication failed for client's login information"},
                          Case{"refused", false, "error Authentication failed"}}) {
        auto conn = connectClient();
        conn->send(loginLine(c.user, c.breakChecksum));
        EXPECT_EQ(c.reply, pumpLine(*conn)) << c.user;
        // The connection stays usable either way.
        conn->send(commandLine(true, 0, rcSysCalls::CALL_PING, ""));
        EXPECT_EQ("ok ", pumpLine(*conn));
    }
    EXPECT_EQ("refused", server_.lastUser);  // bob never got as far
}

TEST_F(rcServerContextTest, LoginWithAGarbageRecordIsRefused) {
    auto conn = connectClient();
    for (const char* record : {"", "garbage", "StrUserName 99 short", "IntCRC 1 0"}) {
        conn->send(commandLine(true, 0, "_login", record));
        EXPECT_EQ("error Authentication failed for client's login information", pumpLine(*conn)) << record;
    }
}

TEST_F(rcServerContextTest, UnknownMethodsAndObjectsAnswerOnlySyncCommands) {
    int object = 0;
    ASSERT_TRUE(server_.registerObject(3, &object));
    auto conn = connectClient();
    conn->send(commandLine(false, 0, "NoSuch", "x"));
    conn->send(commandLine(false, 9, "_ping", ""));
    EXPECT_TRUE(silent(*conn));
    conn->send(commandLine(true, 0, "NoSuch", "x"));
    EXPECT_EQ("error Unknown method: NoSuch", pumpLine(*conn));
    conn->send(commandLine(true, 9, "_ping", ""));
    EXPECT_EQ("error Invalid Object: 9", pumpLine(*conn));
    conn->send(commandLine(true, -4, "_ping", ""));
    EXPECT_EQ("error Invalid Object: -4", pumpLine(*conn));
    conn->send(commandLine(true, 3, "_ping", ""));
    EXPECT_EQ("ok ", pumpLine(*conn));
}

TEST_F(rcServerContextTest, GarbageLinesLeaveTheConnectionServing) {
    auto conn = connectClient();
    std::mt19937 rng(5);
    std::string garbage;
    for (int line = 0; line < 200; ++line) {
        garbage += 'x';  // never a "sync" mode, so no replies are due
        for (int i = static_cast<int>(rng() % 100); i > 0; --i) {
            const char c = static_cast<char>(rng());
            garbage += c == '\n' ? ' ' : c;
        }
        garbage += '\n';
    }
    conn->send(garbage);
    conn->send(commandLine(true, 0, rcSysCalls::CALL_PING, ""));
    EXPECT_EQ("ok ", pumpLine(*conn));

    // Unbroken random bytes: replies may come, but the ping still answers.
    std::string bytes(20000, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng());
    conn->send(bytes + "\n" + commandLine(true, 0, "Last", ""));
    std::string line;
    for (int i = 0; i < 500 && line != "error Unknown method: Last" && line != "<no reply>"; ++i)
        line = pumpLine(*conn);
    EXPECT_EQ("error Unknown method: Last", line);
}

TEST_F(rcServerContextTest, RegistrationConflictsAreRefused) {
    EXPECT_TRUE(server_.registerMethod(rcMethod(nullptr, "Twice", &firstCB, &rcParamString::TYPE)));
    EXPECT_FALSE(server_.registerMethod(rcMethod(nullptr, "Twice", &secondCB, &rcParamString::TYPE)));
    EXPECT_TRUE(log_->contains("Method 'Twice' already registered", CoMsg::error));
    EXPECT_FALSE(server_.registerMethod(rcMethod(nullptr, "_login", &secondCB, &rcParamString::TYPE)));
    int a = 0, b = 0;
    EXPECT_FALSE(server_.registerObject(0, &a));
    EXPECT_TRUE(log_->contains("Reserved object Id", CoMsg::error));
    EXPECT_TRUE(server_.registerObject(7, &a));
    EXPECT_FALSE(server_.registerObject(7, &b));
    EXPECT_TRUE(log_->contains("Object '7' already registered", CoMsg::error));

    auto conn = connectClient();
    conn->send(commandLine(true, 0, "Twice", ""));
    EXPECT_EQ("ok first", pumpLine(*conn));
    EXPECT_TRUE(server_.unregisterObject(7));
    EXPECT_FALSE(server_.unregisterObject(7));
    conn->send(commandLine(true, 7, "Twice", ""));
    EXPECT_EQ("error Invalid Object: 7", pumpLine(*conn));
    EXPECT_TRUE(server_.unregisterMethod("Twice"));
    conn->send(commandLine(true, 0, "Twice", ""));
    EXPECT_EQ("error Unknown method: Twice", pumpLine(*conn));
}

bool rememberClientCB(void*, const rcMethod& method, const rcParam::Array&, rcParam&);

struct DelayedServer : public rcServerContext {
    DelayedServer() : rcServerContext(-1) {
        registerMethod(rcMethod(this, "Later", &rememberClientCB, &rcParamString::TYPE, kText), true);
    }
    Client* waiting = nullptr;
};

bool rememberClientCB(void*, const rcMethod& method, const rcParam::Array& args, rcParam&) {
    DelayedServer* server = static_cast<DelayedServer*>(method.context());
    server->waiting = server->currentClient();
    if (args[0].toString() == "fail") {
        method.setErrorText("later failed");
        return false;
    }
    return true;
}

TEST(rcServerContextDelayedTest, DelayedReturnAnswersLater) {
    MessageLog::Scope log;
    DelayedServer server;
    RawConn conn(CorvaneTest::connectLoopback(server.getPort()));
    conn.send("sync 0 Later x\n");
    for (int pass = 0; pass < 20 && !server.waiting; ++pass)
        server.appContext().callIOHandler(200);
    ASSERT_NE(nullptr, server.waiting);
    EXPECT_TRUE(server.waiting->waitingForReply());
    EXPECT_EQ("<timeout>", conn.readLine(0));

    rcResult reply;
    reply.set(rcResult::kOk, "done\nat last");
    EXPECT_TRUE(server.delayedReturn(server.waiting, reply));
    EXPECT_EQ("ok done\\nat last", conn.readLine(5000));
    EXPECT_FALSE(server.delayedReturn(server.waiting, reply));
    EXPECT_TRUE(log->contains("Trying to do a delayed return for a client that isn't waiting for it.", CoMsg::error));

    // A delayed method that fails answers at once; an async one never.
    conn.send("sync 0 Later fail\nasync 0 Later y\nsync 0 _ping \n");
    std::string line;
    for (int pass = 0; pass < 20 && (line = conn.readLine(0)) == "<timeout>"; ++pass)
        server.appContext().callIOHandler(200);
    EXPECT_EQ("error later failed", line);
    EXPECT_EQ("ok ", conn.readLine(5000));
    EXPECT_FALSE(server.waiting->waitingForReply());
}

TEST_F(rcServerContextTest, ClosedClientsAreDroppedWithTheirDescriptors) {
    {
        auto warm = connectClient();
        warm->send(commandLine(true, 0, rcSysCalls::CALL_PING, ""));
        ASSERT_EQ("ok ", pumpLine(*warm));
    }
    for (int pass = 0; pass < 20 && server_.clientCount() > 0; ++pass)
        server_.appContext().callIOHandler(200);
    const int before = CorvaneTest::countOpenFds();
    std::vector<std::unique_ptr<RawConn>> conns;
    for (int i = 0; i < 10; ++i) {
        conns.push_back(connectClient());
        conns.back()->send(commandLine(true, 0, rcSysCalls::CALL_PING, ""));
        ASSERT_EQ("ok ", pumpLine(*conns.back()));
    }
    EXPECT_EQ(10u, server_.clientCount());
    conns.clear();
    for (int pass = 0; pass < 50 && server_.clientCount() > 0; ++pass)
        server_.appContext().callIOHandler(200);
    EXPECT_EQ(0u, server_.clientCount());
    EXPECT_EQ(before, CorvaneTest::countOpenFds());
}

TEST(rcServerContextSetupTest, PortInUseThrowsWithItsText) {
    rcServerContext first(-1);
    const int port = first.getPort();
    try {
        rcServerContext second(port);
        FAIL() << "a second server on port " << port;
    } catch (const CoException& e) {
        const std::string prefix = "Unable to set-up port " + std::to_string(port) + " to accept connections: ";
        EXPECT_EQ(0u, std::string(e.what()).rfind(prefix, 0)) << e.what();
    }
    try {
        rcServerContext third(port, port);
        FAIL() << "a third server on port " << port;
    } catch (const CoException& e) {
        const std::string prefix = "Unable to find port in range " + std::to_string(port) + " to " +
                                   std::to_string(port) + " accept connections: ";
        EXPECT_EQ(0u, std::string(e.what()).rfind(prefix, 0)) << e.what();
    }
}

}  // namespace
