// The connections a FastCGI pool keeps aside while their requests arrive,
// through a real pool serving real FastCGI clients: how many, for how
// long, from which peers, and those whose variables outgrow a look.
#include "FastCgiArrivals.h"

#include <fcgiapp.h>
#include <pthread.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "FastCgiPool.h"
#include "support/Eventually.h"
#include "support/FastCgiClient.h"
#include "support/LoopbackListener.h"
#include "support/TempDir.h"

namespace {

using CorvaneTest::FastCgiClient;

// A pool serving a listener on two threads until it goes: each request is
// answered "ok" and its QUERY_STRING.
class ServingPool {
public:
    ServingPool(int listener, const FastCgiPool::Options& options) : pool_(listener, options) {
        serving_ = std::thread([this] {
            pool_.run(2, [this] {
                FCGX_Request request;
                FCGX_InitRequest(&request, -1, 0);
                FastCgiPool::Place place;
                while (pool_.accept(request, place)) {
                    const char* query = FCGX_GetParam("QUERY_STRING", request.envp);
                    FCGX_FPrintF(request.out, "Content-Type: text/plain\r\n\r\nok %s", query ? query : "");
                    FCGX_Finish_r(&request);
                }
                FCGX_Free(&request, 1);
            });
        });
    }
    ~ServingPool() {
        pthread_kill(serving_.native_handle(), SIGUSR1);
        serving_.join();
    }

private:
    FastCgiPool pool_;
    std::thread serving_;
};

class FastCgiPoolPendingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(FCGX_Init(), 0);
        listener_.reset(FCGX_OpenSocket(socket_.c_str(), 64));
        ASSERT_TRUE(listener_.valid());
    }
    // Connections that each sent one byte of their request, in order.
    std::vector<std::unique_ptr<FastCgiClient>> stall(int count) const {
        std::vector<std::unique_ptr<FastCgiClient>> clients;
        for (int i = 0; i < count; ++i) {
            clients.push_back(std::make_unique<FastCgiClient>(socket_));
            EXPECT_TRUE(clients.back()->sendRaw("\x01"));
        }
        return clients;
    }
    // The start of a request whose one variable is valueBytes long.
    static std::string largeBegin(size_t valueBytes) {
        std::string content{0, 1, 0, 0, 0, 0, 0, 0};
        std::string begin = FastCgiClient::record(1, 1, content);
        const std::string name = "HTTP_COOKIE";
        std::string params{static_cast<char>(name.size())};
        for (int shift = 24; shift >= 0; shift -= 8)
            params.push_back(static_cast<char>(((valueBytes >> shift) & 0xff) | (shift == 24 ? 0x80 : 0)));
        params += name + std::string(valueBytes, 'c');
        for (size_t at = 0; at < params.size(); at += 0xffff)
            begin += FastCgiClient::record(4, 1, params.substr(at, 0xffff));
        return begin;
    }
    std::string ask(const std::string& query) const {
        return FastCgiClient::request(socket_, {{"QUERY_STRING", query}}, "", 5000);
    }

    CorvaneTest::TempDir dir_;
    const std::string socket_ = dir_.file("socket");
    CorvaneTest::ScopedFd listener_;
};

TEST_F(FastCgiPoolPendingTest, OldestStalledConnectionMakesWayWhenTheSetIsFull) {
    FastCgiPool::Options options;
    options.maxPending = 2;
    ServingPool pool(listener_.get(), options);
    const auto stalled = stall(3);
    EXPECT_TRUE(stalled[0]->closedWithin(5000));
    for (size_t i = 1; i < stalled.size(); ++i)
        EXPECT_FALSE(stalled[i]->closedWithin(50)) << "connection " << i;
    std::string out;
    ASSERT_TRUE(stalled[2]->sendRaw(largeBegin(10).substr(1) + FastCgiClient::record(4, 1, "")));
    ASSERT_TRUE(stalled[2]->sendBody("") && stalled[2]->readAnswer(&out, 5000));
    EXPECT_EQ(out, "Content-Type: text/plain\r\n\r\nok ");
}

