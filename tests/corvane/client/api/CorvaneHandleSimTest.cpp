// The public handles against a real corvane-sim process on loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "base/rcApi/rcAttrStream.h"
#include "client/api/CorvaneBaseClientAPI.h"
#include "client/api/CorvaneClipFormat.h"
#include "client/api/CorvaneConnectionTable.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneInit.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneServerHandle.h"
#include "client/api/CorvaneStrList.h"
#include "support/Process.h"
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

TEST_F(CorvaneHandleSimTest, NodeOperationsRoundTrip) {
    SimProcess sim(kTree);
    ASSERT_TRUE(sim.started());
    CorvaneServerHandle server(sim.host().c_str());
    CorvaneNodeHandle media(server, "/media");

    CorvaneNodeHandle root;
    ASSERT_TRUE(media.getRootNode(root)) << media.lastError();
    EXPECT_STREQ(root.getNodeId().getId(), "/");
    CorvaneNodeHandle parent;
    ASSERT_TRUE(media.getParentNode(parent));
    EXPECT_STREQ(parent.getNodeId().getId(), "/");

    CorvaneStr text;
    int number = -1;
    ASSERT_TRUE(media.getNodeTypeStr(text));
    EXPECT_STREQ(text.c_str(), "FOLDER");
    ASSERT_TRUE(media.getNodeType(number));
    ASSERT_TRUE(media.getDisplayName(text));
    EXPECT_STREQ(text.c_str(), "Media");

    int count = 0;
    ASSERT_TRUE(media.getNumChildren(count));
    EXPECT_EQ(count, 2);
    CorvaneNodeHandle child;
    ASSERT_TRUE(media.getChild(1, child));
    EXPECT_STREQ(child.getNodeId().getId(), "/media/two words");
    EXPECT_FALSE(media.getChild(2, child));
    EXPECT_STREQ(media.lastError(), "Child node index out of range");
    CorvaneNodeHandle found;
    ASSERT_TRUE(root.findNode("Media/Clip One", found)) << root.lastError();
    EXPECT_STREQ(found.getNodeId().getId(), "/media/clip");
    EXPECT_FALSE(root.findNode("Media/none", found));

    CorvaneClipFormat format;
    ASSERT_TRUE(found.getClipFormat(format)) << found.lastError();
    EXPECT_EQ(format.getWidth(), 1920);
    EXPECT_STREQ(format.getFormatTag(), "rgb");
    ASSERT_TRUE(found.getNumFrames(count));
    EXPECT_EQ(count, 3);
    CorvaneFrameId frame;
    EXPECT_TRUE(found.getFrame(2, frame));
    EXPECT_FALSE(found.getFrame(3, frame));
    EXPECT_STREQ(found.lastError(), "Frame index out of range");
    std::vector<CorvaneFrameId> added{CorvaneFrameId("kept")};
    ASSERT_TRUE(found.allocateFrames(2, format, added)) << found.lastError();
    EXPECT_EQ(added.size(), 3u);
    ASSERT_TRUE(found.getNumFrames(count));
    EXPECT_EQ(count, 5);
    ASSERT_TRUE(found.getNumFramePaths(count)) << found.lastError();
    CorvaneStrList paths;
    paths.append("/mnt/media/a.dpx");
    ASSERT_TRUE(found.setFramePaths(paths, format)) << found.lastError();
    ASSERT_TRUE(found.getNbReadAheads(count));
    ASSERT_TRUE(found.getStreamId(text)) << found.lastError();

    ASSERT_TRUE(found.getNumMetaDataStreams(count));
    EXPECT_EQ(count, 1);
    bool supported = false;
    ASSERT_TRUE(found.isMetaDataStreamSupported("info", supported));
    EXPECT_TRUE(supported);
    ASSERT_TRUE(found.setMetaData("notes", "line one\nline \"two\" \\ three\t."));
    ASSERT_TRUE(found.getMetaData("notes", "", 1, text));
    EXPECT_STREQ(text.c_str(), "line one\nline \"two\" \\ three\t.");

    CorvaneNodeHandle created;
    ASSERT_TRUE(media.createNode("New, one", "FOLDER", created)) << media.lastError();
    EXPECT_EQ(std::string(created.getNodeId().getId()).find(','), std::string::npos);
    ASSERT_TRUE(created.rename("Renamed"));
    ASSERT_TRUE(created.getDisplayName(text));
    EXPECT_STREQ(text.c_str(), "Renamed");
    ASSERT_TRUE(media.getNumChildren(count));
    EXPECT_EQ(count, 3);
    ASSERT_TRUE(created.destroyNode()) << created.lastError();
    EXPECT_STREQ(created.getNodeId().getId(), "");
}

