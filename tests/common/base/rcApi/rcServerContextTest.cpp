// The server context driven pass by pass on the test thread, with raw
// clients on loopback, so that every step is ordered without sleeps; and the
// dispatcher under it.
#include "base/rcApi/rcServerContext.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "RpcTestSupport.h"
#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcAppContext.h"
#include "base/tcp/CoIoDescriptor.h"
#include "support/MessageLog.h"
#include "support/TempDir.h"
#include "support/Thrown.h"

using namespace Corvane;
using CorvaneTest::RawConn;

namespace {

bool firstCB(void*, const rcMethod&, const rcParam::Array&, rcParam& result) {
    result.fromString("first");
    return true;
}

const rcParam::Decl kText[] = {{&rcParamString::TYPE, "text"}, {nullptr, nullptr}};

struct RecordingServer : rcServerContext {
    RecordingServer() : rcServerContext(-1) {
        registerMethod(rcMethod(this, "Later", &laterCB, &rcParamString::TYPE, kText), true);
    }
    bool authenticate(const rcConnectionInfo& info) override {
        lastUser = info.userName();
        return info.userName() != "refused";
    }
    // A delayed method: remembers its client, and fails when told to.
    static bool laterCB(void*, const rcMethod& method, const rcParam::Array& args, rcParam&) {
        auto* server = static_cast<RecordingServer*>(method.context());
        server->waiting = server->currentClient();
        if (args[0].toString() != "fail")
            return true;
        method.setErrorText("later failed");
        return false;
    }
    std::string lastUser;
    Client* waiting = nullptr;
};

class rcServerContextTest : public ::testing::Test {
protected:
    std::unique_ptr<RawConn> connectClient() {
        auto conn = std::make_unique<RawConn>(CorvaneTest::connectLoopback(server_.getPort()));
        EXPECT_GE(conn->fd(), 0);
        return conn;
    }

    // Runs dispatch passes until conn has a line; bounded.
    std::string pumpLine(RawConn& conn, int passes = 50) {
        for (int pass = 0; pass < passes; ++pass) {
            const std::string line = conn.readLine(0);
            if (line != "<timeout>")
                return line;
            server_.appContext().callIOHandler(pass < 3 ? 50 : 200);
        }
        return "<no reply>";
    }

    // Runs passes until no client is left.
    void dropClosedClients() {
        for (int pass = 0; pass < 50 && server_.clientCount() > 0; ++pass)
            server_.appContext().callIOHandler(200);
    }

    static std::string loginLine(const std::string& user, bool breakChecksum) {
        rcConnectionInfo info;
        info.fill();
        info.setUserName(user);
        info.setCrc(info.checksum() ^ (breakChecksum ? 1u : 0u));
        rcCommand cmd;
        cmd.set(true, 0, "_login", info.toString().c_str());
        return cmd.toString();
    }

