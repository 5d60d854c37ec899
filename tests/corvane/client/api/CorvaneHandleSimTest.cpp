// The public handles against a real corvane-sim process on loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/network/CoNetwork.h"
#include "base/time/CoClock.h"
#include "client/api/CorvaneBaseClientAPI.h"
#include "client/api/CorvaneClipFormat.h"
#include "client/api/CorvaneConnectionTable.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneInit.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneServerHandle.h"
#include "client/api/CorvaneStrList.h"
#include "common/base/fileUtil/FreshProcess.h"
#include "support/SimProcess.h"

namespace {

using CorvaneTest::SimProcess;

const char kTree[] =
    "node / FOLDER Root\n"
    "meta / info <info/>\n"
    "node /media FOLDER Media\n"
    "node /media/clip CLIP Clip One\n"
    "format /media/clip 1920 1080 24 3 6220800 1 25 rgb 4 none\n"
    "frames /media/clip 3\n"
    "meta /media/clip info <clip/>\n"
    "node \"/media/two words\" FOLDER Two words\n"
    "node /scratch FOLDER Scratch\n"
    "group studio 1 edit1 edit2\n"
    "hosttrans edit1 /mnt/media edit2 /Volumes/media\n"
    "ostrans Linux /mnt/media WindowsNT M:\n";

class CorvaneHandleSimTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(corvaneInit()); }
    void TearDown() override { corvaneUninit(); }
};

TEST_F(CorvaneHandleSimTest, NodeAndServerOperationsRoundTrip) {
    SimProcess sim(kTree, {"--display-name", "Sim One", "--database", "DB1"});
    CorvaneServerHandle server(sim.host().c_str());
    CorvaneNodeHandle media(server, "/media");

    CorvaneNodeHandle root, parent;
    CorvaneStr text;
    ASSERT_TRUE(media.getRootNode(root)) << media.lastError();
    ASSERT_TRUE(media.getParentNode(parent));
    ASSERT_TRUE(media.getNodeTypeStr(text));
    EXPECT_EQ(std::string(root.getNodeId().getId()) + parent.getNodeId().getId() + text.c_str(), "//FOLDER");
    int streams = 0;
    EXPECT_TRUE(media.getNumMetaDataStreams(streams));
    // Operations that do not depend on the server's version do not ask for it.
    EXPECT_TRUE(sim.calls("GetDaemonInfo").empty());
    // Handles for one server share one connection, but not their last error.
    CorvaneServerHandle other(sim.host().c_str());
    CorvaneNodeHandle missing(other, "/missing");
    CorvaneClipFormat format;
    EXPECT_TRUE(other.ping() && !missing.getNodeTypeStr(text) && !missing.getClipFormat(format) &&
                !missing.getNumFrames(streams));
    EXPECT_EQ(corvaneSharedConnectionCount(), 1);
    EXPECT_STREQ(server.lastError(), "");
    EXPECT_NE(std::string(other.lastError()), "");

    CorvaneNodeHandle child, found;
    ASSERT_TRUE(media.getChild(1, child));
    EXPECT_STREQ(child.getNodeId().getId(), "/media/two words");
    EXPECT_FALSE(media.getChild(2, child));
    EXPECT_STREQ(media.lastError(), "Child node index out of range");
    ASSERT_TRUE(root.findNode("Media/Clip One", found)) << root.lastError();
    EXPECT_STREQ(found.getNodeId().getId(), "/media/clip");
    EXPECT_FALSE(root.findNode("Media/none", found));
    CorvaneFrameId frame;
    EXPECT_TRUE(found.getFrame(2, frame));
    EXPECT_FALSE(found.getFrame(3, frame));
    EXPECT_STREQ(found.lastError(), "Frame index out of range");
    // Changing the frames makes the handle read them again.
    std::vector<CorvaneFrameId> added;
    CorvaneStrList paths;
    paths.append("/m/a");
    paths.append("/m/b");
    int pathCount = 0;
    ASSERT_TRUE(found.allocateFrames(2, CorvaneClipFormat(), added) && found.getFrame(4, frame) &&
                found.getNumFramePaths(pathCount) && found.setFramePaths(paths, CorvaneClipFormat()) &&
                found.getNumFramePaths(pathCount) && found.getFramePath(0, text))
        << found.lastError();
    EXPECT_EQ(std::to_string(pathCount) + " " + text.c_str(), "2 /m/a");
    ASSERT_TRUE(found.setMetaData("notes", "line one\nline \"two\" \\ three\t."));
    ASSERT_TRUE(found.getMetaData("notes", "", 1, text));
    EXPECT_STREQ(text.c_str(), "line one\nline \"two\" \\ three\t.");

    CorvaneNodeHandle created;
    ASSERT_TRUE(media.createNode("New, one", "FOLDER", created)) << media.lastError();
    EXPECT_EQ(std::string(created.getNodeId().getId()).find(','), std::string::npos);
    ASSERT_TRUE(created.rename("Renamed"));
    ASSERT_TRUE(created.getDisplayName(text));
    EXPECT_STREQ(text.c_str(), "Renamed");
    ASSERT_TRUE(created.destroyNode()) << created.lastError();
    EXPECT_STREQ(created.getNodeId().getId(), "");

    int major = 0, minor = -1, count = 0;
    ASSERT_TRUE(server.getVersion(major, minor)) << server.lastError();
    EXPECT_EQ(std::to_string(major) + "." + std::to_string(minor), "2014.0");
    CorvaneDaemonInfo info;
    ASSERT_TRUE(server.getDaemonInfo(info));
    EXPECT_EQ(info.getNodePort(), sim.port());
    EXPECT_STREQ(info.getDatabase(), "DB1");
    ASSERT_TRUE(server.getDisplayName(text));
    EXPECT_STREQ(text.c_str(), "Sim One");
    ASSERT_TRUE(server.translatePath("/mnt/media/x", "edit1", "edit2", 0, 0, text)) << server.lastError();

    // The lists themselves are read in the base API's tests.
    CorvaneTranslationGroup group;
    CorvaneHostTranslation host;
    CorvaneOsTypeTranslation os;
    ASSERT_TRUE(server.getNumTranslationGroups(count) && server.getNumHostTranslations(count) &&
                server.getNumOsTypeTranslations(count));
    EXPECT_FALSE(server.getTranslationGroup(1, group));
    EXPECT_STREQ(server.lastError(), "Translation group index out of range");
    EXPECT_FALSE(server.getHostTranslation(-1, host));
    EXPECT_STREQ(server.lastError(), "Host Translation index out of range");
    EXPECT_FALSE(server.getOsTypeTranslation(count, os));
    EXPECT_STREQ(server.lastError(), "OS Type Translation index out of range");

    server.disconnect();
    EXPECT_FALSE(server.isConnected());
    EXPECT_TRUE(server.cancel(""));  // with no call running, nothing to end
    EXPECT_TRUE(server.ping(5000));  // reconnects
    EXPECT_TRUE(server.isConnected());
}