TEST_F(CorvaneHandleSimTest, ServerOperationsRoundTrip) {
    SimProcess sim(kTree, {"--display-name", "Sim One", "--database", "DB1"});
    CorvaneServerHandle server(sim.host().c_str());
    int major = 0, minor = 0;
    ASSERT_TRUE(server.getVersion(major, minor)) << server.lastError();
    EXPECT_EQ(major, 2014);
    CorvaneDaemonInfo info;
    ASSERT_TRUE(server.getDaemonInfo(info));
    EXPECT_EQ(info.getNodePort(), sim.port());
    EXPECT_STREQ(info.getDatabase(), "DB1");
    CorvaneStr text;
    ASSERT_TRUE(server.getDisplayName(text));
    EXPECT_STREQ(text.c_str(), "Sim One");
    ASSERT_TRUE(server.getStorageId(text));
    EXPECT_NE(server.getHostName(), nullptr);
    EXPECT_TRUE(server.ping(5000)) << server.lastError();
    EXPECT_TRUE(server.isConnected());

    ASSERT_TRUE(server.translatePath("/mnt/media/x", "edit1", "edit2", 0, 0, text)) << server.lastError();
    EXPECT_FALSE(server.translatePath("/x", "", "edit2", 0, 0, text));
    EXPECT_STREQ(server.lastError(), "Invalid source host name given");
    ASSERT_TRUE(server.getNodePlugInVersion(major, minor));
    ASSERT_TRUE(server.getNodePlugInProduct(text));

    int count = 0;
    CorvaneTranslationGroup group;
    ASSERT_TRUE(server.getNumTranslationGroups(count));
    ASSERT_EQ(count, 1);
    ASSERT_TRUE(server.getTranslationGroup(0, group));
    EXPECT_EQ(group.name, "studio");
    EXPECT_EQ(group.members, (std::vector<std::string>{"edit1", "edit2"}));
    EXPECT_FALSE(server.getTranslationGroup(1, group));
    EXPECT_STREQ(server.lastError(), "Translation group index out of range");
    CorvaneHostTranslation host;
    ASSERT_TRUE(server.getNumHostTranslations(count));
    ASSERT_TRUE(server.getHostTranslation(0, host));
    EXPECT_EQ(host.dstPath, "/Volumes/media");
    EXPECT_FALSE(server.getHostTranslation(-1, host));
    EXPECT_STREQ(server.lastError(), "Host Translation index out of range");
    CorvaneOsTypeTranslation os;
    ASSERT_TRUE(server.getNumOsTypeTranslations(count));
    EXPECT_FALSE(server.getOsTypeTranslation(count, os));
    EXPECT_STREQ(server.lastError(), "OS Type Translation index out of range");

    server.disconnect();
    EXPECT_FALSE(server.isConnected());
    EXPECT_TRUE(server.ping(5000));  // reconnects
}