    CorvaneTest::MessageLog::Scope log_;
    RecordingServer server_;
};

// Garbage lines (never "sync", so no replies are due), then unbroken
// random bytes (replies may come): the command after them still answers.
TEST_F(rcServerContextTest, GarbageLeavesTheConnectionServing) {
    auto conn = connectClient();
    std::mt19937 rng(5);
    std::string garbage;
    for (int i = 0; i < 20000; ++i) {
        const char c = static_cast<char>(rng());
        garbage += i % 100 == 0 ? 'x' : i % 100 == 99 ? '\n' : c == '\n' ? ' ' : c;
    }
    conn->send(garbage + "sync 0 _ping \n");
    EXPECT_EQ("ok ", pumpLine(*conn));
    for (char& c : garbage)
        c = static_cast<char>(rng());
    conn->send(garbage + "\nsync 0 Last \n");
    std::string line;
    for (int i = 0; i < 500 && line != "error Unknown method: Last" && line != "<no reply>"; ++i)
        line = pumpLine(*conn);
    EXPECT_EQ("error Unknown method: Last", line);
}

// A login is checked, then authenticated. Conflicting registrations are
// refused with their texts; unknown methods and objects answer only sync
// commands.
TEST_F(rcServerContextTest, LoginRegistrationsAndDelayedReturnsDecideWhatIsServed) {
    EXPECT_TRUE(server_.registerMethod(rcMethod(nullptr, "Twice", &firstCB, &rcParamString::TYPE)));
    EXPECT_FALSE(server_.registerMethod(rcMethod(nullptr, "Twice", &RecordingServer::laterCB, &rcParamString::TYPE)));
    EXPECT_TRUE(log_->contains("Method 'Twice' already registered", CoMsg::error));
    EXPECT_FALSE(server_.registerMethod(rcMethod(nullptr, "_login", &firstCB, &rcParamString::TYPE)));
    int a = 0, b = 0;
    EXPECT_FALSE(server_.registerObject(0, &a));
    EXPECT_TRUE(log_->contains("Reserved object Id", CoMsg::error));
    EXPECT_TRUE(server_.registerObject(7, &a));
    EXPECT_FALSE(server_.registerObject(7, &b));
    EXPECT_TRUE(log_->contains("Object '7' already registered", CoMsg::error));

    auto conn = connectClient();
    conn->send("async 0 NoSuch x\nasync 9 _ping \n");
    EXPECT_EQ("<no reply>", pumpLine(*conn, 3));
    const std::string badRecord = "error Authentication failed for client's login information";
    const std::pair<std::string, std::string> cases[] = {
        {loginLine("alice", false), "ok "},
        {loginLine("bob", true), badRecord},
        {loginLine("refused", false), "error Authentication failed"},
        {"sync 0 _login \n", badRecord},
        {"sync 0 _login StrUserName 99 short\n", badRecord},
        {"sync 0 _ping \n", "ok "},  // the connection stays usable either way
        {"sync 0 NoSuch x\n", "error Unknown method: NoSuch"},
        {"sync -4 _ping \n", "error Invalid Object: -4"},
        {"sync 7 Twice \n", "ok first"}};
    for (const auto& c : cases) {
        conn->send(c.first);
        EXPECT_EQ(c.second, pumpLine(*conn)) << c.first;
    }
    EXPECT_EQ("refused", server_.lastUser);  // bob never got as far
    EXPECT_TRUE(server_.unregisterObject(7));
    EXPECT_FALSE(server_.unregisterObject(7));
    conn->send("sync 7 Twice \n");
    EXPECT_EQ("error Invalid Object: 7", pumpLine(*conn));
    EXPECT_TRUE(server_.unregisterMethod("Twice"));
    conn->send("sync 0 Twice \n");
    EXPECT_EQ("error Unknown method: Twice", pumpLine(*conn));

    // A delayed method answers when its reply is returned.
    conn->send("sync 0 Later x\n");
    EXPECT_EQ("<no reply>", pumpLine(*conn, 3));
    ASSERT_NE(nullptr, server_.waiting);
    EXPECT_TRUE(server_.waiting->waitingForReply());
    rcResult reply;
    reply.set(rcResult::kOk, "done\nat last");
    EXPECT_TRUE(server_.delayedReturn(server_.waiting, reply));
    EXPECT_EQ("ok done\\nat last", conn->readLine(5000));
    EXPECT_FALSE(server_.delayedReturn(server_.waiting, reply));
    EXPECT_TRUE(log_->contains("Trying to do a delayed return for a client that isn't waiting for it.", CoMsg::error));

    // A delayed method that fails answers at once; an async one never.
    conn->send("sync 0 Later fail\nasync 0 Later y\nsync 0 _ping \n");
    EXPECT_EQ("error later failed", pumpLine(*conn));
    EXPECT_EQ("ok ", pumpLine(*conn));
    EXPECT_FALSE(server_.waiting->waitingForReply());
}

TEST_F(rcServerContextTest, ClosedClientsAreDroppedWithTheirDescriptors) {
    {
        auto warm = connectClient();  // opens one-time descriptors
        warm->send("sync 0 _ping \n");
        ASSERT_EQ("ok ", pumpLine(*warm));
    }
    dropClosedClients();
    const int before = CorvaneTest::countOpenFds();
    std::vector<std::unique_ptr<RawConn>> conns;
    for (int i = 0; i < 10; ++i) {
        conns.push_back(connectClient());
        conns.back()->send("sync 0 _ping \n");
        ASSERT_EQ("ok ", pumpLine(*conns.back()));
    }
    EXPECT_EQ(10u, server_.clientCount());
    conns.clear();
    dropClosedClients();
    EXPECT_EQ(0u, server_.clientCount());
    EXPECT_EQ(before, CorvaneTest::countOpenFds());
}

TEST(rcServerContextSetupTest, PortInUseThrowsWithItsText) {
    rcServerContext first(-1);
    const int port = first.getPort();
    const std::string p = std::to_string(port);
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { rcServerContext second(port); }, "Unable to set-up port " + p + " to accept connections: "},
        {[&] { rcServerContext second(port, port); },
         "Unable to find port in range " + p + " to " + p + " accept connections: "}};
    for (const auto& c : cases) {
        const std::string text = CorvaneTest::thrownText(c.first);
        EXPECT_EQ(0u, text.rfind(c.second, 0)) << text;
    }
}

