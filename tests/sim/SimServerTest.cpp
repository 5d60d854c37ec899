#include "sim/SimServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "base/loggerBase/CoException.h"
#include "base/rcApi/rcAPI.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/rcApi/rcValue.h"
#include "base/time/CoClock.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "sim/SimTreeFile.h"

namespace CorvaneSim {
namespace {

constexpr int kCallMs = 10000;
// Long enough that no test waits for it: a reply held this long means a
// client that gave up, or a server that must stop anyway.
constexpr int kForeverMs = 600000;

const char* const kTree =
    "meta / info <info><administrators>demo,admin</administrators></info>\n"
    "node /media FOLDER Media\n"
    "node /media/clip1 CLIP\n";

// A server running on its own thread for the length of one test.
class RunningServer {
public:
    explicit RunningServer(SimOptions options) {
        options.port = 0;
        options.treeFile = "inline";
        SimTree tree;
        SimTranslations translations;
        std::string error;
        EXPECT_TRUE(SimTreeFile::parse(kTree, "inline", &tree, &translations, &error)) << error;
        server_ = std::make_unique<SimServer>(options, std::move(tree), std::move(translations));
        done_ = std::async(std::launch::async, [this] { return server_->run(); });
    }
    ~RunningServer() {
        stop();
        server_.reset();
    }

    SimServer& server() { return *server_; }
    int port() const { return server_->port(); }
    // True when run() returned within the limit.
    bool stopped(int limitMs) {
        return done_.valid() && done_.wait_for(std::chrono::milliseconds(limitMs)) == std::future_status::ready;
    }
    void stop() {
        if (!done_.valid())
            return;
        server_->stop();
        EXPECT_TRUE(stopped(kCallMs)) << "run() did not return after stop()";
        done_.get();
    }

private:
    std::unique_ptr<SimServer> server_;
    std::future<bool> done_;
};

class SimServerTest : public ::testing::Test {
protected:
    void start(const SimOptions& options = SimOptions()) { server_ = std::make_unique<RunningServer>(options); }

    std::unique_ptr<Corvane::rcAPI> connect(const char* host = "127.0.0.1") {
        auto api = std::make_unique<Corvane::rcAPI>();
        EXPECT_TRUE(api->connect(host, server_->port(), kCallMs)) << api->lastError();
        return api;
    }

    static std::string call(Corvane::rcAPI& api, const char* method, const std::string& args, bool expectOk = true,
                            int timeoutMs = kCallMs) {
        std::string result;
        const bool ok = api.call(0, method, args.c_str(), true, result, timeoutMs);
        EXPECT_EQ(ok, expectOk) << method << "(" << args << "): " << result;
        return result;
    }