TEST_F(FastCgiPoolPendingTest, VariablesPastALookAreReadOneRequestAtATimeAndTimed) {
    // Served whole: 200 kB of variables in four records.
    FastCgiPool::Options options;
    options.arrivalLimit = std::chrono::milliseconds(30000);
    auto pool = std::make_unique<ServingPool>(listener_.get(), options);
    const int fds = CorvaneTest::countOpenFds();
    std::string out;
    {
        FastCgiClient large(socket_);
        ASSERT_TRUE(large.sendRaw(largeBegin(200000) + FastCgiClient::record(4, 1, "")) && large.sendBody(""));
        ASSERT_TRUE(large.readAnswer(&out, 5000));
        EXPECT_EQ(out, "Content-Type: text/plain\r\n\r\nok ");
    }
    // Its connection and the pool's copy of it are closed.
    EXPECT_TRUE(CorvaneTest::eventually([&fds] { return CorvaneTest::countOpenFds() == fds; }));
    // One that stops after 100 kB holds a thread; a second one meanwhile
    // is refused, and requests go on being answered.
    FastCgiClient first(socket_);
    ASSERT_TRUE(first.sendRaw(largeBegin(100000)));
    EXPECT_EQ(ask("fast"), "Content-Type: text/plain\r\n\r\nok fast");
    FastCgiClient second(socket_);
    ASSERT_TRUE(second.sendRaw(largeBegin(100000)));
    EXPECT_TRUE(second.closedWithin(5000));
    EXPECT_EQ(ask("fast"), "Content-Type: text/plain\r\n\r\nok fast");
    EXPECT_FALSE(first.closedWithin(50));
    // A stop lets it finish, and serves it.
    std::thread stop([&pool] { pool.reset(); });
    EXPECT_TRUE(first.sendRaw(FastCgiClient::record(4, 1, "")) && first.sendBody("") && first.readAnswer(&out, 5000));
    EXPECT_EQ(out, "Content-Type: text/plain\r\n\r\nok ");
    stop.join();
}

TEST_F(FastCgiPoolPendingTest, StalledConnectionsAreClosedAtTheArrivalLimit) {
    // The large one's read is ended by the pool's own timer.
    FastCgiPool::Options options;
    options.arrivalLimit = std::chrono::milliseconds(200);
    ServingPool pool(listener_.get(), options);
    auto stalled = stall(2);
    stalled.push_back(std::make_unique<FastCgiClient>(socket_));
    ASSERT_TRUE(stalled.back()->sendRaw(largeBegin(100000)));
    for (size_t i = 0; i < stalled.size(); ++i)
        EXPECT_TRUE(stalled[i]->closedWithin(5000)) << "connection " << i;
    EXPECT_EQ(ask("after"), "Content-Type: text/plain\r\n\r\nok after");
}

TEST(FastCgiPoolPeersTest, WebServerAddressesDecideWhichTcpPeersAreServed) {
    ASSERT_EQ(FCGX_Init(), 0);
    const struct {
        const char* webServers;
        bool served;
    } cases[] = {{"", true},           {"127.0.0.1", true},  {" 10.0.0.1 , 127.0.0.1 ", true},
                 {"::ffff:127.0.0.1", true}, {"127.0.0.2", false}, {"::1", false},
                 {"localhost", false}, {",", true}};
    for (const auto& entry : cases) {
        int port = 0;
        const CorvaneTest::ScopedFd listener = CorvaneTest::bindWithoutListening(&port);
        ASSERT_TRUE(listener.valid() && ::listen(listener.get(), 16) == 0);
        FastCgiPool::Options options;
        options.webServers = entry.webServers;
        ServingPool pool(listener.get(), options);
        FastCgiClient client(CorvaneTest::connectLoopback(port));
        std::string out;
        const bool answered =
            client.begin({{"QUERY_STRING", "tcp"}}) && client.sendBody("") && client.readAnswer(&out, 5000);
        EXPECT_EQ(answered, entry.served) << "'" << entry.webServers << "'";
    }
}

}  // namespace
