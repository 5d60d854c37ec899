// The per-user share of a persistent driver's threads: the counting itself,
// and the driver's answer to one request too many.
#include "UserShare.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include "DriverFixture.h"
#include "support/LoopbackListener.h"

namespace {

TEST(UserShareTest, EachUserHoldsAtMostTheLimitUntilAClaimGoes) {
    UserShare share;
    std::list<UserShare::Claim> held;  // claims move, never assign
    const auto claim = [&](const char* user, size_t limit) {
        held.push_back(share.claim(user, limit));
        return held.back().granted();
    };
    // Names are compared whole; a refused claim gives nothing back when it
    // goes, a granted one does, once, wherever it was moved.
    for (const auto& step : std::vector<std::pair<const char*, bool>>{
             {"al", true}, {"al", true}, {"al", false}, {"bo", true}, {"Al", true}, {"al ", true}})
        EXPECT_EQ(claim(step.first, 2), step.second) << step.first;
    held.erase(std::next(held.begin(), 2));
    EXPECT_FALSE(claim("al", 2));
    held.erase(held.begin());
    EXPECT_TRUE(claim("al", 2));
    // A higher limit, as a request's own setting may give, lets more in;
    // 0 counts without refusing.
    EXPECT_TRUE(claim("al", 3));
    EXPECT_FALSE(claim("al", 3));
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE(claim("cy", 0));
    held.clear();
    EXPECT_EQ(share.users(), 0u) << "an entry stayed for a user with nothing in flight";
    EXPECT_TRUE(share.claim("al", 1).granted());
}

TEST(UserShareTest, ThreadsTogetherNeverHoldMoreThanTheLimit) {
    // Threads of one process claim for the same users at once; a check and
    // an increment that were not one step let a fifth request in.
    constexpr size_t kLimit = 4;
    UserShare share;
    std::atomic<int> holding[2] = {{0}, {0}};
    std::atomic<int> most[2] = {{0}, {0}};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            const int user = t % 2;
            for (int i = 0; i < 2000; ++i) {
                const UserShare::Claim claim = share.claim(user ? "bo" : "al", kLimit);
                if (!claim.granted())
                    continue;
                const int now = ++holding[user];
                int seen = most[user].load();
                while (now > seen && !most[user].compare_exchange_weak(seen, now)) {
                }
                --holding[user];
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_LE(most[0].load(), static_cast<int>(kLimit));
    EXPECT_LE(most[1].load(), static_cast<int>(kLimit));
    EXPECT_EQ(share.users(), 0u);
}

class DriverShareTest : public DriverFixture {
protected:
    using Env = std::map<std::string, std::string>;

    // A request of user held on a server that accepts and never answers,
    // until the test closes that connection.
    void hold(const std::string& user) {
        held_ = std::thread([this, user] {
            heldResult_ = run(
                {"mode=getMetadata", "host=127.0.0.1:" + std::to_string(silent_.port()), "nodeId=/", "streamName=info"},
                {{"REMOTE_USER", user}, {"XQ_CVC_BROWSE_TIMEOUT", "60000"}, {"CORVANE_LOGIN_TIMEOUT", "60000"}});
        });
        connection_ = silent_.accept(20000);
        ASSERT_TRUE(connection_.valid()) << "the held request never reached its server";
    }
    void release() {
        connection_.reset();
        if (held_.joinable())
            held_.join();
    }
    void TearDown() override {
        release();
        DriverFixture::TearDown();
    }
    CorvaneTest::ProcessResult getUser(const std::string& user, const Env& more = {}) const {
        Env env{{"REMOTE_USER", user}};
        env.insert(more.begin(), more.end());
        return run({"mode=getUser", "host=h", "nodeId=n"}, env);
    }

    CorvaneTest::LoopbackListener silent_;
    CorvaneTest::ScopedFd connection_;
    std::thread held_;
    CorvaneTest::ProcessResult heldResult_;
};

TEST_F(DriverShareTest, RequestPastTheUsersShareIsRefusedAtOnceAndOthersGoOn) {
    // The fixture's driver serves one request at a time: its default share is one.
    hold("a&b");
    const std::string refused = "Status: 503 Service Unavailable\nRetry-After: 1\n" +
                                error("Too many requests in progress for user &apos;a&amp;b&apos;");
    EXPECT_EQ(getUser("a&b").out, refused);
    EXPECT_EQ(getUser("a&b").err, "Too many requests in progress for user 'a&b' on host h");
    // Refused before anything is touched: a save writes no file.
    EXPECT_EQ(post("mode=saveUser&host=h&nodeId=n&corvaneMetadata=x", {{"REMOTE_USER", "a&b"}}).out, refused);
    EXPECT_NE(::access(dir_.file("account/a&b.xml").c_str(), F_OK), 0);
    EXPECT_EQ(getUser("other").out, ok("<response>other</response>\n"));
    // The setting widens the share; 0 lifts it.
    EXPECT_EQ(getUser("a&b", {{"CORVANE_MAX_USER_REQUESTS", "2"}}).out, ok("<response>a&amp;b</response>\n"));
    EXPECT_EQ(getUser("a&b", {{"CORVANE_MAX_USER_REQUESTS", "0"}}).out, ok("<response>a&amp;b</response>\n"));
    EXPECT_EQ(getUser("a&b", {{"CORVANE_MAX_USER_REQUESTS", "1"}}).out, refused);
    // Once the held request has its answer, the user's next one goes through.
    release();
    EXPECT_TRUE(failed(heldResult_)) << heldResult_.out;
    EXPECT_EQ(getUser("a&b").out, ok("<response>a&amp;b</response>\n"));
}

}  // namespace
