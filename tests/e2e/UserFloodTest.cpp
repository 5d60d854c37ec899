// One logged-in user floods a FastCGI gateway process (its default eight
// threads) with requests that hang on a server which accepts and never
// answers. The user holds no more than its share of the threads: its
// requests past the share are refused at once, and another user's
// requests are answered meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FastCgiGateway.h"
#include "GatewayFixture.h"
#include "support/Eventually.h"
#include "support/FastCgiClient.h"
#include "support/LoopbackListener.h"
#include "support/SimProcess.h"

namespace {

using CorvaneTest::FastCgiClient;

constexpr int kFlood = 16;
constexpr int kShare = 4;  // half of the default eight threads

class UserFloodTest : public FastCgiFixture {
protected:
    void SetUp() override {
        // The drop-ins' allow-list once let any loopback port through.
        startGateway({{"CORVANE_ALLOWED_SERVERS", "127.0.0.1"}});
        // Never accepts: the kernel completes the connections, and no byte
        // ever comes back.
        silent_ = std::make_unique<CorvaneTest::LoopbackListener>(64);
    }
    void TearDown() override {
        // Closing the listener resets the connections waiting on it, which
        // ends the held requests.
        silent_.reset();
        for (std::thread& reader : readers_)
            reader.join();
        FastCgiFixture::TearDown();
    }

    std::string silentHost() const { return "127.0.0.1:" + std::to_string(silent_->port()); }

    // Sends kFlood getChildren of user "flood" on the silent server, with
    // limits far past the test, each answer read by a thread of its own.
    void flood() {
        for (int i = 0; i < kFlood; ++i) {
            auto client = std::make_shared<FastCgiClient>(gateway_->socket());
            ASSERT_TRUE(client->begin(fastCgiGet("mode=getChildren&host=" + silentHost() + "&nodeId=/", "flood",
                                                 {{"XQ_CVC_BROWSE_TIMEOUT", "120000"},
                                                  {"CORVANE_LOGIN_TIMEOUT", "120000"},
                                                  {"CORVANE_REQUEST_TIMEOUT", "120000"}})) &&
                        client->sendBody(""));
            readers_.emplace_back([this, client] {
                std::string out;
                client->readAnswer(&out, 90000);
                refused_ += out == refusal_;
                ++answered_;
            });
        }
    }

    std::unique_ptr<CorvaneTest::LoopbackListener> silent_;
    std::vector<std::thread> readers_;
    std::atomic<int> answered_{0};
    std::atomic<int> refused_{0};  // answers that are refusal_
    const std::string refusal_ = "Status: 503 Service Unavailable\nRetry-After: 1\n" +
                                 error("Too many requests in progress for user &apos;flood&apos;");
};

TEST_F(UserFloodTest, FloodOfOneUserLeavesAnotherUsersRequestsAnswered) {
    // Sixteen requests of one user held all threads of the process until
    // the browse limit; another user's getChildren waited 22 s for one.
    CorvaneTest::SimProcess sim(CorvaneTest::SimProcess::demoTree());
    ASSERT_TRUE(sim.started());
    flood();
    // What does not fit the user's share is refused at once, which says
    // that the rest holds its threads; a gateway without a share never says.
    const bool refusedAtOnce = CorvaneTest::eventually([&] { return answered_.load() >= kFlood - kShare; }, 5000);
    // Each guard is a hang guard: the other user's request took 22-24 s.
    for (int i = 0; i < 5; ++i) {
        const std::string out =
            gateway_->ask(fastCgiGet("mode=getChildren&host=" + sim.host() + "&nodeId=/", "other"), "", 10000);
        ASSERT_NE(out.find("<nodeId>/media</nodeId>"), std::string::npos) << "request " << i << ": " << out;
    }
    EXPECT_TRUE(refusedAtOnce || CorvaneTest::eventually([&] { return answered_.load() >= kFlood - kShare; }, 20000))
        << answered_.load() << " of the flood's requests answered";
    // The user's share stayed held all along; nothing else came back.
    EXPECT_EQ(answered_.load(), kFlood - kShare);
    EXPECT_EQ(refused_.load(), kFlood - kShare);
    // And the user is refused again while the share is held.
    EXPECT_EQ(gateway_->ask(fastCgiGet("mode=getUser&host=h&nodeId=n", "flood")), refusal_);
    EXPECT_EQ(gateway_->ask(fastCgiGet("mode=getUser&host=h&nodeId=n", "other")), ok("<response>other</response>\n"));
}

}  // namespace
