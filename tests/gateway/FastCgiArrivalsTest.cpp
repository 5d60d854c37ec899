// The connections a FastCGI pool keeps aside while their requests arrive,
// through a real pool serving real FastCGI clients: how many, for how
// long, from which peers, and those whose variables outgrow a look.
#include "FastCgiArrivals.h"

#include <arpa/inet.h>
#include <fcgiapp.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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
    static std::string largeBegin(size_t valueBytes, bool keepConnection = false) {
        std::string content{0, 1, keepConnection, 0, 0, 0, 0, 0};
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
    const int fds = CorvaneTest::countOpenFds();
    auto stalled = stall(3);
    EXPECT_TRUE(stalled[0]->closedWithin(5000));
    for (size_t i = 1; i < stalled.size(); ++i)
        EXPECT_FALSE(stalled[i]->closedWithin(50)) << "connection " << i;
    std::string out;
    ASSERT_TRUE(stalled[2]->sendRaw(largeBegin(10).substr(1) + FastCgiClient::record(4, 1, "")));
    ASSERT_TRUE(stalled[2]->sendBody("") && stalled[2]->readAnswer(&out, 5000));
    EXPECT_EQ(out, "Content-Type: text/plain\r\n\r\nok ");
    // One that hangs up goes then, not at its limit.
    stalled.clear();
    EXPECT_TRUE(CorvaneTest::eventually([&fds] { return CorvaneTest::countOpenFds() == fds; }));
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
    ASSERT_TRUE(first.sendRaw(largeBegin(100000, true)));
    EXPECT_EQ(ask("fast"), "Content-Type: text/plain\r\n\r\nok fast");
    FastCgiClient second(socket_);
    second.sendRaw(largeBegin(100000));  // fails when refused before its end
    EXPECT_TRUE(second.closedWithin(5000));
    EXPECT_EQ(ask("fast"), "Content-Type: text/plain\r\n\r\nok fast");
    EXPECT_FALSE(first.closedWithin(50));
    FastCgiClient idle(socket_);
    ASSERT_TRUE(idle.begin({{"QUERY_STRING", "idle"}}, true) && idle.readAnswer(&out, 5000));
    FastCgiClient busy(socket_);
    ASSERT_TRUE(busy.begin({{"QUERY_STRING", "busy"}}, true) && busy.readAnswer(&out, 5000) && busy.sendRaw("\x01"));
    // A stop closes a kept connection with no request on its way, takes
    // no new one, and serves the one on its way and the large one. (None
    // sends a body: its end, left unread, would count as on its way.)
    std::thread stop([&pool] { pool.reset(); });
    EXPECT_TRUE(idle.closedWithin(5000));
    EXPECT_EQ(FastCgiClient::request(socket_, {{"QUERY_STRING", "late"}}, "", 200), "");
    EXPECT_TRUE(busy.sendRaw(largeBegin(10).substr(1) + FastCgiClient::record(4, 1, "")) &&
                busy.readAnswer(&out, 5000));
    EXPECT_TRUE(first.sendRaw(FastCgiClient::record(4, 1, "")) && first.readAnswer(&out, 5000));
    EXPECT_EQ(out, "Content-Type: text/plain\r\n\r\nok ");
    EXPECT_TRUE(first.closedWithin(5000)) << "kept, with nothing on its way";
    stop.join();
}

TEST_F(FastCgiPoolPendingTest, StalledConnectionsAreClosedAtTheArrivalLimit) {
    // The large one's read is ended by the pool's own timer, in a stop too.
    FastCgiPool::Options options;
    options.arrivalLimit = std::chrono::milliseconds(1000);
    auto pool = std::make_unique<ServingPool>(listener_.get(), options);
    const int fds = CorvaneTest::countOpenFds();
    auto stalled = stall(2);
    stalled.push_back(std::make_unique<FastCgiClient>(socket_));
    ASSERT_TRUE(stalled.back()->sendRaw(largeBegin(100000)));
    for (size_t i = 0; i < stalled.size(); ++i)
        EXPECT_TRUE(stalled[i]->closedWithin(5000)) << "connection " << i;
    EXPECT_EQ(ask("after"), "Content-Type: text/plain\r\n\r\nok after");

    stalled.clear();
    ASSERT_TRUE(CorvaneTest::eventually([fds] { return CorvaneTest::countOpenFds() == fds; }));
    // Its socket, the pool's and the pool's copy for the timer: being read.
    FastCgiClient large(socket_);
    ASSERT_TRUE(large.sendRaw(largeBegin(100000)));
    ASSERT_TRUE(CorvaneTest::eventually([fds] { return CorvaneTest::countOpenFds() == fds + 3; }));
    std::thread stop([&pool] { pool.reset(); });
    EXPECT_TRUE(large.closedWithin(5000));
    stop.join();
}

