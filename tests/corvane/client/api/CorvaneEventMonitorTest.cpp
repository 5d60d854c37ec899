// Node events from a real corvane-sim through the event monitor.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "base/loggerBase/CoMsg.h"
#include "base/network/CoNetworkConfig.h"
#include "base/rcApi/rcAPI.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/rcApi/rcServerContext.h"
#include "client/api/CorvaneEventListener.h"
#include "client/api/CorvaneEventMonitor.h"
#include "client/api/CorvaneInit.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneServerHandle.h"
#include "support/LoopbackListener.h"
#include "support/MessageLog.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

namespace {

using CorvaneTest::SimProcess;

// Every handler call, as "name type node", in the order they came.
class EventLog {
public:
    // A handler that logs its calls under its name.
    struct Recorder : CorvaneNodeEvent::Handler {
        Recorder(const char* name, EventLog& log) : name(name), log(log) {}
        void handleEvent(const CorvaneNodeEvent& event) override {
            CorvaneStr node;
            event.getDetails().getStringAttribute("Node", node);
            std::lock_guard<std::mutex> guard(log.mutex_);
            log.lines_.push_back(name + " " + event.getType() + " " + node.c_str());
            log.cv_.notify_all();
        }
        const std::string name;
        EventLog& log;
    };

    // The first n lines, once they are there (fewer after the hang guard).
    std::vector<std::string> first(size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_for(lock, std::chrono::seconds(10), [&] { return lines_.size() >= n; });
        return std::vector<std::string>(lines_.begin(), lines_.begin() + std::min(n, lines_.size()));
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> lines_;
};

// The registration calls the sim received, in order, as "method subject".
std::vector<std::string> eventCalls(const SimProcess& sim) {
    std::vector<std::string> found;
    for (const std::string& call : sim.calls()) {
        const size_t blank = call.find(' ');
        const std::string method = call.substr(0, blank);
        if (method != "RegisterEvents" && method != "UnregisterEvents")
            continue;
        std::string subject;
        Corvane::rcAttrStream(call.substr(blank + 1)).getValue("Subject", subject);
        found.push_back(method + " " + subject);
    }
    return found;
}

class CorvaneEventMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(corvaneInit());
        Corvane::CoMsg::setLevel(Corvane::CoMsg::warning);  // corvaneInit kept user messages only
    }
    void TearDown() override {
        corvaneUninit();
        EXPECT_EQ(0u, messages_->find("register connection '").size());  // "Could not (un)register ..."
    }

    CorvaneTest::MessageLog::Scope messages_;
    EventLog log_;
    EventLog::Recorder a_{"a", log_};
    EventLog::Recorder b_{"b", log_};
};

TEST_F(CorvaneEventMonitorTest, HandlersShareOneRegistrationAndBadInputStopsNoOtherEvent) {
    SimProcess sim(SimProcess::demoTree(), {"--no-discovery"});
    CorvaneServerHandle server(sim.host().c_str());
    ASSERT_TRUE(server.registerEventHandler("/media", &a_)) << server.lastError();
    ASSERT_TRUE(server.registerEventHandler("/media", &b_));
    // One registration, and the connection number the sim was asked to send events to.
    const std::vector<std::string> registered = sim.calls("RegisterEvents");
    ASSERT_EQ(registered.size(), 1u);
    int connection = 0;
    Corvane::rcAttrStream(registered[0].substr(registered[0].find(' ') + 1)).getIntValue("Connection", connection);
    const int port = CorvaneEventMonitor::instance().boundPort();
    Corvane::rcAPI api;
    ASSERT_TRUE(api.connect("127.0.0.1", port, 5000)) << api.lastError();

    Corvane::rcAttrStream details;
    details.addStringValue("Node", "/media/z");
    const std::string id = "NodeId 6 /media", type = "Type 4 Made",
                      whole = "Details " + std::to_string(details.str().size()) + " " + details.str();
    const struct {
        std::string payload;
        int object;
        const char* error;
    } cases[] = {
        {type + whole, connection, "Missing 'NodeId' parameter"},
        {id + whole, connection, "Missing 'Type' parameter"},
        {id + type, connection, "Missing 'Details' parameter"},
        {id + type + whole, 0, "Invalid Object: 0"},
        {id + type + whole, connection + 1000, "Invalid Object: "},
    };
    std::string result;
    for (const auto& c : cases) {
        EXPECT_FALSE(api.call(c.object, "NodeEvent", c.payload.c_str(), true, result, 5000)) << c.payload;
        EXPECT_EQ(result.compare(0, std::strlen(c.error), c.error), 0) << c.payload << ": " << result;
    }

    CorvaneTest::ScopedFd garbage = CorvaneTest::connectLoopback(port);
    CorvaneTest::ScopedFd unfinished = CorvaneTest::connectLoopback(port);
    CorvaneTest::ScopedFd endless = CorvaneTest::connectLoopback(port);
    ASSERT_TRUE(CorvaneTest::sendAll(garbage.get(), std::string("\x01\xff garbage\n\n sync x\n", 20)));
    ASSERT_TRUE(CorvaneTest::sendAll(unfinished.get(), "sync 1 NodeEvent 6 NodeId"));
    // A line past the bound ends its client, and only it.
    const std::string chunk(64 * 1024, 'x');
    bool dropped = false;
    for (size_t sent = 0; sent <= CorvaneEventMonitor::kMaxLineBytes + chunk.size() && !dropped; sent += chunk.size())
        dropped = !CorvaneTest::sendAll(endless.get(), chunk, 2000);
    EXPECT_EQ(CorvaneTest::recvUpTo(endless.get(), 1, 5000), "") << "the endless line was kept";
    // A whole payload still reaches the handlers, and is the first one to.
    ASSERT_TRUE(api.call(connection, "NodeEvent", (id + type + whole).c_str(), true, result, 5000)) << result;
    CorvaneNodeHandle media(server, "/media"), child;
    ASSERT_TRUE(media.createNode("Child", "FOLDER", child)) << media.lastError();
    EXPECT_EQ(log_.first(4), (std::vector<std::string>{"a Made /media/z", "b Made /media/z",
                                                       "a NodeCreated /media/Child", "b NodeCreated /media/Child"}));
    ASSERT_TRUE(server.unregisterEventHandler("/media", &a_));
    // The first connection cleared what the server might hold for the link.
    EXPECT_EQ(eventCalls(sim), (std::vector<std::string>{"UnregisterEvents ", "RegisterEvents /media"}));
    ASSERT_TRUE(child.rename("Renamed"));
    EXPECT_EQ(log_.first(5).back(), "b NodeRenamed /media/Child");
    ASSERT_TRUE(server.unregisterEventHandler("/media", &b_));
    EXPECT_EQ(eventCalls(sim).back(), "UnregisterEvents /media");
    EXPECT_FALSE(server.unregisterEventHandler("/media", &b_));
}

