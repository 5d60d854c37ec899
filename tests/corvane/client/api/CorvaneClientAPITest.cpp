// The base and node APIs against a scripted server.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ScriptedServer.h"
#include "base/rcApi/rcAttrList.h"
#include "base/rcApi/rcAttrStream.h"
#include "client/api/CorvaneBaseClientAPI.h"
#include "client/api/CorvaneClientConnection.h"
#include "client/api/CorvaneClipFormat.h"
#include "client/api/CorvaneCurrentUser.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneHostFacts.h"
#include "client/api/CorvaneMulticastClient.h"
#include "client/api/CorvaneNodeClientAPI.h"
#include "client/api/CorvaneStrList.h"

using CorvaneTest::attrs;
using ChildList = CorvaneNodeInterface::ChildList;
using FrameList = CorvaneNodeInterface::FrameList;
using StringList = CorvaneNodeInterface::StringList;

namespace {

std::string stringList(const std::vector<std::string>& items) { return Corvane::rcAttrList<std::string>(items).str(); }

CorvaneStrList strList(const std::vector<std::string>& items) {
    CorvaneStrList list;
    for (const std::string& item : items)
        list.append(item.c_str());
    return list;
}

// A record's fields in order, so that one comparison shows them all.
using Fields = std::vector<std::string>;

class CorvaneClientAPITest : public ::testing::Test {
protected:
    CorvaneClientAPITest()
        : connection_(CorvaneServerId(server_.port(), "127.0.0.1")),
          api_(&connection_),
          base_(&connection_),
          clip_(720, 486, 24, 3, 29.97f, 0.9f, 1, "yuv", "xml", "<m a=\"1\"/>") {}
    // Connecting started discovery.
    ~CorvaneClientAPITest() override { CorvaneMulticastClient::destroyInstance(); }

    // The clip as the extended methods nest it.
    std::string clipStream() const {
        Corvane::rcAttrStream fmt;
        clip_.writeTo(fmt);
        return fmt.str();
    }