// ---- the dispatcher

// A handler over one end of a socket pair that records its calls.
class PairHandler : public CoIoHandler {
public:
    PairHandler(std::vector<std::string>* log, const char* name, bool keep = true)
        : log_(log), name_(name), keep_(keep) {
        int fds[2] = {-1, -1};
        EXPECT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
        mine_ = std::make_unique<CoIoDescriptor>(fds[0]);
        peer_ = std::make_unique<CoIoDescriptor>(fds[1]);
    }
    const CoIoDescriptor* getDescriptor() const override { return mine_.get(); }
    CoIoDescriptor* getDescriptor() override { return mine_.get(); }
    bool handleReadable() override {
        char buf[16];
        (void)mine_->rawRead(buf, sizeof buf);
        log_->push_back(std::string("read ") + name_);
        return keep_;
    }
    bool handleWritable() override {
        log_->push_back(std::string("write ") + name_);
        return keep_;
    }
    bool descriptorLost() override {
        log_->push_back(std::string("lost ") + name_);
        return true;
    }
    void poke() { ASSERT_EQ(1, peer_->rawWrite("x", 1)); }
    void lose() { mine_->close(); }

private:
    std::vector<std::string>* log_;
    const char* name_;
    bool keep_;
    std::unique_ptr<CoIoDescriptor> mine_, peer_;
};

// Ready handlers run last registered first; one that answers false or
// has lost its descriptor is dropped. (The RPC tests stop their server
// threads with cancel(): a cancel that did not wake the wait hangs them.)
TEST(rcAppContextTest, CallsReadyHandlersLastRegisteredFirst) {
    std::vector<std::string> log;
    PairHandler a(&log, "a"), b(&log, "b", false), c(&log, "c"), d(&log, "d");
    rcAppContext ctx;
    for (PairHandler* h : {&a, &b, &c, &d, &a})  // no second entry for a
        ctx.registerIOHandler(h);
    EXPECT_EQ(4u, ctx.handlerCount());
    a.poke();
    b.poke();
    EXPECT_EQ(2, ctx.callIOHandler(5000));
    EXPECT_EQ((std::vector<std::string>{"read b", "read a"}), log);
    EXPECT_FALSE(ctx.isRegistered(&b));
    d.lose();
    EXPECT_EQ(0, ctx.callIOHandler(0));  // nothing ready
    EXPECT_EQ("lost d", log.back());
    EXPECT_FALSE(ctx.isRegistered(&d));
    EXPECT_TRUE(ctx.isRegistered(&c));
    c.setEventMask(CoIoHandler::kWriteEvent);  // only a handler that asks is told it can write
    EXPECT_EQ(1, ctx.callIOHandler(0));
    EXPECT_EQ("write c", log.back());
}

}  // namespace
