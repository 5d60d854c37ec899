// corvane-sim as users and the end-to-end tests run it: a separate process
// that prints its port, answers on the wire and stops on SIGTERM. Every other
// test exercises it further.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/rcApi/rcAPI.h"
#include "base/rcApi/rcAttrStream.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneMulticastProtocol.h"
#include "support/SimProcess.h"

namespace {

constexpr int kCallMs = 10000;

bool exitedCleanly(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

// User and system time of a process so far, in clock ticks.
long cpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    long ticks = 0;
    for (int i = 1; i <= 15 && in >> field; ++i)  // the name holds no blank
        if (i >= 14)
            ticks += std::stol(field);
    return ticks;
}

class SimProcessTest : public ::testing::Test {
protected:
    // Starts the server on the demo's own tree file, as the demo does, and connects to it.
    void start(const std::vector<std::string>& options = {}) {
        sim_ = std::make_unique<CorvaneTest::SimProcess>(
            CorvaneTest::readFile(CorvaneTest::sourcePath("sim/demo-tree.txt")), options);
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

// A held reply must not delay the stop.
TEST_F(SimProcessTest, ServesTheDemoTreeAndStopsOnSigtermWhileAReplyIsHeld) {
    start({"--delay-method", "Ping:600000"});
    EXPECT_EQ(call("GetMetaData", "/ info  1"), "<info><administrators>demo,admin</administrators></info>");
    EXPECT_EQ(call("GetChildren", "/"), "Media,/media,Projects,/projects,Scratch,/scratch");
    EXPECT_EQ(call("GetNodeTypeStr", "\"/media/Summer 2014/beach\""), "CLIP");
    EXPECT_EQ(call("QueryVersion", ""), "2014 0");

    const CorvaneDaemonInfo info{Corvane::rcAttrStream(call("GetDaemonInfo", "\"\""))};
    EXPECT_EQ(info.getNodePort(), sim_->port());
    EXPECT_STREQ(info.getDatabase(), "OBRAN");

    std::string result;
    EXPECT_FALSE(api_.call(0, "Ping", "", true, result, 200));
    EXPECT_TRUE(exitedCleanly(sim_->stop()));
}

TEST_F(SimProcessTest, GarbledRepliesFailTheCallAndEndTheConnection) {
    start({"--garbage-on", "GetMetaData", "--cut-reply-on", "GetChildren"});
    const struct {
        const char* method;
        const char* args;
    } garbled[] = {{"GetMetaData", "/ info  1"}, {"GetChildren", "/"}};
    for (const auto& call : garbled) {
        std::string result;
        EXPECT_FALSE(api_.call(0, call.method, call.args, true, result, kCallMs)) << call.method << ": " << result;
        EXPECT_FALSE(api_.call(0, "QueryVersion", "", true, result, kCallMs)) << "open after " << call.method;
        ASSERT_TRUE(api_.connect("127.0.0.1", sim_->port(), kCallMs)) << api_.lastError();
    }
    EXPECT_EQ(call("QueryVersion", ""), "2014 0");
}

TEST_F(SimProcessTest, AnAskerGoneBeforeTheReplyLeavesDiscoveryIdle) {
    start();
    const std::string ask = CorvaneMulticastProtocol::encodeRequest(CorvaneMulticastProtocol::RequestType::FindServers,
                                                                    Corvane::rcAttrStream());
    sockaddr_in sim{};
    sim.sin_family = AF_INET;
    sim.sin_port = htons(7555);  // the default discovery port
    sim.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Each asker closes at once, so that its port refuses the reply.
    for (int i = 0; i < 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::sendto(fd, ask.data(), ask.size(), 0, reinterpret_cast<sockaddr*>(&sim), sizeof sim),
                  static_cast<ssize_t>(ask.size()));
        ::close(fd);
    }
    const long before = cpuTicks(sim_->pid());
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    // A loop that polls a socket left in error takes a whole core.
    EXPECT_LT(cpuTicks(sim_->pid()) - before, ticksPerSecond / 5);
}

}  // namespace
