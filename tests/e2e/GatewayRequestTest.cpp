// The gateway as a CGI process: what only a process shows (its standard
// output and exit status, and several runs at once). The requests and
// their answers are tested through the driver in tests/gateway.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "GatewayFixture.h"

namespace {

class GatewayRequestTest : public GatewayFixture {
protected:
    CorvaneTest::ProcessResult save(const std::string& user, const std::string& document) {
        return post("mode=saveUser&host=h&nodeId=n&corvaneMetadata=" + document, {{"REMOTE_USER", user}});
    }
    CorvaneTest::ProcessResult load(const std::string& user) {
        return run({"mode=loadUser", "host=h", "nodeId=n"}, {{"REMOTE_USER", user}});
    }
};

TEST_F(GatewayRequestTest, StandardOutputCarriesOnlyTheDocument) {
    // Verbose log lines must not leak into the response unless a level is asked for.
    const std::map<std::string, std::string> env{{"XQ_MSG_VERBOSE", "1"}, {"REMOTE_USER", "v"}};
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"mode=getUser", "host=h", "nodeId=n"},
             {"mode=saveUser", "host=h", "nodeId=n", "corvaneMetadata=x"},
             {"mode=loadUser", "host=h", "nodeId=n"},
             {"mode=getMetadata", "host=127.0.0.1:1", "nodeId=n", "streamName=s"},
             {"mode=isAdmin", "host=127.0.0.1:1", "nodeId=/"},
             {"mode=destroyNode", "host=127.0.0.1:1", "nodeId=n"},
             {"mode=createNode", "host=127.0.0.1:1", "nodeId=n", "type=FOLDER", "displayName=d"},
         }) {
        const auto result = run(args, env);
        const std::string& out = result.out;
        EXPECT_EQ(result.exitStatus, 0);
        ASSERT_EQ(out.rfind("Content-Type: text/xml\n\n<response>", 0), 0u) << out;
        const size_t end = out.find("</response>\n");
        ASSERT_NE(end, std::string::npos) << out;
        EXPECT_EQ(end + 12, out.size()) << "trailing output: " << out;
        EXPECT_EQ(out.find("[user]"), std::string::npos) << out;
    }
}

TEST_F(GatewayRequestTest, ConcurrentSavesAndLoadsNeverShowAHalfWrittenDocument) {
    // Large enough that an unlocked write would be seen in pieces.
    const std::string a(300000, 'a'), b(200000, 'b');
    save("race", a);
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 15; ++i)
                save("race", (i + t) % 2 ? a : b);
        });
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 15; ++i) {
                const std::string out = load("race").out;
                if (out != ok("<response>" + a + "</response>\n") && out != ok("<response>" + b + "</response>\n"))
                    ++bad;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(bad.load(), 0);
}

}  // namespace
