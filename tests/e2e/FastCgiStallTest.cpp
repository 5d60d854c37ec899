// A FastCGI gateway process beside local clients that connect and then
// send their request slowly, in part, wrongly, or not at all: none of them
// may keep the process from taking the next connection, and none may stay
// connected past the time its request has to arrive.
#include <signal.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FastCgiGateway.h"
#include "GatewayFixture.h"
#include "support/Eventually.h"
#include "support/FastCgiClient.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

using CorvaneTest::FastCgiClient;
using Variables = std::map<std::string, std::string>;

constexpr int kBeginRequest = 1;
constexpr int kParams = 4;
constexpr int kStdin = 5;
// Guards against hangs only: a request answered by a free process takes
// milliseconds, one that waits on a stalled connection never ends.
constexpr int kGuardMs = 5000;

std::string begin(int requestId = 1, int role = 1) {
    return FastCgiClient::record(kBeginRequest, requestId, std::string{0, static_cast<char>(role), 0, 0, 0, 0, 0, 0});
}
// Variables with names and values shorter than 128 bytes.
std::string params(int requestId = 1, const Variables& variables = {{"QUERY_STRING", "a=1"}}) {
    std::string content;
    for (const auto& variable : variables)
        content += std::string{static_cast<char>(variable.first.size()), static_cast<char>(variable.second.size())} +
                   variable.first + variable.second;
    return FastCgiClient::record(kParams, requestId, content);
}

// Where a client stops: each is a request that has not arrived yet.
const std::vector<std::string>& stalls() {
    static const std::vector<std::string> cases{
        "\x01",                                       // one byte
        begin().substr(0, 5),                         // half a header
        begin(),                                      // the begin and nothing more
        "",                                           // nothing
        begin().substr(0, 12),                        // half the begin
        begin() + params(),                           // the variables without their end
        begin() + params().substr(0, 12),             // half a variables record
        begin() + FastCgiClient::record(kParams, 1, "").substr(0, 7),  // the end, less a byte
    };
    return cases;
}

class FastCgiStallTest : public FastCgiFixture {
protected:

    // Connections that each sent one of stalls() (count in all, round the
    // table) and wait.
    std::vector<std::unique_ptr<FastCgiClient>> stall(size_t count) const {
        std::vector<std::unique_ptr<FastCgiClient>> clients;
        for (size_t i = 0; i < count; ++i) {
            clients.push_back(std::make_unique<FastCgiClient>(gateway_->socket()));
            EXPECT_TRUE(clients.back()->valid() && clients.back()->sendRaw(stalls()[i % stalls().size()]));
        }
        return clients;
    }
    static Variables getUser() { return fastCgiGet("mode=getUser&host=h&nodeId=n"); }
    // Its records up to the body.
    static std::string wholeGetUser() { return begin() + params(1, getUser()) + FastCgiClient::record(kParams, 1, ""); }
    std::string askGetUser() const { return gateway_->ask(getUser(), "", kGuardMs); }
};

TEST_F(FastCgiStallTest, RequestsAreAnsweredWhileEightConnectionsStall) {
    // One byte on the socket kept the thread whose turn it was reading, and
    // no thread took another connection: every request of the process waited.
    startGateway();
    const auto stalled = stall(8);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(askGetUser(), ok("<response>al</response>\n")) << "request " << i;
    // Stalled requests that arrive after all are answered like any other.
    for (const size_t i : {0, 2, 3, 4}) {
        std::string out;
        ASSERT_TRUE(stalled[i]->sendRaw(wholeGetUser().substr(stalls()[i].size())) && stalled[i]->sendBody(""));
        EXPECT_TRUE(stalled[i]->readAnswer(&out, kGuardMs));
        EXPECT_EQ(out, ok("<response>al</response>\n")) << "connection " << i;
    }
}

TEST_F(FastCgiStallTest, StalledConnectionsAreClosedOnceTheirTimeIsUp) {
    // A client that never finished its request held its connection for ever.
    startGateway({{"CORVANE_BODY_TIMEOUT", "300"}});
    auto stalled = stall(stalls().size());
    // So is a connection the web server kept, between its requests.
    stalled.push_back(std::make_unique<FastCgiClient>(gateway_->socket()));
    FastCgiClient& kept = *stalled.back();
    std::string out;
    ASSERT_TRUE(kept.begin(getUser(), true) && kept.sendBody("") && kept.readAnswer(&out, kGuardMs));
    EXPECT_EQ(out, ok("<response>al</response>\n"));
    for (size_t i = 0; i < stalled.size(); ++i)
        EXPECT_TRUE(stalled[i]->closedWithin(kGuardMs)) << "connection " << i << " still open";
    EXPECT_EQ(askGetUser(), ok("<response>al</response>\n"));
}