// After a reconnection the server is first told to drop everything of the
// link, also when no node has handlers: it may still hold a registration the
// client gave up on. A refusal is posted and the nodes are registered anyway.
// A link goes with the handle that made it: the connection the handles share
// does not call it again.
TEST_F(CorvaneEventMonitorTest, ReconnectionUnregistersTheLinkFirst) {
    enum class Link { Kept, Dropped, Refused, HandleGone };  // what became of the one handler
    const struct {
        Link link;
        const char* failUnregister;  // the sim's refusal of "UnregisterEvents"; null: none
        std::vector<std::string> calls;
    } cases[] = {
        {Link::Kept, nullptr, {"UnregisterEvents ", "RegisterEvents /media"}},
        {Link::Dropped, nullptr, {"UnregisterEvents "}},
        {Link::Refused, "Not now", {"UnregisterEvents "}},
        {Link::Kept, "Not now", {"UnregisterEvents ", "RegisterEvents /media"}},
        {Link::HandleGone, nullptr, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> options = {"--no-discovery"};
        if (c.link == Link::Refused)
            options.insert(options.end(), {"--fail-method", "RegisterEvents:No"});
        if (c.failUnregister)
            options.insert(options.end(), {"--fail-method", std::string("UnregisterEvents:") + c.failUnregister});
        SimProcess sim(SimProcess::demoTree(), options);
        CorvaneServerHandle server(sim.host().c_str());
        ASSERT_TRUE(server.ping()) << server.lastError();
        {
            CorvaneServerHandle other(sim.host().c_str());
            CorvaneServerHandle& registering = c.link == Link::HandleGone ? other : server;
            ASSERT_EQ(registering.registerEventHandler("/media", &a_), c.link != Link::Refused)
                << registering.lastError();
        }
        if (c.link == Link::Dropped) {
            ASSERT_TRUE(server.unregisterEventHandler("/media", &a_)) << server.lastError();
        }
        server.disconnect();
        sim.clearCalls();
        messages_->clear();
        ASSERT_TRUE(server.ping()) << server.lastError();  // reconnects
        const std::string label = std::to_string(static_cast<int>(c.link)) + (c.failUnregister ? " failing" : "");
        EXPECT_EQ(eventCalls(sim), c.calls) << label;
        EXPECT_EQ(messages_->texts(Corvane::CoMsg::error),
                  c.failUnregister ? std::vector<std::string>{c.failUnregister} : std::vector<std::string>())
            << label;
    }
}

TEST_F(CorvaneEventMonitorTest, ListensOnTheMetadataInterfacesOnly) {
    // Servers reach the event listener only on the interfaces the network file gives for metadata.
    CorvaneTest::TempDir dir;
    Corvane::CoNetworkConfig::setFileNameForTesting(dir.write("network.cfg", "[Interfaces]\nMetadata = lo\n"));
    const std::vector<std::string> addresses = CorvaneEventMonitor::metadataAddresses();
    Corvane::CoNetworkConfig::setFileNameForTesting(dir.file("none.cfg"));
    EXPECT_TRUE(CorvaneEventMonitor::metadataAddresses().empty());
    ASSERT_FALSE(addresses.empty());
    EXPECT_EQ(addresses[0], "127.0.0.1");

    Corvane::rcServerContext server(-1);
    int port = -1;
    const auto listeners = CorvaneEventListener::openAll(server, {"127.0.0.1"}, &port);
    ASSERT_EQ(listeners.size(), 1u);
    // 127.0.0.2 is this host too, but not an address listened on.
    Corvane::rcAPI other;
    EXPECT_FALSE(other.connect("127.0.0.2", port, 2000));
    EXPECT_TRUE(CorvaneTest::connectLoopback(port).valid());
}

}  // namespace