// One operation whose method depends on the server's version: method is
// its older form, method + "Ex" its newer one; refusal is what a server too
// old for it makes it answer (null: never refused).
struct GatedOperation {
    std::string method;
    const char* refusal;
    std::function<bool(CorvaneServerHandle&)> run;
};

TEST_F(CorvaneHandleSimTest, VersionGatesChooseTheMethodTheServerKnows) {
    const CorvaneClipFormat format;
    CorvaneStr text;
    int count = 0;
    CorvaneNodeHandle child;
    std::vector<CorvaneFrameId> frames;
    CorvaneStrList paths;
    paths.append("/mnt/media/a.dpx");
    using Server = CorvaneServerHandle&;
    auto clip = [](Server s) { return CorvaneNodeHandle(s, "/media/clip"); };
    auto scratch = [](Server s) { return CorvaneNodeHandle(s, "/scratch"); };
    const GatedOperation operations[] = {
        {"GetDisplayName", nullptr, [&](Server s) { return clip(s).getDisplayName(text); }},
        {"GetChildren", nullptr, [&](Server s) { return CorvaneNodeHandle(s, "/media").getNumChildren(count); }},
        {"CreateNode", nullptr, [&](Server s) { return scratch(s).createNode("c", 1, "", format, child); }},
        {"GetFrames", nullptr, [&](Server s) { return clip(s).getNumFrames(count); }},
        {"AllocateFrames", nullptr, [&](Server s) { return clip(s).allocateFrames(1, format, frames); }},
        {"GetFramePaths", nullptr, [&](Server s) { return clip(s).getNumFramePaths(count); }},
        {"SetFramePaths", "Server does not support linking to existing media files.",
         [&](Server s) { return clip(s).setFramePaths(paths, format); }},
        {"SetMetaData", "Functionality not supported on remote Corvane server.",
         [&](Server s) { return scratch(s).setMetaData("s", "x"); }},
        {"GetStreamId", nullptr, [&](Server s) { return clip(s).getStreamId(text); }},
        {"GetNbReadAheads", nullptr, [&](Server s) { return clip(s).getNbReadAheads(count); }},
    };
    // One letter per operation, in the order above: E the newer method, O
    // the older one, - no call, R refused without a call.
    const struct {
        const char* version;
        const char* forms;
    } servers[] = {
        {"2.4.9.9", "OOOOO-RR--"},       {"2.5.0.0", "OOOOOORO--"},       {"2.6.0.0", "OOOOOOOO--"},
        {"2007.1.0.0", "OOOOOOOOO-"},    {"2010.1.1.0", "OOOOOOOOOO"},    {"2012.0.0.5133", "OOOOOOOOOO"},
        {"2012.0.0.5134", "EEEOOOOOOO"}, {"2012.1.1.5758", "EEEOOEEOOO"}, {"2013.1.0.6114", "EEEOOEEOOO"},
        {"2013.1.0.6115", "EEEEEEEOOO"},
    };
    for (const auto& server : servers) {
        SimProcess sim(kTree, {"--version", server.version});
        CorvaneServerHandle handle(sim.host().c_str());
        std::string forms, errors;
        for (const GatedOperation& op : operations) {
            const bool ok = op.run(handle);
            const bool newer = !sim.calls(op.method + "Ex").empty(), older = !sim.calls(op.method).empty();
            if (!ok && op.refusal && handle.lastError() == std::string(op.refusal) && !newer && !older)
                forms += 'R';
            else if (!ok)
                forms += '?', errors += op.method + ": " + handle.lastError() + "\n";
            else
                forms += newer ? (older ? '2' : 'E') : (older ? 'O' : '-');
        }
        EXPECT_EQ(forms, server.forms) << server.version << "\n" << errors;
    }
}