TEST_F(CorvaneHandleSimTest, VersionGatesChooseTheMethodTheServerKnows) {
    const CorvaneClipFormat format;
    for (const char* version : {"2012.0.0.5133", "2012.0.0.5134"}) {
        SimProcess sim(kTree, {"--version", version});
        CorvaneServerHandle server(sim.host().c_str());
        CorvaneNodeHandle scratch(server, "/scratch");
        CorvaneNodeHandle child;
        ASSERT_TRUE(scratch.createNode("c", 1, "", format, child)) << scratch.lastError();
        const bool ex = std::string(version) == "2012.0.0.5134";
        EXPECT_EQ(sim.calls("CreateNodeEx").size(), ex ? 1u : 0u) << version;
        EXPECT_EQ(sim.calls("CreateNode").size(), ex ? 0u : 1u) << version;
    }
    {
        SimProcess sim(kTree, {"--version", "2.4.9.9"});
        CorvaneServerHandle server(sim.host().c_str());
        CorvaneNodeHandle node(server, "/scratch");
        EXPECT_FALSE(node.setMetaData("s", "x"));
        EXPECT_STREQ(node.lastError(), "Functionality not supported on remote Corvane server.");
        EXPECT_TRUE(sim.calls("SetMetaData").empty());
    }
    {
        SimProcess sim(kTree, {"--version", "2.5.0.0"});
        CorvaneServerHandle server(sim.host().c_str());
        CorvaneNodeHandle node(server, "/scratch");
        EXPECT_TRUE(node.setMetaData("s", "x")) << node.lastError();
        EXPECT_EQ(sim.calls("SetMetaData").size(), 1u);
    }
    {
        SimProcess sim(kTree, {"--version", "2009.1.0.0"});
        CorvaneServerHandle server(sim.host().c_str());
        CorvaneNodeHandle clip(server, "/media/clip");
        int readAheads = 0;
        ASSERT_TRUE(clip.getNbReadAheads(readAheads));
        EXPECT_EQ(readAheads, 2);
        EXPECT_TRUE(sim.calls("GetNbReadAheads").empty());
    }
}

TEST_F(CorvaneHandleSimTest, HandlesForOneServerShareOneConnection) {
    SimProcess one(kTree), two(kTree);
    const int before = corvaneSharedConnectionCount();
    {
        CorvaneServerHandle a(one.host().c_str()), b(one.host().c_str()), c(two.host().c_str());
        EXPECT_TRUE(a.ping() && b.ping() && c.ping());
        EXPECT_EQ(corvaneSharedConnectionCount(), before + 2);
        // Each handle keeps its own last error.
        CorvaneNodeHandle missing(a, "/missing"), present(b, "/media");
        CorvaneStr type;
        EXPECT_FALSE(missing.getNodeTypeStr(type));
        EXPECT_TRUE(present.getNodeTypeStr(type));
        EXPECT_STREQ(b.lastError(), "");
        EXPECT_NE(std::string(a.lastError()), "");
    }
    // Idle connections stay for the next handle until cleaned.
    EXPECT_EQ(corvaneSharedConnectionCount(), before + 2);
    corvanePurgeConnections(true);
    EXPECT_EQ(corvaneSharedConnectionCount(), 0);
}

TEST_F(CorvaneHandleSimTest, NextCallReconnectsAfterTheServerRestarts) {
    int port = 0;
    {
        SimProcess first(kTree);
        ASSERT_TRUE(first.started());
        port = first.port();
    }
    SimProcess first(kTree, {}, port);
    ASSERT_TRUE(first.started()) << "port " << port << " was taken again";
    CorvaneServerHandle server(first.host().c_str());
    ASSERT_TRUE(server.ping());
    first.stop();
    SimProcess second(kTree, {}, port);
    ASSERT_TRUE(second.started());
    // The first call may find the old connection dead; the next one reconnects.
    const bool firstTry = server.ping();
    EXPECT_TRUE(firstTry || server.ping()) << server.lastError();
    EXPECT_FALSE(second.calls("Ping").empty());
}

// Runs in a child process started with CORVANE_SHARED_CONNECTIONS=1: one
// connection at most, idle for at most one second.
TEST_F(CorvaneHandleSimTest, DISABLED_SharedConnectionSettingChild) {
    SimProcess one(kTree), two(kTree);
    {
        CorvaneServerHandle a(one.host().c_str());
        ASSERT_TRUE(a.ping());
    }
    EXPECT_EQ(corvaneSharedConnectionCount(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // past the idle time-out
    CorvaneServerHandle b(two.host().c_str());
    ASSERT_TRUE(b.ping()) << b.lastError();
    EXPECT_EQ(corvaneSharedConnectionCount(), 1);
}

TEST(CorvaneSharedConnectionSettingTest, LimitsCountAndIdleTime) {
    CorvaneTest::ProcessOptions options;
    options.env = {{"PATH", "/usr/bin:/bin"}, {"CORVANE_SHARED_CONNECTIONS", "1"}};
    const auto result = CorvaneTest::runProcess(
        {"/proc/self/exe", "--gtest_also_run_disabled_tests",
         "--gtest_filter=CorvaneHandleSimTest.DISABLED_SharedConnectionSettingChild"},
        options);
    EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << result.out;
}

}  // namespace
