// Live-update streams of one FastCGI gateway process against corvane-sim:
// what a change made through another connection sends, how streams share
// one registration per watched node and give it back, how the bounds
// refuse, how a reader that stops reading is dropped without holding the
// others, and how a restarted server is registered with again.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FastCgiGateway.h"
#include "GatewayFixture.h"
#include "base/rcApi/rcAPI.h"
#include "base/rcApi/rcAttrStream.h"
#include "support/Eventually.h"
#include "support/FastCgiClient.h"
#include "support/LoopbackListener.h"
#include "support/SimProcess.h"

namespace {

using CorvaneTest::FastCgiClient;
using CorvaneTest::SimProcess;
using Variables = std::map<std::string, std::string>;

// Guards against hangs only: an event reaches a stream in milliseconds.
constexpr int kGuardMs = 15000;

const char kStreamHeader[] =
    "Content-Type: text/event-stream\n"
    "Cache-Control: no-store\n"
    "X-Accel-Buffering: no\n"
    "X-Content-Type-Options: nosniff\n\n"
    ":\n\n";

class WatchStreamTest : public FastCgiFixture {
protected:
    void SetUp() override {
        sim_ = std::make_unique<SimProcess>(SimProcess::demoTree());
        ASSERT_TRUE(sim_->started());
        startGateway();
    }

    // A stream of user's watching nodes on the sim, its header read; on a
    // connection the web server asked to keep, when keep. retry: until a
    // place is free, which comes back once the process sees another end.
    std::unique_ptr<FastCgiClient> watch(const std::string& nodes, const std::string& user = "al",
                                         const Variables& more = {}, bool keep = false, bool retry = false) {
        std::unique_ptr<FastCgiClient> client;
        std::string out;
        const auto open = [&] {
            client = std::make_unique<FastCgiClient>(gateway_->socket());
            out.clear();
            return client->begin(fastCgiGet("mode=watch&host=" + sim_->host() + "&nodeId=" + nodes, user, more),
                                 keep) &&
                   client->sendBody("") && client->readUntil(kStreamHeader, &out, kGuardMs);
        };
        EXPECT_TRUE(retry ? CorvaneTest::eventually(open, kGuardMs) : open()) << out;
        EXPECT_EQ(out, kStreamHeader);
        return client;
    }
    // A change through a connection of its own, as another user's page makes
    // it; the answer's body.
    std::string change(const std::string& body) {
        const std::string answer = gateway_->ask(fastCgiPost(body.size(), {{"REMOTE_USER", "bo"}}), body, kGuardMs);
        return answer.compare(0, strlen(kHeader), kHeader) == 0 ? answer.substr(strlen(kHeader)) : answer;
    }
    void setMetadata(const std::string& node, const std::string& stream) {
        ASSERT_EQ(change("mode=setMetadata&host=" + sim_->host() + "&nodeId=" + encode(node) +
                         "&streamName=" + encode(stream) + "&corvaneMetadata=v"),
                  "<response></response>\n");
    }

    // The nodes the sim was told to forget, one by one (a new connection
    // forgets all of its number at once, which does not count).
    size_t released() const {
        size_t count = 0;
        for (const std::string& call : sim_->calls("UnregisterEvents")) {
            std::string subject;
            count += Corvane::rcAttrStream(call.substr(strlen("UnregisterEvents "))).getValue("Subject", subject) &&
                     !subject.empty();
        }
        return count;
    }

