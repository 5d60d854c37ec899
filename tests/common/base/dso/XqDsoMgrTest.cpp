#include "base/dso/XqDsoMgr.h"

#include <string>

#include <gtest/gtest.h>

#include "base/dso/XqDso.h"
#include "base/dso/XqRtMonAPI.h"
#include "common/base/fileUtil/FreshProcess.h"

namespace {

using Corvane::XqDso;
using Corvane::XqDsoMgr;
using Corvane::XqRtMonAPI;

// Loads in a fresh process: the loader's switches are read once, and a
// loaded library stays.
TEST(XqDsoMgrTest, LoadsALibraryOnceAndFindsItsSymbols) {
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
}

}  // namespace
