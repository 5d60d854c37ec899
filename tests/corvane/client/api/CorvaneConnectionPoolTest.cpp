// The pool of connections per server, through the public handles against a
// real corvane-sim process: threads side by side, a stuck call, a restart.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/api/CorvaneConnectionTable.h"
#include "client/api/CorvaneInit.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneServerHandle.h"
#include "client/api/CorvaneStr.h"
#include "support/Gate.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

namespace {

using CorvaneTest::Gate;
using CorvaneTest::SimProcess;

constexpr int kThreads = 16;
constexpr int kPoolSize = 4;
constexpr int kHangGuardMs = 20000;

// Nodes /n0 ... /n15, each with an "info" stream naming itself.
std::string numberedTree() {
    std::string tree = "node / FOLDER Root\n";
    for (int i = 0; i < kThreads; ++i)
        tree += "node /n" + std::to_string(i) + " FOLDER N" + std::to_string(i) + "\nmeta /n" + std::to_string(i) +
                " info <n" + std::to_string(i) + "/>\n";
    return tree;
}

// Holds every arriving thread until count have arrived; false after the
// hang guard.
class Barrier {
public:
    explicit Barrier(int count) : left_(count) {}
    bool arrive() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (--left_ == 0)
            all_.notify_all();
        return all_.wait_for(lock, std::chrono::milliseconds(kHangGuardMs), [this] { return left_ <= 0; });
    }

private:
    std::mutex mutex_;  // guards left_
    std::condition_variable all_;
    int left_;
};

bool metadataOf(CorvaneNodeHandle& node, std::string* text) {
    CorvaneStr data;
    if (!node.getMetaData("info", "", 0, data))
        return false;
    *text = data.c_str();
    return true;
}

class CorvaneConnectionPoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        corvaneCreateConnectionTable(16, -1, kPoolSize);
        ASSERT_TRUE(corvaneInit());
    }
    void TearDown() override { corvaneUninit(); }

    // Runs body(i) on n threads and joins them.
    static void onThreads(int n, const std::function<void(int)>& body) {
        std::vector<std::thread> threads;
        for (int i = 0; i < n; ++i)
            threads.emplace_back(body, i);
        for (std::thread& thread : threads)
            thread.join();
    }
};

std::atomic<int64_t> gNowUs{0};

TEST_F(CorvaneConnectionPoolTest, OneThreadKeepsOneConnectionAndAnExtraOneClosesWhenIdle) {
    constexpr int64_t kIdleUs = 30000000;
    corvaneUninit();
    gNowUs.store(1000000000);
    corvaneSetConnectionClock([] { return gNowUs.load(); });
    corvaneCreateConnectionTable(16, kIdleUs, kPoolSize);
    ASSERT_TRUE(corvaneInit());
    SimProcess sim(numberedTree());
    {
        CorvaneServerHandle held(sim.host().c_str());
        ASSERT_TRUE(held.ping());
        // Another handle of the same thread shares the held connection.
        EXPECT_TRUE(CorvaneServerHandle(sim.host().c_str()).ping());
        EXPECT_EQ(1, CorvaneTest::connectionsTo(sim.port()));
        std::thread([&] {
            CorvaneServerHandle other(sim.host().c_str());
            EXPECT_TRUE(other.ping());
        }).join();
    }
    EXPECT_EQ(2, CorvaneTest::connectionsTo(sim.port()));
    gNowUs.fetch_add(kIdleUs - 1);
    EXPECT_TRUE(CorvaneServerHandle(sim.host().c_str()).ping());
    EXPECT_EQ(2, CorvaneTest::connectionsTo(sim.port())) << "closed before its time";
    gNowUs.fetch_add(2);
    EXPECT_TRUE(CorvaneServerHandle(sim.host().c_str()).ping());
    EXPECT_EQ(1, CorvaneTest::connectionsTo(sim.port()));
    corvaneSetConnectionClock(nullptr);
}