    CorvaneTest::ScriptedServer server_;
    CorvaneClientConnection connection_;
    CorvaneNodeClientAPI api_;
    CorvaneBaseClientAPI base_;
    CorvaneClipFormat clip_;
};

TEST_F(CorvaneClientAPITest, NodeArgumentIsQuotedOnlyWithABlankInsideAndErrorsStay) {
    server_.reply("DestroyNode", "");
    const std::pair<const char*, const char*> cases[] = {
        {"/a\tb\"c", "/a\tb\"c"},  // no blank: bare, whatever else is in it
        {"/a b", "\"/a b\""},
        {"/x \"q\" \\y", "\"/x \\\"q\\\" \\\\y\""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(api_.destroyNode(c.first)) << api_.lastError();
        EXPECT_EQ(c.second, server_.lastArgs("DestroyNode")) << c.first;
    }
    // A server's error is the last error, and a success after it keeps it.
    server_.fail("DestroyNode", "Node '/x' is locked by 'bob'");
    server_.reply("GetNodeTypeStr", "t");
    EXPECT_FALSE(api_.destroyNode("/x"));
    std::string type;
    EXPECT_TRUE(api_.getNodeTypeStr("/x", type));
    EXPECT_STREQ("Node '/x' is locked by 'bob'", api_.lastError());
}

TEST_F(CorvaneClientAPITest, CommaInNodeIdFailsTheOlderMethodsWithoutACall) {
    const CorvaneNodeId node("/a,b");
    ChildList children;
    std::string text;
    FrameList frames;
    StringList paths;
    CorvaneNodeId created;
    const bool results[] = {api_.getChildren(node, children),
                            api_.getDisplayName(node, text),
                            api_.getFrames(node, frames),
                            api_.allocateFrames(node, 2, clip_, frames),
                            api_.getFramePaths(node, paths),
                            api_.setFramePaths(node, {"/p"}, clip_),
                            api_.createNode(node, "n", 1, "", clip_, created)};
    for (size_t i = 0; i < sizeof results; ++i)
        EXPECT_FALSE(results[i]) << "call " << i;
    EXPECT_STREQ("Invalid node id: '/a,b'.", api_.lastError());
    EXPECT_TRUE(server_.calls().empty());
    EXPECT_FALSE(connection_.isConnected());

    // The message is cut to 127 characters.
    const std::string longId = "," + std::string(200, 'x');
    EXPECT_FALSE(api_.getChildren(longId.c_str(), children));
    EXPECT_EQ(("Invalid node id: '" + longId).substr(0, 127), api_.lastError());

    // The extended methods carry any identifier.
    server_.reply("GetChildrenEx", "");
    EXPECT_TRUE(api_.getChildrenEx("/a, b", children));
    EXPECT_EQ("/a, b", server_.lastArgs("GetChildrenEx"));
}

TEST_F(CorvaneClientAPITest, ChildrenListsSwapPairsOrNestStreamsAndRefuseBadEntries) {
    server_.reply("GetChildren", "name1,/id1,,/id2,odd");
    ChildList children = {{"stale", "stale"}};
    ASSERT_TRUE(api_.getChildren("/root dir", children)) << api_.lastError();
    EXPECT_EQ("\"/root dir\"", server_.lastArgs("GetChildren"));
    EXPECT_EQ((ChildList{{"/id1", "name1"}, {"/id2", ""}}), children);

    // The extended form reads nested streams (UTF-8, C locale here) and fails on an entry without both names.
    const std::string alpha = attrs({{"Id", "/a"}, {"Displ", "Alpha"}});
    server_.reply("GetChildrenEx", attrs({{"0", alpha}, {"1", attrs({{"Id", "/b"}, {"Displ", "caf\xc3\xa9"}})}}));
    ASSERT_TRUE(api_.getChildrenEx("/", children)) << api_.lastError();
    EXPECT_EQ((ChildList{{"/a", "Alpha"}, {"/b", "caf?"}}), children);
    for (const std::string& bad : {attrs({{"Id", "/b"}}), attrs({{"Displ", "Beta"}}), std::string("garbage")}) {
        server_.reply("GetChildrenEx",
                      attrs({{"0", alpha}, {"1", bad}, {"2", attrs({{"Id", "/c"}, {"Displ", "Gamma"}})}}));
        EXPECT_FALSE(api_.getChildrenEx("/", children)) << bad;
        EXPECT_STREQ("Invalid children list", api_.lastError());
        EXPECT_EQ((ChildList{{"/a", "Alpha"}}), children);  // what came before the bad entry stays
    }
}

TEST_F(CorvaneClientAPITest, FrameListsAndPathsRoundTripAndRepliesFailOnAnythingButAList) {
    FrameList frames = {"old"};
    StringList paths = {"old"};
    for (const std::string& bad : {stringList({}), std::string(""), std::string("2 1 a"), std::string("x")}) {
        for (const char* method : {"GetFramesEx", "AllocateFramesEx", "GetFramePathsEx"})
            server_.reply(method, bad);
        EXPECT_FALSE(api_.getFramesEx("/n", frames)) << bad;
        EXPECT_FALSE(api_.allocateFramesEx("/n", 1, clip_, frames)) << bad;
        EXPECT_STREQ("Invalid frame list", api_.lastError());
        EXPECT_FALSE(api_.getFramePathsEx("/n", paths)) << bad;
        EXPECT_STREQ("Invalid file list", api_.lastError());
    }
    EXPECT_TRUE(frames.empty() && paths.empty());

    // Good lists round-trip.
    server_.reply("AllocateFramesEx", stringList({"f3", "f 4"}));
    server_.reply("GetFrames", "g1,,g2");
    frames = {"f0"};
    ASSERT_TRUE(api_.allocateFramesEx("/clip a", 2, clip_, frames));
    EXPECT_EQ((FrameList{"f0", "f3", "f 4"}), frames);
    EXPECT_EQ(attrs({{"Node", "/clip a"}, {"NumFrames", "2"}, {"Fmt", clipStream()}}),
              server_.lastArgs("AllocateFramesEx"));
    ASSERT_TRUE(api_.getFrames("/clip", frames));
    EXPECT_EQ((FrameList{"g1", "", "g2"}), frames);

    // Frame paths carry the host facts.
    server_.reply("GetFramePathsEx", stringList({"/m/a b.dpx"}));
    server_.reply("SetFramePaths", "");
    const std::string host = getLocalHostName().c_str();
    paths = {"old"};
    ASSERT_TRUE(api_.getFramePathsEx("/n", paths));
    EXPECT_EQ(StringList{"/m/a b.dpx"}, paths);
    EXPECT_EQ(attrs({{"Parent", "/n"}, {"HostName", host}, {"OSType", "2"}, {"OSVersion", "unknown"}}),
              server_.lastArgs("GetFramePathsEx"));
    ASSERT_TRUE(api_.setFramePaths("/n", {"/m/1", "/m/2"}, clip_));
    EXPECT_EQ("/n /m/1,/m/2 " + host + " 2 unknown " + clip_.toText(), server_.lastArgs("SetFramePaths"));
}

TEST_F(CorvaneClientAPITest, CreateNodeAndMetaDataLayOutTheirArguments) {
    server_.reply("CreateNode", "/p/new");
    CorvaneNodeId created;
    ASSERT_TRUE(api_.createNode("/p q", "My \"clip\"", 3, "ext", clip_, created)) << api_.lastError();
    EXPECT_EQ("\"/p q\" \"My \\\"clip\\\"\" 3 ext " + clip_.toText(), server_.lastArgs("CreateNode"));
    EXPECT_STREQ("/p/new", created.getId());

    // A head that would not fit the server's buffer is refused here.
    EXPECT_FALSE(api_.createNode("/p", std::string(1100, 'n').c_str(), 3, "", clip_, created));
    EXPECT_EQ(1u, server_.argsOf("CreateNode").size());

    server_.reply("CreateNodeEx", "/p/new");
    const std::string fmt = "Fmt " + std::to_string(clipStream().size()) + " " + clipStream();
    for (const char* exType : {static_cast<const char*>(nullptr), "", "still"}) {
        ASSERT_TRUE(api_.createNodeEx("/p", "Name", 7, exType, clip_, created)) << api_.lastError();
        EXPECT_EQ(std::string("Parent 2 /pDispl 4 NameType 1 7") + (exType && *exType ? "ExType 5 still" : "") + fmt,
                  server_.lastArgs("CreateNodeEx"));
    }

    // Metadata: node, stream, filter and depth; the text quoted.
    server_.reply("GetMetaData", "<info/>");
    server_.reply("SetMetaData", "ignored");
    std::string data;
    ASSERT_TRUE(api_.getMetaData("/a", "info", nullptr, 2, data));
    EXPECT_EQ("/a info  2", server_.lastArgs("GetMetaData"));
    ASSERT_TRUE(api_.getMetaData("/a b", "info", "x y", -1, data));
    EXPECT_EQ("\"/a b\" info \"x y\" -1", server_.lastArgs("GetMetaData"));
    EXPECT_EQ("<info/>", data);
    // Escapes in the text go through corvane-sim in the handle tests.
    ASSERT_TRUE(api_.setMetaData("/a", "info", ""));
    EXPECT_EQ("/a info \"\"", server_.lastArgs("SetMetaData"));
}

TEST_F(CorvaneClientAPITest, TranslatePathsSendsTheHeadThenQuotedPathsRefusesEmptyHostsAndListsAreRead) {
    const std::string srcError = "Invalid source host name given", dstError = "Invalid destination host name given";
    const struct {
        const char* src;
        const char* dst;
        const std::string& error;
    } refused[] = {
        {nullptr, "dst", srcError},
        {"", "", srcError},  // the source is checked first
        {"src", "", dstError},
        {"src", nullptr, dstError},
    };
    CorvaneStrList out = strList({"stale"});
    for (const auto& c : refused) {
        EXPECT_FALSE(base_.translatePaths(strList({"/a"}), out, c.src, c.dst, 1, 2));
        EXPECT_EQ(c.error, base_.lastError());
    }
    EXPECT_TRUE(server_.calls().empty());
    EXPECT_FALSE(connection_.isConnected());

    // Paths go unescaped, even with a double quote inside.
    server_.reply("TranslatePaths", "x,,y");
    ASSERT_TRUE(base_.translatePaths(strList({"/a/b", "/c\"d", ""}), out, "s h", "d", 1, -2));
    EXPECT_EQ("\"s h\" 1 \"d\" -2 \"/a/b\",\"/c\"d\",\"\"", server_.lastArgs("TranslatePaths"));
    EXPECT_TRUE(strList({"x", "", "y"}) == out);

    // Translation lists are read. "3" is missing: an empty group. Entries may come in any order, and
    // neither "01" nor a number past the int range (2 when cut to 32 bits) names an index.
    server_.reply("GetTranslationGroups", attrs({{"numGroups", "4"},
                                                 {"4294967298", "decoy"},
                                                 {"2", "lonely"},
                                                 {"01", "decoy"},
                                                 {"1", "k,15"},
                                                 {"0", "g,3,h1,h2"}}));
    std::vector<CorvaneTranslationGroup> groups(1);
    ASSERT_TRUE(base_.getTranslationGroups(groups)) << base_.lastError();
    EXPECT_EQ("", server_.lastArgs("GetTranslationGroups"));
    ASSERT_EQ(4u, groups.size());
    const Fields expected[] = {{"g 3", "h1", "h2"}, {"k 15"}, {"lonely 0"}, {" 0"}};
    for (size_t i = 0; i < groups.size(); ++i) {
        Fields got{groups[i].name + " " + std::to_string(groups[i].number)};
        got.insert(got.end(), groups[i].members.begin(), groups[i].members.end());
        EXPECT_EQ(expected[i], got) << "group " << i;
    }

    // Host translations are nested records, and their count is bounded.
    const std::string host = attrs({{"srcHost", "a"}, {"srcPath", "/x y"}, {"dstHost", "b"}, {"dstPath", "/z"}});
    server_.reply("GetHostTranslations",
                  attrs({{"numHostTranslations", "2"}, {"0", host}, {"1", attrs({{"dstPath", "/only"}})}}));
    std::vector<CorvaneHostTranslation> hosts;
    ASSERT_TRUE(base_.getHostTranslations(hosts)) << base_.lastError();
    ASSERT_EQ(2u, hosts.size());
    const Fields records[] = {{"a", "/x y", "b", "/z"}, {"", "", "", "/only"}};
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(records[i], Fields({hosts[i].srcHost, hosts[i].srcPath, hosts[i].dstHost, hosts[i].dstPath}));

    // A count far beyond what the reply holds is bounded, not obeyed.
    server_.reply("GetHostTranslations", attrs({{"numHostTranslations", "2000000000"}}));
    EXPECT_TRUE(base_.getHostTranslations(hosts));
    EXPECT_LE(hosts.size(), 65536u);
}

// Nothing of ours asks for the version or shuts a server down: one smoke
// row. (A ping's time-out bounding its login is the login tests'.)
TEST_F(CorvaneClientAPITest, PingVersionShutdownAndDaemonInfo) {
    server_.reply("Ping", "");
    server_.reply("QueryVersion", "2013 1");
    server_.reply("Shutdown", "");
    server_.reply("GetDaemonInfo", attrs({{"DisplayName", "beta"}}));
    int major = 0, minor = 0;
    CorvaneDaemonInfo info;
    ASSERT_TRUE(base_.ping(5000) && base_.queryVersion(major, minor) && base_.shutdown() && base_.getDaemonInfo(info));
    EXPECT_EQ("", server_.lastArgs("Ping"));
    EXPECT_EQ(20131, major * 10 + minor);
    EXPECT_STREQ("beta", connection_.getDaemonInfo(true).getDisplayName());
}

// getpwuid and getgrgid answer in one static buffer, which two threads must not share.
TEST(CorvaneLocalHostFactsTest, UserAndGroupNamesFromTwoThreads) {
    const std::string user = getCurrentUser().c_str(), group = getCurrentGroup().c_str();
    auto ask = [&] {
        for (int i = 0; i < 50; ++i) {
            EXPECT_EQ(user, getCurrentUser().c_str());
            EXPECT_EQ(group, getCurrentGroup().c_str());
        }
    };
    std::thread other(ask);
    ask();
    other.join();
}

}  // namespace