    std::unique_ptr<RunningServer> server_;
};

TEST_F(SimServerTest, AnswersOnBothLoopbackAddresses) {
    start();
    auto api = connect();
    EXPECT_EQ(call(*api, "GetMetaData", "/ info  1"), "<info><administrators>demo,admin</administrators></info>");
    EXPECT_EQ(call(*api, "GetChildren", "/"), "Media,/media");
    // Newlines, tabs and backslashes cross the wire escaped and come back whole.
    const std::string text = "line one\nline\ttwo \\ \"three\"";
    EXPECT_EQ(call(*api, "SetMetaData", "/media notes " + Corvane::rcValue::quote(text.c_str())), "");
    EXPECT_EQ(call(*api, "GetMetaData", "/media notes  1"), text);
    EXPECT_EQ(call(*api, "GetMetaData", "/nowhere info  1", false), "Node '/nowhere' does not exist");
    EXPECT_EQ(call(*api, "Frobnicate", "", false), "Unknown method: Frobnicate");

    const CorvaneDaemonInfo info{Corvane::rcAttrStream(call(*api, "GetDaemonInfo", "\"\""))};
    EXPECT_EQ(info.getNodePort(), server_->port());
    EXPECT_STREQ(info.getIP(0), "127.0.0.1");
    if (server_->server().servesIpv6()) {
        EXPECT_STREQ(info.getIP(1), "::1");
        auto v6 = connect("::1");
        EXPECT_EQ(call(*v6, "GetNodeTypeStr", "/media/clip1"), "CLIP");
    }
}

TEST_F(SimServerTest, AsyncCommandRunsWithoutAReply) {
    start();
    auto api = connect();
    std::string result = "untouched";
    ASSERT_TRUE(api->call(0, "SetMetaData", "/media s \"async\"", false, result, kCallMs)) << result;
    EXPECT_EQ(result, "");
    EXPECT_EQ(call(*api, "GetMetaData", "/media s  1"), "async");
}

TEST_F(SimServerTest, FailedMethodAnswersItsTextAndChangesNothing) {
    SimOptions options;
    options.failures["SetMetaData"] = "Disk full";
    start(options);
    auto api = connect();
    EXPECT_EQ(call(*api, "SetMetaData", "/ info \"x\"", false), "Disk full");
    EXPECT_TRUE(api->isConnected());
    EXPECT_EQ(call(*api, "GetMetaData", "/ info  1"), "<info><administrators>demo,admin</administrators></info>");
}

TEST_F(SimServerTest, CloseOnMethodDropsOnlyThatConnection) {
    SimOptions options;
    options.closeOn.push_back("GetNodeTypeStr");
    start(options);
    auto api = connect();
    auto other = connect();
    call(*api, "GetNodeTypeStr", "/media", false);
    EXPECT_FALSE(api->isConnected());
    EXPECT_EQ(call(*other, "GetDisplayName", "/media"), "Media");
    auto again = connect();
    EXPECT_EQ(call(*again, "GetDisplayName", "/media"), "Media");
}

TEST_F(SimServerTest, DelayedReplyComesAfterItsDelay) {
    SimOptions options;
    options.methodDelayMs["GetNodeTypeStr"] = 300;
    start(options);
    auto api = connect();
    const int64_t start = Corvane::CoClock::monotonicMs();
    EXPECT_EQ(call(*api, "GetNodeTypeStr", "/media"), "FOLDER");
    EXPECT_GE(Corvane::CoClock::monotonicMs() - start, 250);
    EXPECT_EQ(call(*api, "GetDisplayName", "/media"), "Media");
}

TEST_F(SimServerTest, DelayHoldsNeitherOtherClientsNorLaterCalls) {
    SimOptions options;
    options.methodDelayMs["GetMetaData"] = kForeverMs;
    start(options);
    auto slow = connect();
    auto other = connect();
    std::string result;
    EXPECT_FALSE(slow->call(0, "GetMetaData", "/ info  1", true, result, 200));
    EXPECT_TRUE(slow->timedOut());
    // Served while the first reply is still held back.
    EXPECT_EQ(call(*other, "GetDisplayName", "/media"), "Media");
    // The client gave up on that connection; a new one is served at once.
    EXPECT_FALSE(slow->isConnected());
    slow = connect();
    EXPECT_EQ(call(*slow, "GetDisplayName", "/media/clip1"), "clip1");
}

TEST_F(SimServerTest, StopEndsTheLoopWhileAReplyIsHeld) {
    SimOptions options;
    options.delayMs = kForeverMs;
    start(options);
    auto api = connect();
    std::string result;
    EXPECT_FALSE(api->call(0, "Ping", "", true, result, 200));
    server_->stop();
    server_.reset();
    EXPECT_FALSE(api->call(0, "Ping", "", true, result, kCallMs));
}

TEST_F(SimServerTest, ShutdownAnswersThenStops) {
    start();
    auto api = connect();
    EXPECT_EQ(call(*api, "Shutdown", ""), "");
    EXPECT_TRUE(server_->stopped(kCallMs));
}

TEST_F(SimServerTest, LoginCanBeAbsentOrRefused) {
    SimOptions options;
    options.login = false;
    start(options);
    auto api = connect();  // a server without "_login" needs none
    EXPECT_EQ(call(*api, "GetRootNode", ""), "/");

    options.login = true;
    options.failures["_login"] = "Go away";
    start(options);
    Corvane::rcAPI refused;
    EXPECT_FALSE(refused.connect("127.0.0.1", server_->port(), kCallMs));
    EXPECT_EQ(refused.lastError(), "Go away");
}

TEST_F(SimServerTest, FixedPortInUseIsReported) {
    start();
    SimOptions options;
    options.port = server_->port();
    try {
        SimServer second(options, SimTree(), SimTranslations());
        ADD_FAILURE() << "a second server took port " << options.port;
    } catch (const Corvane::CoException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Could not bind to '127.0.0.1' port " + std::to_string(options.port) + ": Address already in use");
    }
}

}  // namespace
}  // namespace CorvaneSim
