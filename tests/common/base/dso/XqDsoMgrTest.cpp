#include "base/dso/XqDsoMgr.h"

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "base/dso/XqDso.h"
#include "base/dso/XqRtMonAPI.h"
#include "common/base/fileUtil/FreshProcess.h"
#include "support/MessageLog.h"
#include "support/TempDir.h"

namespace {

using Corvane::XqDso;
using Corvane::XqDsoMgr;
using Corvane::XqRtMonAPI;

// Each case loads in a fresh process: the loader's switches are read once,
// and a loaded library stays.
class XqDsoMgrTest : public ::testing::Test {
protected:
    const std::string plugin_ = CORVANE_RTMON_PLUGIN;
    const std::string pluginDir_ = plugin_.substr(0, plugin_.rfind('/'));
    CorvaneTest::MessageLog::Scope log_;
};

TEST_F(XqDsoMgrTest, LoadsALibraryOnceAndFindsItsSymbolsAndDirectory) {
    CorvaneTest::ProcessResult child;
    if (!CorvaneTest::inFreshProcess({{"XQ_DSO_DEBUG", "1"}}, &child)) {
        EXPECT_NE(std::string::npos, child.err.find("DSO Error: /no/such/libnone.so")) << child.err;
        EXPECT_NE(std::string::npos, child.err.find("DSO Symbol Error: ")) << child.err;
        return;
    }
    XqDsoMgr& manager = XqDsoMgr::instance();
    EXPECT_EQ(nullptr, manager.load("/no/such/libnone.so"));
    XqDso* plugin = manager.load(CORVANE_RTMON_PLUGIN);
    ASSERT_NE(nullptr, plugin);
    EXPECT_EQ(plugin, manager.load("libXQrtmon"));  // any part of its path finds it again
    EXPECT_NE(nullptr, plugin->getSymbol(XqRtMonAPI::kFactoryName));
    EXPECT_EQ(nullptr, plugin->getSymbol("noSuchSymbol"));

    std::string location;
    EXPECT_TRUE(manager.getDsoLocation("libXQrtmon", &location));
    EXPECT_EQ(pluginDir_, location);
    EXPECT_TRUE(log_->contains("getDsoLocation(libXQrtmon): found=1, location=" + pluginDir_ + "\n"));
    // A name reaching into the directories ends the location before it.
    const std::string parent = pluginDir_.substr(0, pluginDir_.rfind('/'));
    EXPECT_TRUE(manager.getDsoLocation((pluginDir_.substr(parent.size() + 1) + "/libXQrtmon").c_str(), &location));
    EXPECT_EQ(parent, location);
    EXPECT_FALSE(manager.getDsoLocation("libnone", &location));
}

TEST_F(XqDsoMgrTest, RuntimeMonitorFollowsTheEnvironment) {
    CorvaneTest::TempDir pureDir;
    ASSERT_EQ(0, symlink(CORVANE_RTMON_PLUGIN, pureDir.file("libXQrtmon.so.pure").c_str()));
    const std::string lib = "LD_LIBRARY_PATH";
    // Environment, with "LOADED" telling whether the plug-in must be in, and
    // what standard error must say.
    const std::pair<std::map<std::string, std::string>, const char*> cases[] = {
        {{{lib, pluginDir_}, {"LOADED", "0"}}, ""},
        {{{lib, pluginDir_}, {"XQ_RTMON", ""}, {"LOADED", "1"}}, ""},
        {{{lib, pluginDir_}, {"XQ_RTMON", ""}, {"XQ_DSO_RLD_NOW", ""}, {"XQ_DSO_DEBUG", ""}, {"LOADED", "0"}},
         "corvaneRtmonUnresolvedHook"},
        {{{lib, pureDir.path()}, {"XQ_RTMON", ""}, {"XQ_USE_PURE_DSO", ""}, {"LOADED", "1"}}, ""},
        {{{lib, pureDir.path()}, {"XQ_RTMON", ""}, {"XQ_DSO_DEBUG", ""}, {"LOADED", "0"}}, "DSO Error: libXQrtmon.so"},
    };
    for (const auto& c : cases) {
        CorvaneTest::ProcessResult child;
        if (CorvaneTest::inFreshProcess(c.first, &child))
            break;
        EXPECT_NE(std::string::npos, child.err.find(c.second)) << c.second << " in:\n" << child.err;
    }
    if (!std::getenv("LOADED"))
        return;

    XqRtMonAPI& api = XqRtMonAPI::instance();
    api.event();  // no monitor yet: nothing happens
    const bool started = api.startUp();
    EXPECT_EQ(std::getenv("XQ_RTMON") != nullptr, api.rtmonRequested());
    XqDso* plugin = XqDsoMgr::instance().load("libXQrtmon");
    if (std::string(std::getenv("LOADED")) == "0") {
        EXPECT_TRUE(started);  // the do-nothing monitor's answer
        EXPECT_EQ(nullptr, plugin);
        EXPECT_TRUE(log_->texts(Corvane::CoMsg::notice).empty());
        return;
    }
    ASSERT_NE(nullptr, plugin);
    EXPECT_FALSE(started);  // the plug-in's answer
    EXPECT_EQ(1, log_->count("rtmon: loading...", Corvane::CoMsg::notice));
    api.event(1, 2, 3, 4, 5, 6, 7, 8, 9);
    api.event(10, 11);
    api.event();
    api.startUp();  // replaces the first monitor
    auto calls = reinterpret_cast<const char* (*)()>(plugin->getSymbol("xqRtmonTestLog"));
    ASSERT_NE(nullptr, calls);
    EXPECT_EQ("start-up\n1 2 3 4 5 6 7 8 9 \n10 11\nevent\ndestroyed\nstart-up\n", std::string(calls()));
}

}  // namespace