TEST_F(FastCgiStallTest, RecordsOutOfOrderCloseTheConnectionAtOnce) {
    // Within the guard, far inside the default 30 s a connection has: each
    // is closed for what it sent, not for its time.
    startGateway();
    const std::vector<std::string> broken{
        std::string("\x02") + begin().substr(1) + params() + FastCgiClient::record(kParams, 1, ""),  // version 2
        params() + begin() + FastCgiClient::record(kParams, 1, ""),                                   // no begin first
        begin(0) + FastCgiClient::record(kParams, 0, ""),                                             // request 0
        begin(1, 9) + params() + FastCgiClient::record(kParams, 1, ""),                               // role 9
        begin(1) + params() + FastCgiClient::record(kParams, 2, ""),                                  // another's end
        begin(1) + FastCgiClient::record(kStdin, 1, "x") + FastCgiClient::record(kParams, 1, ""),    // body first
        FastCgiClient::record(9, 0, "") + begin() + FastCgiClient::record(kParams, 1, ""),           // management
    };
    for (size_t i = 0; i < broken.size(); ++i) {
        FastCgiClient client(gateway_->socket());
        ASSERT_TRUE(client.sendRaw(broken[i]));
        EXPECT_TRUE(client.closedWithin(kGuardMs)) << "case " << i;
    }
    EXPECT_EQ(askGetUser(), ok("<response>al</response>\n"));
}

TEST_F(FastCgiStallTest, KeptConnectionCarriesRequestAfterRequest) {
    // Between its requests a kept connection waits without its thread: the
    // others are answered meanwhile, and its next request is too. What the
    // gateway left unread of a request (the body of a GET, sent after the
    // answer here) comes before the next one. No thread is read as one.
    startGateway({{"CORVANE_FASTCGI_THREADS", "0"}});
    FastCgiClient kept(gateway_->socket());
    std::string out;
    for (const std::string unread : {"", "ignored"}) {
        ASSERT_TRUE(kept.begin(getUser(), true) && kept.readAnswer(&out, kGuardMs)) << unread;
        EXPECT_EQ(out, ok("<response>al</response>\n"));
        ASSERT_TRUE(kept.sendBody(unread) && (unread.empty() || kept.sendBody("")));
        EXPECT_EQ(askGetUser(), ok("<response>al</response>\n"));
    }
    EXPECT_NE(gateway_->ask(fastCgiGet("mode=status", "al", {{"CORVANE_STATUS_USERS", "al"}}), "", kGuardMs)
                  .find("<threads><idle>0</idle><busy>1</busy>"),
              std::string::npos);
    // A last request without keeping it, in one piece with 100 kB of body
    // left unread before it: the gateway closes it after.
    ASSERT_TRUE(kept.begin(getUser(), true) && kept.readAnswer(&out, kGuardMs));
    const std::string body(100000, 'x');
    ASSERT_TRUE(kept.sendRaw(FastCgiClient::record(kStdin, 1, body.substr(0, 0xffff)) +
                             FastCgiClient::record(kStdin, 1, body.substr(0xffff)) +
                             FastCgiClient::record(kStdin, 1, "") + wholeGetUser()));
    ASSERT_TRUE(kept.sendBody("") && kept.readAnswer(&out, kGuardMs));
    EXPECT_EQ(out, ok("<response>al</response>\n"));
    EXPECT_TRUE(kept.closedWithin(kGuardMs));
}

TEST_F(FastCgiStallTest, StopWaitsForStalledConnectionsNoLongerThanTheirTime) {
    // A stop gives a connection it took the rest of its time to send its
    // request, and no more.
    startGateway({{"CORVANE_BODY_TIMEOUT", "1000"}});
    const auto stalled = stall(8);
    EXPECT_EQ(askGetUser(), ok("<response>al</response>\n"));
    ASSERT_EQ(::kill(gateway_->pid(), SIGTERM), 0);
    EXPECT_TRUE(CorvaneTest::eventually([&] { return !gateway_->alive(); }, kGuardMs));
    for (const auto& client : stalled)
        EXPECT_TRUE(client->closedWithin(kGuardMs));
    gateway_.reset();
}

}  // namespace
