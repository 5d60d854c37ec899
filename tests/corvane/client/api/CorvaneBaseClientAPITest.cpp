#include "client/api/CorvaneBaseClientAPI.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "ScriptedServer.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneMulticastClient.h"
#include "client/api/CorvaneStrList.h"
#include "support/Gate.h"
#include "support/LoopbackListener.h"

using CorvaneTest::attrs;
using CorvaneTest::Gate;
using CorvaneTest::ScriptedServer;

namespace {

CorvaneStrList strList(const std::vector<std::string>& items) {
    CorvaneStrList list;
    for (const std::string& item : items)
        list.append(item.c_str());
    return list;
}

std::vector<std::string> items(const CorvaneStrList& list) {
    std::vector<std::string> out;
    for (unsigned int i = 0; i < list.size(); ++i)
        out.emplace_back(list.getStr(i));
    return out;
}

// A record's fields in order, so that one comparison shows them all.
using Fields = std::vector<std::string>;

class CorvaneBaseClientAPITest : public ::testing::Test {
protected:
    CorvaneBaseClientAPITest() : connection_(CorvaneServerId(server_.port(), "127.0.0.1")), api_(&connection_) {}
    // Connecting started discovery.
    ~CorvaneBaseClientAPITest() override { CorvaneMulticastClient::destroyInstance(); }

    ScriptedServer server_;
    CorvaneClientConnection connection_;
    CorvaneBaseClientAPI api_;
};

TEST_F(CorvaneBaseClientAPITest, TranslatePathsSendsTheHeadThenQuotedPathsAndRefusesEmptyHosts) {
    const std::string srcError = "Invalid source host name given", dstError = "Invalid destination host name given";
    const struct {
        const char* src;
        const char* dst;
        const std::string& error;
    } refused[] = {
        {"", "dst", srcError},  {nullptr, "dst", srcError}, {"", "", srcError},  // the source is checked first
        {"src", "", dstError},  {"src", nullptr, dstError},
    };
    CorvaneStrList out = strList({"stale"});
    for (const auto& c : refused) {
        EXPECT_FALSE(api_.translatePaths(strList({"/a"}), out, c.src, c.dst, 1, 2));
        EXPECT_EQ(c.error, api_.lastError());
    }
    EXPECT_TRUE(server_.calls().empty());
    EXPECT_FALSE(connection_.isConnected());

    // Paths go unescaped, even with a double quote inside.
    server_.reply("TranslatePaths", "x,,y");
    ASSERT_TRUE(api_.translatePaths(strList({"/a/b", "/c\"d", ""}), out, "s h", "d", 1, -2));
    EXPECT_EQ("\"s h\" 1 \"d\" -2 \"/a/b\",\"/c\"d\",\"\"", server_.lastArgs("TranslatePaths"));
    EXPECT_EQ((std::vector<std::string>{"x", "", "y"}), items(out));
}

TEST_F(CorvaneBaseClientAPITest, TranslationGroupsAreSplitAtCommas) {
    // "3" is missing: an empty group. Entries may come in any order, and
    // "01" names no index.
    server_.reply("GetTranslationGroups", attrs({{"numGroups", "4"}, {"2", "lonely"}, {"01", "decoy"},
                                                 {"1", "k,15"}, {"0", "g,3,h1,h2"}}));
    std::vector<CorvaneTranslationGroup> groups(1);
    ASSERT_TRUE(api_.getTranslationGroups(groups)) << api_.lastError();
    EXPECT_EQ("", server_.lastArgs("GetTranslationGroups"));
    ASSERT_EQ(4u, groups.size());
    const Fields expected[] = {{"g 3", "h1", "h2"}, {"k 15"}, {"lonely 0"}, {" 0"}};
    for (size_t i = 0; i < groups.size(); ++i) {
        Fields got{groups[i].name + " " + std::to_string(groups[i].number)};
        got.insert(got.end(), groups[i].members.begin(), groups[i].members.end());
        EXPECT_EQ(expected[i], got) << "group " << i;
    }
}

TEST_F(CorvaneBaseClientAPITest, HostTranslationsReadNestedRecordsAndBoundTheCount) {
    const std::string host = attrs({{"srcHost", "a"}, {"srcPath", "/x y"}, {"dstHost", "b"}, {"dstPath", "/z"}});
    server_.reply("GetHostTranslations",
                  attrs({{"numHostTranslations", "2"}, {"0", host}, {"1", attrs({{"dstPath", "/only"}})}}));

    std::vector<CorvaneHostTranslation> hosts;
    ASSERT_TRUE(api_.getHostTranslations(hosts)) << api_.lastError();
    ASSERT_EQ(2u, hosts.size());
    const Fields expected[] = {{"a", "/x y", "b", "/z"}, {"", "", "", "/only"}};
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(expected[i], Fields({hosts[i].srcHost, hosts[i].srcPath, hosts[i].dstHost, hosts[i].dstPath}));

    // A count far beyond what the reply holds is bounded, not obeyed.
    server_.reply("GetHostTranslations", attrs({{"numHostTranslations", "2000000000"}}));
    EXPECT_TRUE(api_.getHostTranslations(hosts));
    EXPECT_LE(hosts.size(), 65536u);
}

TEST_F(CorvaneBaseClientAPITest, PingTimeOutBoundsConnectingAndCalling) {
    // A listener that accepts but never answers the login.
    CorvaneTest::LoopbackListener silent;
    CorvaneClientConnection mute(CorvaneServerId(silent.port(), "127.0.0.1"));
    CorvaneBaseClientAPI muteApi(&mute);
    EXPECT_FALSE(muteApi.ping(200));
    EXPECT_STREQ(std::strerror(ETIMEDOUT), muteApi.lastError());

    Gate release;
    server_.handle("Ping", [&release](const std::string&, std::string&) {
        release.wait(60000);
        return true;
    });
    EXPECT_FALSE(api_.ping(200));
    EXPECT_STREQ(std::strerror(ETIMEDOUT), api_.lastError());
    release.open();
    server_.reply("Ping", "");
    EXPECT_TRUE(api_.ping(5000));
    EXPECT_EQ("", server_.lastArgs("Ping"));
}

// Nothing of ours asks for the version or shuts a server down: one smoke row.
TEST_F(CorvaneBaseClientAPITest, VersionShutdownAndDaemonInfo) {
    server_.reply("QueryVersion", "2013 1");
    server_.reply("Shutdown", "");
    server_.reply("GetDaemonInfo", attrs({{"DisplayName", "beta"}}));
    int major = 0, minor = 0;
    CorvaneDaemonInfo info;
    ASSERT_TRUE(api_.queryVersion(major, minor) && api_.shutdown() && api_.getDaemonInfo(info));
    EXPECT_EQ(20131, major * 10 + minor);
    EXPECT_STREQ("beta", connection_.getDaemonInfo(true).getDisplayName());
}

}  // namespace
