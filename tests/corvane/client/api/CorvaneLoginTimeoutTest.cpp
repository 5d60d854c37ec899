// A server that accepts the connection and never answers the login: an
// operation fails after its handle's login time-out with the time-out
// text, not after the call's own time-out, which is in effect endless.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneInit.h"
#include "client/api/CorvaneNodeEvent.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneServerHandle.h"
#include "support/Gate.h"
#include "support/LoopbackListener.h"

namespace {

constexpr const char* kTimedOut = "Connection timed out";

class CorvaneLoginTimeoutTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(corvaneInit()); }
    void TearDown() override { corvaneUninit(); }

    // Never accepts: the kernel completes the connection and nothing answers.
    std::string silentHost() const { return "127.0.0.1:" + std::to_string(silent_.port()); }

    // Runs op, which must fail; a hang guard cancels it after 60 s. The
    // operation's time in ms.
    static long long failingOp(CorvaneServerHandle& server, const std::function<bool()>& op) {
        CorvaneTest::Gate done;
        bool ok = true;
        const auto start = std::chrono::steady_clock::now();
        std::thread worker([&] {
            ok = op();
            done.open();
        });
        const bool ended = done.wait(60000);
        if (!ended)
            server.cancel("hung");
        worker.join();
        EXPECT_TRUE(ended) << "the operation waited past the hang guard";
        EXPECT_FALSE(ok);
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    }

    CorvaneTest::LoopbackListener silent_{64};
};

// Without CORVANE_LOGIN_TIMEOUT the default is 5 s, so that a program that
// never sets a time-out does not wait out the call's 28 hours.
TEST_F(CorvaneLoginTimeoutTest, SilentLoginFailsEachOperationAfterTheHandlesTimeOut) {
    ASSERT_EQ(CorvaneServerHandle::defaultLoginTimeout(), 5000u) << "CORVANE_LOGIN_TIMEOUT is set for the tests";
    CorvaneServerHandle server(silentHost().c_str());
    CorvaneNodeHandle root(server, "/");
    int count = 0;
    EXPECT_GE(failingOp(server, [&] { return root.getNumChildren(count); }), 4900) << "ended before the default";
    EXPECT_STREQ(root.lastError(), kTimedOut);
    // The next operation tries again, bounded by the handle's own time-out.
    server.setLoginTimeout(200);
    CorvaneDaemonInfo info;
    EXPECT_LT(failingOp(server, [&] { return server.getDaemonInfo(info); }), 4900) << "it waited for the default";
    EXPECT_STREQ(server.lastError(), kTimedOut);
    // A ping's own shorter time-out bounds its login too.
    server.setLoginTimeout(60000);
    failingOp(server, [&] { return server.ping(200); });
    EXPECT_STREQ(server.lastError(), kTimedOut);
    // Registering for events logs in under the handle's time-out too.
    struct : CorvaneNodeEvent::Handler {
        void handleEvent(const CorvaneNodeEvent&) override {}
    } handler;
    server.setLoginTimeout(200);
    EXPECT_LT(failingOp(server, [&] { return server.registerEventHandler(CorvaneNodeId("/"), &handler); }), 4900)
        << "it waited for the default";
    EXPECT_STREQ(server.lastError(), kTimedOut);
}

}  // namespace