    std::unique_ptr<SimProcess> sim_;
};

TEST_F(WatchStreamTest, ChangeArrivesEscapedAtEveryStreamOfOneSharedRegistration) {
    auto first = watch("/scratch", "al");
    // A kept connection belongs to its stream, not to the next request.
    auto second = watch("/scratch,/media", "cy", {}, true);
    EXPECT_EQ(sim_->calls("RegisterEvents").size(), 2u) << "one registration per watched node";
    const auto streams = [&] {
        const std::string status =
            gateway_->ask(fastCgiGet("mode=status", "al", {{"CORVANE_STATUS_USERS", "al"}}), "", kGuardMs);
        const size_t at = status.find("<streams>");
        return at == std::string::npos ? std::string("none") : status.substr(at + 9, status.find('<', at + 9) - at - 9);
    };
    EXPECT_EQ(streams(), "2");

    // What another user named goes out escaped.
    setMetadata("/scratch", "s<&'>");
    const std::string expected = "id: 1\nevent: MetaDataChanged\ndata: <event><host>" + sim_->host() +
                                 "</host><nodeId>/scratch</nodeId><type>MetaDataChanged</type><details>"
                                 "<entry name=\"Node\">/scratch</entry><entry name=\"Time\">";
    const std::string stored = "<entry name=\"Stream\">s&lt;&amp;&apos;&gt;</entry></details></event>\n\n";
    for (FastCgiClient* client : {first.get(), second.get()}) {
        std::string out;
        ASSERT_TRUE(client->readUntil("</event>\n\n", &out, kGuardMs)) << out;
        EXPECT_EQ(out.compare(0, expected.size(), expected), 0) << out;
        EXPECT_NE(out.find(stored), std::string::npos) << out;
    }
    // Between events the process sleeps.
    const double cpu = gateway_->cpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(gateway_->cpuSeconds() - cpu, 0.25) << "it spins";

    setMetadata("/media/clip", "s");
    std::string out;
    ASSERT_TRUE(second->readUntil("</event>\n\n", &out, kGuardMs)) << out;
    EXPECT_EQ(
        out.rfind(
            "id: 2\nevent: MetaDataChanged\ndata: <event><host>" + sim_->host() + "</host><nodeId>/media</nodeId>", 0),
        0u)
        << out;

    // A web server that drops its connection ends that stream alone: the
    // node only it watched is released, the server's other one still sends.
    // The close is seen as it comes, not at the stream's next comment.
    second.reset();
    EXPECT_TRUE(CorvaneTest::eventually([&] { return released() == 1; }, 5000));
    setMetadata("/scratch", "s");
    ASSERT_TRUE(first->readUntil("id: 2\nevent: MetaDataChanged", &out, kGuardMs)) << out;

    // The last stream gone, the server is told to forget its last node, and
    // the connection goes, forgetting all at once as it did on coming; all
    // of it at once, not at the registry's next probe.
    // A watch that fails keeps no hold on the connection.
    EXPECT_EQ(gateway_->ask(fastCgiGet("mode=watch&host=" + sim_->host() + "&nodeId=/none")),
              error("Node &apos;/none&apos; does not exist"));
    first.reset();
    EXPECT_TRUE(CorvaneTest::eventually([&] { return sim_->calls("UnregisterEvents").size() == 4; }, 1000));
    EXPECT_EQ(released(), 2u);
    EXPECT_EQ(streams(), "0");
    sim_->clearCalls();
    auto again = watch("/scratch", "al");
    EXPECT_EQ(sim_->calls("RegisterEvents").size(), 1u) << "a new stream registers anew";
}

// A stream's request is logged once its connection went to the stream:
// its settings (the request's, then the process's) and its log line must
// outlive what libfcgi held of it. One thread serves, so that the change
// waits for that log: a process that failed on it answers nothing.
TEST_F(WatchStreamTest, StreamWhoseRequestIsLoggedKeepsCarryingEvents) {
    startGateway({{"CORVANE_ACCESS_LOG", "1"}, {"CORVANE_FASTCGI_THREADS", "1"}});
    auto stream = watch("/scratch", "al", {{"CORVANE_ACCESS_LOG", "1"}});
    setMetadata("/scratch", "s");
    std::string out;
    EXPECT_TRUE(stream->readUntil("<nodeId>/scratch</nodeId><type>MetaDataChanged</type>", &out, kGuardMs)) << out;
}

TEST_F(WatchStreamTest, ForgedEventStaysInsideItsDataLine) {
    // Anyone who reaches the process's event port can send it events: what
    // they carry must not end the data line, nor the block, early.
    auto stream = watch("/scratch");
    const std::vector<std::string> registered = sim_->calls("RegisterEvents");
    ASSERT_EQ(registered.size(), 1u);
    const Corvane::rcAttrStream registration(registered[0].substr(strlen("RegisterEvents ")));
    int port = 0, connection = 0;
    ASSERT_TRUE(registration.getIntValue("Port", port) && registration.getIntValue("Connection", connection))
        << registered[0];
    // Names and values as the wire carries them: "name length value".
    const std::string name = "Node\n\ndata:x", value = "<a href=\"&\">'\r\nid: 7\n\n";
    Corvane::rcAttrStream payload;
    const std::string details = name + " " + std::to_string(value.size()) + " " + value;
    payload.addStringValue("NodeId", "/scratch");
    payload.addStringValue("Type", "Renamed\nevent: x");
    payload.addStringValue("Details", details);
    Corvane::rcAPI forger;
    std::string result;
    ASSERT_TRUE(forger.connect("127.0.0.1", port, kGuardMs));
    ASSERT_TRUE(forger.call(connection, "NodeEvent", payload.c_str(), true, result, kGuardMs)) << result;
    std::string out;
    ASSERT_TRUE(stream->readUntil("</event>\n\n", &out, kGuardMs)) << out;
    EXPECT_EQ(out, "id: 1\nevent: event\ndata: <event><host>" + sim_->host() +
                       "</host><nodeId>/scratch</nodeId><type>Renamed&#10;event: x</type><details>"
                       "<entry name=\"Node&#10;&#10;data:x\">&lt;a href=&quot;&amp;&quot;&gt;&apos;&#13;&#10;id: "
                       "7&#10;&#10;</entry></details></event>\n\n");
}

TEST_F(WatchStreamTest, BoundsAndRulesRefuseAsEveryModeDoes) {
    const std::string sim = "host=" + sim_->host();
    std::string nodes = "/";
    for (int i = 0; i < 64; ++i)
        nodes += ",/";
    // A registration slower than the browse limit is stopped.
    SimProcess slow(SimProcess::demoTree(), {"--delay-method", "RegisterEvents:5000"});
    // Never answers a login: the request's login bound holds past the
    // library's default of 5 s, until the browse limit.
    CorvaneTest::LoopbackListener silent;
    struct Case {
        Variables request;
        std::string answer;
    } cases[] = {
        {fastCgiGet("mode=watch&" + sim + "&nodeId=/", "al", {{"CORVANE_MAX_WATCH_NODES", "0"}}),
         error("Too many nodes to watch in one stream (1, at most 0)")},
        {fastCgiGet("mode=watch&" + sim + "&nodeId=" + nodes),
         error("Too many nodes to watch in one stream (65, at most 64)")},
        // Every host is admitted before any is asked.
        {fastCgiGet("mode=watch&host=10.1.1.1," + sim_->host() + "&nodeId=/,/", "al",
                    {{"CORVANE_ALLOWED_SERVERS", "10.1.1.1"}}),
         error("Corvane server &apos;" + sim_->host() + "&apos; is not allowed")},
        {fastCgiGet("mode=watch&" + sim + "&nodeId=/", ""),
         "Status: 401 Unauthorized\n" + error("No authenticated user")},
        {fastCgiGet("mode=watch&nodeId=/"), error("Corvane server not specified")},
        {fastCgiGet("mode=watch&" + sim), error("Node ID not specified")},
        {fastCgiGet("mode=watch&" + sim + "&nodeId=/", "al", {{"CORVANE_REQUEST_TIMEOUT", "0"}}),
         error("Request took longer than 0 ms")},
        {fastCgiGet("mode=watch&host=" + slow.host() + "&nodeId=/", "al", {{"XQ_CVC_BROWSE_TIMEOUT", "1000"}}),
         error("Software caused connection abort")},
        {fastCgiGet("mode=watch&host=127.0.0.1:" + std::to_string(silent.port()) + "&nodeId=/", "al",
                    {{"CORVANE_LOGIN_TIMEOUT", "60000"}, {"XQ_CVC_BROWSE_TIMEOUT", "5500"}}),
         error("Software caused connection abort")},
        {fastCgiGet("mode=watch&" + sim + "," + sim_->host() + "&nodeId=/"),
         error("Specify same number of hosts and nodes or one host for all nodes")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(gateway_->ask(c.request, "", kGuardMs), c.answer);
    Variables head = fastCgiGet("mode=watch&" + sim + "&nodeId=/");
    head["REQUEST_METHOD"] = "HEAD";
    EXPECT_EQ(gateway_->ask(head, "", kGuardMs), kStreamHeader) << "a HEAD request ends with its header";

    // One user may not hold every stream of the process; a stream that
    // ends gives its place back.
    const Variables bounds{{"CORVANE_MAX_WATCHERS", "2"}, {"CORVANE_MAX_USER_WATCHERS", "1"}};
    EXPECT_EQ(gateway_->ask(fastCgiGet("mode=watch&" + sim + "&nodeId=/,/none", "al", bounds)),
              error("Node &apos;/none&apos; does not exist"))
        << "a stream that fails holds no place";
    auto held = watch("/", "al", bounds);
    const std::string crowded = "Status: 503 Service Unavailable\nRetry-After: 1\n";
    // A refusal leaves the user's count as it was; unset, a user's bound is
    // a quarter of the process's, at least 1.
    for (const Variables& b : {bounds, Variables{{"CORVANE_MAX_WATCHERS", "4"}}})
        EXPECT_EQ(gateway_->ask(fastCgiGet("mode=watch&" + sim + "&nodeId=/", "al", b)),
                  crowded + error("Too many live update streams for user &apos;al&apos; (at most 1)"));
    auto other = watch("/", "bo", bounds);
    EXPECT_EQ(gateway_->ask(fastCgiGet("mode=watch&" + sim + "&nodeId=/", "cy", bounds)),
              crowded + error("Too many live update streams (at most 2)"));
    // Each counts as refused, as a crowded request of any mode does.
    EXPECT_NE(gateway_->ask(fastCgiGet("mode=status", "ops", {{"CORVANE_STATUS_USERS", "ops"}}))
                  .find("<outcome name=\"refused503\">3</outcome>"),
              std::string::npos);
    // A stream that ends (its lifetime, here) sends its end records.
    auto brief = watch("/", "cy", {{"CORVANE_WATCH_SECONDS", "1"}});
    std::string out;
    EXPECT_FALSE(brief->readUntil("never sent", &out, kGuardMs));
    EXPECT_TRUE(brief->ended()) << out;
    EXPECT_TRUE(brief->closedWithin(1000)) << "our side ends with the end records, not at the close wait";
    held.reset();
    brief.reset();
    watch("/", "al", bounds, false, true);
}

TEST_F(WatchStreamTest, StalledReaderIsDroppedWhileAnotherKeepsReceiving) {
    auto stalled = watch("/scratch", "al");
    auto reading = watch("/scratch", "bo");
    // Each event names a node of 160 kB, more than the kernel takes at
    // once, so that every one goes out in parts as its reader makes room;
    // 10 of them are more than the process and the kernel hold for a
    // reader that reads nothing.
    const std::string name(160 * 1024, 'n');
    for (int events = 0; events < 10; ++events) {
        ASSERT_NE(change("mode=createNode&host=" + sim_->host() + "&nodeId=/scratch&type=FOLDER&displayName=" + name +
                         std::to_string(events)),
                  "");
        std::string out;
        ASSERT_TRUE(reading->readUntil("id: " + std::to_string(events + 1) + "\n", &out, kGuardMs))
            << "event " << events << " held up by the stalled stream";
        ASSERT_TRUE(reading->readUntil("</event>\n\n", &out, kGuardMs));
        ASSERT_GT(out.size(), name.size());
    }
    EXPECT_TRUE(stalled->closedWithin(kGuardMs)) << "the stalled stream is still open";
}

TEST_F(WatchStreamTest, RegistersAgainWithARestartedServer) {
    auto stream = watch("/scratch");
    const int port = sim_->port();
    sim_.reset();
    sim_ = std::make_unique<SimProcess>(SimProcess::demoTree(), std::vector<std::string>{}, port);
    ASSERT_TRUE(sim_->started());
    EXPECT_TRUE(CorvaneTest::eventually([&] { return !sim_->calls("RegisterEvents").empty(); }, kGuardMs));
    setMetadata("/scratch", "s");
    std::string out;
    EXPECT_TRUE(stream->readUntil("<nodeId>/scratch</nodeId><type>MetaDataChanged</type>", &out, kGuardMs)) << out;
}

TEST_F(WatchStreamTest, StopEndsEveryStreamAndTheProcessAtOnce) {
    // Streams never end by themselves within a stop's wait: the process
    // ends them, each with its end records, and goes. A reader still behind
    // by more than the kernel holds, and not reading for a moment, gets the
    // stop's wait (a second) to take the rest.
    auto stream = watch("/scratch");
    auto idle = watch("/media");
    for (const char* name : {"a", "b"})
        ASSERT_NE(change("mode=createNode&host=" + sim_->host() + "&nodeId=/scratch&type=FOLDER&displayName=" + name +
                         std::string(160 * 1024, 'n')),
                  "");
    std::string out;
    ASSERT_TRUE(stream->readUntil("id: 1\n", &out, kGuardMs));
    ASSERT_EQ(::kill(gateway_->pid(), SIGTERM), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // Nothing but the stop wakes the hub for a stream with nothing to send.
    std::string idleOut;
    EXPECT_FALSE(idle->readUntil("never sent", &idleOut, 5000));
    EXPECT_TRUE(idle->ended()) << idleOut;
    EXPECT_FALSE(stream->readUntil("never sent", &out, kGuardMs));
    EXPECT_TRUE(stream->ended()) << out;
    EXPECT_TRUE(CorvaneTest::eventually([&] { return !gateway_->alive(); }, kGuardMs));
    EXPECT_EQ(gateway_->stop(), 0) << "the process ends as a stop ends it, with status 0";
    gateway_.reset();
    EXPECT_EQ(released(), 2u);
}

}  // namespace

// Under CGI a stream has no process to live in.
TEST_F(GatewayFixture, WatchNeedsTheFastCgiGateway) {
    EXPECT_EQ(get("mode=watch&host=h&nodeId=/").out, error("Live updates need the FastCGI gateway"));
}
