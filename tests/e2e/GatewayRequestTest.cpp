// The gateway as a process: what only a process shows (its standard
// output and exit status, several runs at once), and the same program as
// a FastCGI server answering byte for byte as its CGI runs do. The
// requests and their answers are tested through the driver in
// tests/gateway.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

#include "GatewayFixture.h"
#include "support/Eventually.h"
#include "support/SimProcess.h"

namespace {

class GatewayRequestTest : public GatewayFixture {
protected:
    CorvaneTest::ProcessResult save(const std::string& user, const std::string& document) {
        return post("mode=saveUser&host=h&nodeId=n&corvaneMetadata=" + document, {{"REMOTE_USER", user}});
    }
};

TEST_F(GatewayRequestTest, StandardOutputCarriesOnlyTheDocument) {
    // Verbose log lines must not leak into the response unless a level is asked for.
    const std::map<std::string, std::string> env{{"XQ_MSG_VERBOSE", "1"}, {"REMOTE_USER", "v"}};
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"mode=saveUser", "host=h", "nodeId=n", "corvaneMetadata=x"},
             {"mode=loadUser", "host=h", "nodeId=n"},
             {"mode=getMetadata", "host=127.0.0.1:1", "nodeId=n", "streamName=s"},
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
                const std::string out = run({"mode=loadUser", "host=h", "nodeId=n"}, {{"REMOTE_USER", "race"}}).out;
                if (out != ok("<response>" + a + "</response>\n") && out != ok("<response>" + b + "</response>\n"))
                    ++bad;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(bad.load(), 0);
}

// The gateway served by spawn-fcgi from the fixture's directory, as nginx
// and Apache use it, beside a sim whose GetMetaData takes 300 ms. Its start
// argument must not become a parameter of every request.
class FastCgiGatewayTest : public GatewayFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.started());
        CorvaneTest::ProcessOptions options;
        options.env = {{"PATH", "/usr/bin:/bin"}};
        options.cwd = dir_.path();
        gateway_ = std::make_unique<CorvaneTest::ChildProcess>(
            std::vector<std::string>{"spawn-fcgi", "-n", "-s", socket(), "--", CorvaneTest::binPath("corvane-gateway"),
                                     "mode=getUser"},
            options);
        ASSERT_TRUE(CorvaneTest::eventually([this] { return access(socket().c_str(), F_OK) == 0; }));
    }
    std::string socket() const { return dir_.file("gateway.socket"); }
    // cgi-fcgi hands its environment and standard input on as a FastCGI
    // request, as a web server would, and prints the answer.
    std::vector<std::string> cgiFcgi() const { return {"cgi-fcgi", "-bind", "-connect", socket()}; }
    CorvaneTest::ProcessResult fastCgi(const std::map<std::string, std::string>& env, const std::string& body = "") {
        CorvaneTest::ProcessOptions options;
        options.env = env;
        options.env["PATH"] = "/usr/bin:/bin";
        options.input = body;
        return CorvaneTest::runProcess(cgiFcgi(), options);
    }
    std::map<std::string, std::string> query(const std::string& text) const {
        return {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", text}, {"REMOTE_USER", "al"}};
    }
    static std::map<std::string, std::string> form(const std::string& length) {
        return {{"REQUEST_METHOD", "POST"},
                {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                {"CONTENT_LENGTH", length},
                {"REMOTE_USER", "al"}};
    }

    CorvaneTest::SimProcess sim_{CorvaneTest::SimProcess::demoTree(), {"--delay-method", "GetMetaData:300"}};
    std::unique_ptr<CorvaneTest::ChildProcess> gateway_;
};

TEST_F(FastCgiGatewayTest, AnswersAndAccountFilesAreThoseOfTheCgiRun) {
    const std::string save = "mode=saveUser&host=h&nodeId=n&corvaneMetadata=%3Cp%2F%3E";
    const struct {
        std::map<std::string, std::string> env;
        std::string body;
    } cases[] = {
        {query("mode=getUser&host=h&nodeId=n"), ""},
        {query("mode=getMetadata&host=" + sim_.host() + "&nodeId=/,/media/clip&streamName=info"), ""},
        {query("mode=getMetadata&host=127.0.0.1:1&nodeId=a<b&streamName=s"), ""},
        {form(std::to_string(save.size())), save},
        {query("mode=loadUser&host=h&nodeId=n"), ""},
        {form("100"), save},                   // short body
        {form("99999999999999999999"), save},  // larger than any form
        {{{"REQUEST_METHOD", "PUT"}}, ""},
        {{}, ""},
    };
    const std::string account = dir_.file("account/al.xml");
    for (const auto& c : cases) {
        const bool existed = access(account.c_str(), F_OK) == 0;
        const std::string before = CorvaneTest::readFile(account);
        const CorvaneTest::ProcessResult cgi = run({}, c.env, c.body);
        const std::string cgiAccount = CorvaneTest::readFile(account);
        if (existed)
            dir_.write("account/al.xml", before);
        else
            ::unlink(account.c_str());
        const CorvaneTest::ProcessResult answer = fastCgi(c.env, c.body);
        const std::string label = c.env.count("QUERY_STRING") ? c.env.at("QUERY_STRING") : c.body;
        EXPECT_EQ(answer.out, cgi.out) << label;
        EXPECT_EQ(answer.err, cgi.err) << label;
        EXPECT_EQ(CorvaneTest::readFile(account), cgiAccount) << label;
    }
}

TEST_F(FastCgiGatewayTest, ConnectionDroppedMidRequestLeavesTheGatewayServing) {
    // A web server that goes away mid-request costs that answer only.
    const auto slow = query("mode=getMetadata&host=" + sim_.host() + "&nodeId=/&streamName=info");
    CorvaneTest::ProcessOptions options;
    options.env = slow;
    {
        CorvaneTest::ChildProcess client(cgiFcgi(), options);
        ASSERT_TRUE(CorvaneTest::eventually([this] { return !sim_.calls("GetMetaData").empty(); }));
        client.stop();
    }
    EXPECT_EQ(fastCgi(query("mode=getUser&host=h&nodeId=n")).out, ok("<response>al</response>\n"));
    EXPECT_NE(fastCgi(slow).out.find("<administrators>demo,admin</administrators>"), std::string::npos);
}

}  // namespace