// A handle copies the shared connection's daemon record while another
// handle's refresh rewrites it. One thread disconnects and refreshes, the
// other reads the record and purges the table; between phases the idle
// connection expires and the next phase makes a new one.
TEST_F(CorvaneHandleSimTest, DaemonInfoRaceBetweenHandlesOfOneServer) {
    SimProcess sim(kTree);
    // Idle connections expire at once.
    corvaneUninit();
    corvaneCreateConnectionTable(4, 0);
    ASSERT_TRUE(corvaneInit());
    const std::string host = sim.host();
    constexpr int kPhases = 4, kRefreshes = 10, kReads = 5000;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    auto inTime = [&] { return std::chrono::steady_clock::now() < deadline; };
    int refreshed = 0;
    for (int phase = 0; phase < kPhases; ++phase) {
        std::atomic<bool> done{false};
        std::thread refresher([&] {
            CorvaneServerHandle a(host.c_str());
            for (int i = 0; i < kRefreshes && inTime(); ++i) {
                a.disconnect();
                int major = 0, minor = 0;
                refreshed += a.ping(5000) && a.getVersion(major, minor) ? 1 : 0;
            }
            done = true;
        });
        {
            CorvaneServerHandle b(host.c_str());
            for (int i = 0; i < kReads && !done && inTime(); ++i) {
                int major = 0, minor = 0;
                b.getVersion(major, minor);  // may fail: the other thread cuts its calls off
                if (i % 16 == 0)
                    corvanePurgeConnections(i % 32 == 0);
            }
        }
        refresher.join();
        corvanePurgeConnections(false);
        EXPECT_EQ(corvaneSharedConnectionCount(), 0) << "the idle connection outlived its time-out";
    }
    EXPECT_GT(refreshed, kPhases * kRefreshes / 2);
}

// The default server handle must not keep a reference into the connection
// table that corvaneUninit deletes.
TEST_F(CorvaneHandleSimTest, DefaultServerSurvivesUninitAndInit) {
    CorvaneServerHandle& server = CorvaneServerHandle::defaultServer();
    for (int round = 0; round < 2; ++round) {
        server.getServerId();  // takes a reference on its connection, calls nothing
        EXPECT_EQ(corvaneSharedConnectionCount(), 1) << "round " << round;
        corvaneUninit();
        EXPECT_FALSE(Corvane::CoNetwork::isInitialized());
        ASSERT_TRUE(corvaneInit());
    }
}

std::atomic<int64_t> gNowUs{0};

// CORVANE_SHARED_CONNECTIONS is read at program start, so the test runs in
// a child with one connection at most, idle for at most one second.
TEST_F(CorvaneHandleSimTest, SharedConnectionSettingLimitsCountAndIdleTime) {
    if (!CorvaneTest::inFreshProcess({{"CORVANE_SHARED_CONNECTIONS", "1"}}))
        return;
    gNowUs = Corvane::CoClock::wallUs();
    corvaneSetConnectionClock([] { return gNowUs.load(); });
    SimProcess one(kTree), two(kTree);
    {
        CorvaneServerHandle a(one.host().c_str()), b(two.host().c_str());
        ASSERT_TRUE(a.ping()) << a.lastError();
        EXPECT_FALSE(b.ping()) << "a second connection while the first is held";
        CorvaneNodeHandle node(b, "/"), root;
        EXPECT_FALSE(node.getRootNode(root));  // nor a node call on it
        int count = 0;
        CorvaneStr vendor;
        EXPECT_FALSE(b.getNumTranslationGroups(count) || b.getNumHostTranslations(count) ||
                     b.getNumOsTypeTranslations(count) || b.getNodePlugInVendor(vendor) ||
                     b.getDisplayName(vendor));  // nor server-wide reads
    }
    corvanePurgeConnections(false);
    EXPECT_EQ(corvaneSharedConnectionCount(), 1) << "expired before its idle second";
    gNowUs += 1000000;
    corvanePurgeConnections(false);
    EXPECT_EQ(corvaneSharedConnectionCount(), 0);
    corvaneSetConnectionClock(nullptr);
}

}  // namespace