TEST_F(FastCgiPoolPendingTest, BrokenConnectionClosesAtOnce) {
    FastCgiPool::Options options;
    options.arrivalLimit = std::chrono::milliseconds(60000);
    ServingPool pool(listener_.get(), options);
    // Taken first, looked at when the rest of its header comes.
    const int fds = CorvaneTest::countOpenFds();
    FastCgiClient broken(socket_);
    ASSERT_TRUE(broken.sendRaw("\x02"));  // version 2
    ASSERT_TRUE(CorvaneTest::eventually([fds] { return CorvaneTest::countOpenFds() == fds + 2; }));
    ASSERT_TRUE(broken.sendRaw(std::string("\x01\x00\x01\x00\x00\x00\x00", 7)));
    EXPECT_TRUE(broken.closedWithin(5000));
}

TEST_F(FastCgiPoolPendingTest, OldestStalledConnectionMakesWayWhenDescriptorsRunOut) {
    ServingPool pool(listener_.get(), FastCgiPool::Options());
    const int fds = CorvaneTest::countOpenFds();
    auto stalled = stall(2);
    ASSERT_TRUE(CorvaneTest::eventually([&fds] { return CorvaneTest::countOpenFds() == fds + 4; }));
    // Every descriptor taken but one, which the next client's socket takes.
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    struct Restore {
        rlimit limit;
        ~Restore() { ::setrlimit(RLIMIT_NOFILE, &limit); }
    } restore{before};
    rlimit lowered = before;
    lowered.rlim_cur = static_cast<rlim_t>(fds + 64);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::vector<CorvaneTest::ScopedFd> filler;
    for (int fd; (fd = ::dup(listener_.get())) >= 0;)
        filler.emplace_back(fd);
    ASSERT_TRUE(errno == EMFILE && !filler.empty());
    filler.pop_back();
    FastCgiClient next(socket_);
    std::string out;
    EXPECT_TRUE(stalled[0]->closedWithin(5000));
    EXPECT_TRUE(next.begin({{"QUERY_STRING", "next"}}) && next.readAnswer(&out, 5000));
    EXPECT_EQ(out, "Content-Type: text/plain\r\n\r\nok next");
    EXPECT_FALSE(stalled[1]->closedWithin(50));
}

// A listener of family on loopback, for peers at 127.0.0.1, ::1, or a
// socket file at path; *port gets its port.
enum class Family { V4, Mapped, V6, File };
CorvaneTest::ScopedFd listening(Family family, const std::string& path, int* port) {
    if (family == Family::File)
        return CorvaneTest::ScopedFd(FCGX_OpenSocket(path.c_str(), 16));
    CorvaneTest::ScopedFd listener;
    if (family == Family::Mapped) {  // an IPv6 socket taking IPv4 connections
        listener.reset(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const int v6only = 0;
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        inet_pton(AF_INET6, "::ffff:127.0.0.1", &address.sin6_addr);
        socklen_t size = sizeof address;
        ::setsockopt(listener.get(), IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
        ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), size);
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &size);
        *port = ntohs(address.sin6_port);
    } else {
        listener = CorvaneTest::bindWithoutListening(port, family == Family::V6);
    }
    ::listen(listener.get(), 16);
    return listener;
}

TEST(FastCgiPoolPeersTest, WebServerAddressesDecideWhichTcpPeersAreServed) {
    ASSERT_EQ(FCGX_Init(), 0);
    CorvaneTest::TempDir dir;
    const std::string path = dir.file("socket");
    const struct {
        Family family;
        const char* webServers;
        bool served;
    } cases[] = {{Family::V4, "", true},
                 {Family::V4, "127.0.0.1", true},
                 {Family::V4, " 10.0.0.1 , 127.0.0.1 ", true},
                 {Family::V4, "::ffff:127.0.0.1", true},
                 {Family::V4, "127.0.0.2", false},
                 {Family::V4, "::1", false},
                 {Family::V4, "localhost", false},
                 {Family::V4, ",", true},
                 {Family::Mapped, "127.0.0.1", true},
                 {Family::Mapped, "127.0.0.2", false},
                 {Family::V6, "::1", true},
                 {Family::V6, "::2,127.0.0.1", false},
                 {Family::File, "10.0.0.1", true}};  // the socket file's permissions decide
    for (const auto& entry : cases) {
        if (entry.family == Family::V6 && !CorvaneTest::ipv6LoopbackAvailable())
            continue;
        int port = 0;
        const CorvaneTest::ScopedFd listener = listening(entry.family, path, &port);
        ASSERT_TRUE(listener.valid());
        FastCgiPool::Options options;
        options.webServers = entry.webServers;
        ServingPool pool(listener.get(), options);
        {  // closed before the pool stops: libfcgi waits a while for a TCP peer to close
            FastCgiClient client(entry.family == Family::File
                                     ? CorvaneTest::connectLocal(path)
                                     : CorvaneTest::connectLoopback(port, entry.family == Family::V6));
            std::string out;
            EXPECT_EQ(client.begin({{"QUERY_STRING", "tcp"}}) && client.sendBody("") && client.readAnswer(&out, 5000),
                      entry.served)
                << static_cast<int>(entry.family) << " '" << entry.webServers << "'";
        }
    }
}

}  // namespace
