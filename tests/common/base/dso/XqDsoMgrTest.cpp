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

// Every case loads into a fresh process: the loader's switches are read
// once, and a plug-in once loaded stays.
class XqDsoMgrTest : public ::testing::Test {
protected:
    static std::string pluginDir() {
        const std::string path = CORVANE_RTMON_PLUGIN;
        return path.substr(0, path.rfind('/'));
    }

    CorvaneTest::MessageLog::Scope log_;
};

TEST_F(XqDsoMgrTest, LoadsALibraryOnceAndFindsItsSymbolsAndDirectory) {
    CorvaneTest::ProcessResult child;
    if (!CorvaneTest::inFreshProcess({{"XQ_DSO_DEBUG", "1"}}, &child)) {
        EXPECT_NE(std::string::npos, child.err.find("DSO Error: /no/such/libcorvane-none.so")) << child.err;
        EXPECT_NE(std::string::npos, child.err.find("DSO Symbol Error: ")) << child.err;
        EXPECT_NE(std::string::npos, child.err.find("noSuchSymbol")) << child.err;
        return;
    }
    XqDsoMgr& manager = XqDsoMgr::instance();
    EXPECT_EQ(nullptr, manager.load("/no/such/libcorvane-none.so"));
    XqDso* plugin = manager.load(CORVANE_RTMON_PLUGIN);
    ASSERT_NE(nullptr, plugin);
    // Any part of a loaded library's path finds it again.
    EXPECT_EQ(plugin, manager.load("libXQrtmon"));
    EXPECT_NE(nullptr, plugin->getSymbol(XqRtMonAPI::kFactoryName));
    EXPECT_EQ(nullptr, plugin->getSymbol("noSuchSymbol"));

    std::string location;
    EXPECT_TRUE(manager.getDsoLocation("libXQrtmon", &location));
    EXPECT_EQ(pluginDir(), location);
    EXPECT_TRUE(log_->contains("getDsoLocation(libXQrtmon): found=1, location=" + pluginDir() + "\n"));
    // A name reaching into the directories ends the location before it.
    const std::string parent = pluginDir().substr(0, pluginDir().rfind('/'));
    const std::string lastDir = pluginDir().substr(parent.size() + 1);
    EXPECT_TRUE(manager.getDsoLocation((lastDir + "/libXQrtmon").c_str(), &location));
    EXPECT_EQ(parent, location);
    EXPECT_FALSE(manager.getDsoLocation("libcorvane-none", &location));
}

TEST_F(XqDsoMgrTest, RuntimeMonitorFollowsTheEnvironment) {
    CorvaneTest::TempDir pureDir;
    ASSERT_EQ(0, symlink(CORVANE_RTMON_PLUGIN, pureDir.file("libXQrtmon.so.pure").c_str()));
    const std::string dir = pluginDir();
    struct Case {
        const char* what;
        std::map<std::string, std::string> env;
        const char* expectedError;  // on standard error
    } cases[] = {
        {"no XQ_RTMON: nothing loaded", {{"LD_LIBRARY_PATH", dir}}, nullptr},
        {"XQ_RTMON present, even empty", {{"XQ_RTMON", ""}, {"LD_LIBRARY_PATH", dir}}, nullptr},
        {"immediate binding refuses the plug-in",
         {{"XQ_RTMON", "1"}, {"XQ_DSO_RLD_NOW", "1"}, {"XQ_DSO_DEBUG", "1"}, {"LD_LIBRARY_PATH", dir}},
         "corvaneRtmonUnresolvedHook"},
        {"the .pure variant", {{"XQ_RTMON", "1"}, {"XQ_USE_PURE_DSO", "1"}, {"LD_LIBRARY_PATH", pureDir.path()}},
         nullptr},
        {"no plug-in on the path", {{"XQ_RTMON", "1"}, {"XQ_DSO_DEBUG", "1"}, {"LD_LIBRARY_PATH", pureDir.path()}},
         "DSO Error: libXQrtmon.so"},
    };
    for (Case& c : cases) {
        c.env["CORVANE_EXPECT_PLUGIN"] = c.expectedError || c.env.count("XQ_RTMON") == 0 ? "0" : "1";
        CorvaneTest::ProcessResult child;
        if (CorvaneTest::inFreshProcess(c.env, &child))
            break;
        if (c.expectedError) {
            EXPECT_NE(std::string::npos, child.err.find(c.expectedError)) << c.what << ":\n" << child.err;
        }
    }
    if (!std::getenv("CORVANE_EXPECT_PLUGIN"))
        return;

    XqRtMonAPI& api = XqRtMonAPI::instance();
    api.event();  // no monitor yet: nothing happens
    const bool started = api.startUp();
    EXPECT_EQ(std::getenv("XQ_RTMON") != nullptr, api.rtmonRequested());
    XqDso* plugin = XqDsoMgr::instance().load("libXQrtmon");
    if (std::string(std::getenv("CORVANE_EXPECT_PLUGIN")) == "0") {
        EXPECT_TRUE(started);  // the do-nothing monitor
        EXPECT_EQ(nullptr, plugin);
        EXPECT_FALSE(log_->contains("rtmon: loading..."));
        api.event(1, 2);
        return;
    }
    ASSERT_NE(nullptr, plugin);
    EXPECT_FALSE(started);  // the plug-in's answer
    EXPECT_EQ(1, log_->count("rtmon: loading...", Corvane::CoMsg::notice));
    api.event(1, 2, 3, 4, 5, 6, 7, 8, 9);
    api.event(10, 11);
    api.event();
    api.startUp();  // the first monitor goes
    auto calls = reinterpret_cast<const char* (*)()>(plugin->getSymbol("xqRtmonTestLog"));
    ASSERT_NE(nullptr, calls);
    EXPECT_EQ("start-up\n1 2 3 4 5 6 7 8 9 \n10 11\nevent\ndestroyed\nstart-up\n", std::string(calls()));
}

}  // namespace
