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
#include "support/Process.h"

namespace {

constexpr int kStartMs = 20000;
constexpr int kCallMs = 10000;
// SIGTERM must end the server well inside this; past it the child is killed.
constexpr int kStopMs = 5000;

std::vector<std::string> simArgs(std::vector<std::string> extra) {
    std::vector<std::string> argv = {CorvaneTest::binPath("corvane-sim"), "--port", "0", "--tree",
                                     CorvaneTest::sourcePath("sim/demo-tree.txt")};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
}

CorvaneTest::ProcessOptions quietOptions() {
    CorvaneTest::ProcessOptions options;
    options.env = {{"PATH", "/usr/bin:/bin"}};
    options.timeoutMs = kStartMs;
    return options;
}

bool exitedCleanly(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

class SimProcessTest : public ::testing::Test {
protected:
    // Starts the server and connects to it; the port line is its readiness.
    void start(std::vector<std::string> extra = {}) {
        child_ = std::make_unique<CorvaneTest::ChildProcess>(simArgs(std::move(extra)), quietOptions());
        const std::string line = child_->readLine(kStartMs);
        ASSERT_FALSE(line.empty()) << "no port line";
        port_ = std::stoi(line);
        ASSERT_EQ(std::to_string(port_), line);
        ASSERT_TRUE(api_.connect("127.0.0.1", port_, kCallMs)) << api_.lastError();
    }

    std::string call(const char* method, const std::string& args) {
        std::string result;
        EXPECT_TRUE(api_.call(0, method, args.c_str(), true, result, kCallMs)) << method << ": " << result;
        return result;
    }

    std::unique_ptr<CorvaneTest::ChildProcess> child_;
    int port_ = 0;
    Corvane::rcAPI api_;
};

TEST_F(SimProcessTest, ServesTheDemoTreeAndStopsOnSigterm) {
    start();
    EXPECT_EQ(call("GetMetaData", "/ info  1"), "<info><administrators>demo,admin</administrators></info>");
    EXPECT_EQ(call("GetChildren", "/"), "Media,/media,Projects,/projects,Scratch,/scratch");
    EXPECT_EQ(call("GetNodeTypeStr", "\"/media/Summer 2014/beach\""), "CLIP");
    EXPECT_EQ(call("QueryVersion", ""), "2014 0");

    const CorvaneDaemonInfo info{Corvane::rcAttrStream(call("GetDaemonInfo", "\"\""))};
    EXPECT_EQ(info.getNodePort(), port_);
    EXPECT_STREQ(info.getDisplayName(), "corvane-sim");
    EXPECT_STREQ(info.getDatabase(), "OBRAN");
    EXPECT_EQ(info.getVersionBuild(), 6115);

    EXPECT_TRUE(exitedCleanly(child_->stop(kStopMs)));
    std::string result;
    EXPECT_FALSE(api_.call(0, "Ping", "", true, result, kCallMs));
}

TEST_F(SimProcessTest, SigtermIsPromptWhileAReplyIsHeld) {
    start({"--delay-method", "GetMetaData:600000"});
    std::string result;
    EXPECT_FALSE(api_.call(0, "GetMetaData", "/ info  1", true, result, 200));
    EXPECT_TRUE(exitedCleanly(child_->stop(kStopMs)));
}

}  // namespace
