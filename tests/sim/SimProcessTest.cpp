// corvane-sim as users and the end-to-end tests run it: a separate process
// that prints its port, answers on the wire and stops on SIGTERM. Every other
// test exercises it further.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <memory>
#include <string>
#include <vector>

#include "base/rcApi/rcAPI.h"
#include "base/rcApi/rcAttrStream.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "support/SimProcess.h"

namespace {

constexpr int kCallMs = 10000;

bool exitedCleanly(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

class SimProcessTest : public ::testing::Test {
protected:
    // Starts the server on the demo's own tree file, as the demo does, and connects to it.
    void start(const std::vector<std::string>& options = {}) {
        sim_ = std::make_unique<CorvaneTest::SimProcess>(
            CorvaneTest::readFile(CorvaneTest::sourcePath("sim/demo-tree.txt")), options);
        ASSERT_TRUE(sim_->started());
        ASSERT_TRUE(api_.connect("127.0.0.1", sim_->port(), kCallMs)) << api_.lastError();
    }

    std::string call(const char* method, const std::string& args) {
        std::string result;
        EXPECT_TRUE(api_.call(0, method, args.c_str(), true, result, kCallMs)) << method << ": " << result;
        return result;
    }

    std::unique_ptr<CorvaneTest::SimProcess> sim_;
    Corvane::rcAPI api_;
};

TEST_F(SimProcessTest, ServesTheDemoTreeAndStopsOnSigterm) {
    start();
    EXPECT_EQ(call("GetMetaData", "/ info  1"), "<info><administrators>demo,admin</administrators></info>");
    EXPECT_EQ(call("GetChildren", "/"), "Media,/media,Projects,/projects,Scratch,/scratch");
    EXPECT_EQ(call("GetNodeTypeStr", "\"/media/Summer 2014/beach\""), "CLIP");
    EXPECT_EQ(call("QueryVersion", ""), "2014 0");

    const CorvaneDaemonInfo info{Corvane::rcAttrStream(call("GetDaemonInfo", "\"\""))};
    EXPECT_EQ(info.getNodePort(), sim_->port());
    EXPECT_STREQ(info.getDatabase(), "OBRAN");

    EXPECT_TRUE(exitedCleanly(sim_->stop()));
    std::string result;
    EXPECT_FALSE(api_.call(0, "Ping", "", true, result, kCallMs));
}

TEST_F(SimProcessTest, SigtermIsPromptWhileAReplyIsHeld) {
    start({"--delay-method", "GetMetaData:600000"});
    std::string result;
    EXPECT_FALSE(api_.call(0, "GetMetaData", "/ info  1", true, result, 200));
    EXPECT_TRUE(exitedCleanly(sim_->stop()));
}

}  // namespace