TEST_F(CorvaneConnectionPoolTest, SixteenThreadsShareTheCappedPoolWithoutMixingReplies) {
    SimProcess sim(numberedTree(), {"--delay-method", "GetMetaData:2"});
    Barrier holding(kThreads + 1), counted(kThreads + 1);
    std::vector<std::string> failures(kThreads);
    std::thread counting([&] {
        holding.arrive();
        // Every thread holds its connection now: the pool is at its cap.
        EXPECT_EQ(kPoolSize, CorvaneTest::connectionsTo(sim.port()));
        counted.arrive();
    });
    onThreads(kThreads, [&](int i) {
        CorvaneServerHandle server(sim.host().c_str());
        CorvaneNodeHandle node(server, ("/n" + std::to_string(i)).c_str());
        const std::string want = "<n" + std::to_string(i) + "/>";
        std::string text;
        bool ok = metadataOf(node, &text) && text == want;
        if (!holding.arrive() || !counted.arrive())
            ok = false;
        for (int round = 0; ok && round < 20; ++round)
            ok = metadataOf(node, &text) && text == want;
        if (!ok)
            failures[static_cast<size_t>(i)] = text + " / " + node.lastError();
    });
    counting.join();
    for (int i = 0; i < kThreads; ++i)
        EXPECT_EQ("", failures[static_cast<size_t>(i)]) << "thread " << i;
}

TEST_F(CorvaneConnectionPoolTest, StuckCallHoldsOnlyItsOwnConnection) {
    SimProcess sim(numberedTree(), {"--delay-method", "GetMetaData:600000"});
    CorvaneServerHandle stuckServer(sim.host().c_str());
    Gate stuckEnded;
    std::thread stuck([&] {
        CorvaneNodeHandle node(stuckServer, "/n1");
        std::string text;
        EXPECT_FALSE(metadataOf(node, &text));
        stuckEnded.open();
    });
    // Bounded: the sim logs the call as it arrives.
    for (int i = 0; i < 2000 && sim.calls("GetMetaData").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_FALSE(sim.calls("GetMetaData").empty());

    Gate answered;
    std::string type;
    std::thread other([&] {
        CorvaneServerHandle server(sim.host().c_str());
        CorvaneNodeHandle node(server, "/n2");
        CorvaneStr text;
        if (node.getNodeTypeStr(text))
            type = text.c_str();
        answered.open();
    });
    EXPECT_TRUE(answered.wait(kHangGuardMs)) << "the other thread's call waited behind the stuck one";
    stuckServer.cancel("stopped by the test");
    EXPECT_TRUE(stuckEnded.wait(kHangGuardMs));
    other.join();
    stuck.join();
    EXPECT_EQ("FOLDER", type);
}

TEST_F(CorvaneConnectionPoolTest, EveryPooledConnectionReconnectsAfterARestart) {
    auto sim = std::make_unique<SimProcess>(numberedTree());
    const int port = sim->port();
    const std::string host = sim->host();
    Barrier connected(kPoolSize + 1), restarted(kPoolSize + 1);
    std::vector<std::string> afterRestart(kPoolSize);
    std::vector<int> recovered(kPoolSize, 0);  // not vector<bool>: one word per thread
    std::thread restarting([&] {
        connected.arrive();
        EXPECT_EQ(kPoolSize, CorvaneTest::connectionsTo(port));
        sim.reset();
        sim = std::make_unique<SimProcess>(numberedTree(), std::vector<std::string>{}, port);
        restarted.arrive();
    });
    onThreads(kPoolSize, [&](int i) {
        CorvaneServerHandle server(host.c_str());
        CorvaneNodeHandle node(server, ("/n" + std::to_string(i)).c_str());
        std::string text;
        const bool before = metadataOf(node, &text);
        if (!connected.arrive() || !restarted.arrive() || !before)
            return;
        // The first call finds its connection lost and says so; the next
        // one reconnects.
        if (!metadataOf(node, &text))
            afterRestart[static_cast<size_t>(i)] = node.lastError();
        recovered[static_cast<size_t>(i)] = metadataOf(node, &text) && text == "<n" + std::to_string(i) + "/>" ? 1 : 0;
    });
    restarting.join();
    ASSERT_TRUE(sim->started());
    for (int i = 0; i < kPoolSize; ++i) {
        EXPECT_NE("", afterRestart[static_cast<size_t>(i)]) << "connection " << i << " did not notice the restart";
        EXPECT_TRUE(recovered[static_cast<size_t>(i)]) << "connection " << i << " did not reconnect";
    }
    EXPECT_EQ(kPoolSize, CorvaneTest::connectionsTo(port));
}

}  // namespace
