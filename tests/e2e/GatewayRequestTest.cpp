// The gateway as a process: what only a process shows (its standard
// output and exit status, several runs at once), and the same program as
// a FastCGI server answering byte for byte as its CGI runs do. The
// requests and their answers are tested through the driver in
// tests/gateway.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "FastCgiGateway.h"
#include "GatewayFixture.h"
#include "support/Eventually.h"
#include "support/FastCgiClient.h"
#include "support/LoopbackListener.h"
#include "support/SimProcess.h"

namespace {

using GatewayRequestTest = GatewayFixture;

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
        ASSERT_EQ(out.rfind(ok("<response>"), 0), 0u) << out;
        const size_t end = out.find("</response>\n");
        ASSERT_NE(end, std::string::npos) << out;
        EXPECT_EQ(end + 12, out.size()) << "trailing output: " << out;
        EXPECT_EQ(out.find("[user]"), std::string::npos) << out;
    }
}

TEST_F(GatewayRequestTest, Utf8DisplayNameReachesTheServerFromACgiRun) {
    // The environment names no locale: the program must choose one that reads UTF-8, or the name leaves as "Caf? ?".
    // The sim names the new node after the name it received.
    CorvaneTest::SimProcess sim(CorvaneTest::SimProcess::demoTree());
    const std::string name = "Caf\xc3\xa9 \xe2\x98\x95";
    EXPECT_EQ(
        get("mode=createNode&host=" + sim.host() + "&nodeId=/scratch&type=FOLDER&displayName=" + encode(name)).out,
        ok("<response><node>/scratch/" + name + "</node></response>\n"));
}

TEST_F(GatewayRequestTest, ConcurrentSavesAndLoadsNeverShowAHalfWrittenDocument) {
    // Large enough that an unlocked write would be seen in pieces.
    const std::string a(300000, 'a'), b(200000, 'b');
    const auto save = [this](const std::string& document) {
        post("mode=saveUser&host=h&nodeId=n&corvaneMetadata=" + document, {{"REMOTE_USER", "race"}});
    };
    save(a);
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 15; ++i)
                save((i + t) % 2 ? a : b);
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

// The gateway as a FastCGI server in the fixture's directory, beside a sim
// whose GetMetaData takes 300 ms: started by spawn-fcgi, as nginx and
// Apache use it (its start argument must not become a parameter of every
// request), or on a socket passed the way systemd's socket activation
// passes it, as the shipped units do.
class FastCgiGatewayTest : public GatewayFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.started());
        startGateway(false);
    }
    // Ends the running gateway first. env: more of the gateway's environment.
    void startGateway(bool activated, const std::map<std::string, std::string>& env = {}) {
        gateway_.reset();
        listener_.reset();
        ::unlink(socket().c_str());
        CorvaneTest::ProcessOptions options;
        options.env = env;
        options.env["PATH"] = "/usr/bin:/bin";
        options.cwd = dir_.path();
        const std::string program = CorvaneTest::binPath("corvane-gateway");
        if (!activated) {
            gateway_ = std::make_unique<CorvaneTest::ChildProcess>(
                std::vector<std::string>{"spawn-fcgi", "-n", "-s", socket(), "--", program, "mode=getUser"}, options);
            // spawn-fcgi makes the socket file a moment before it listens.
            ASSERT_TRUE(CorvaneTest::eventually([this] { return CorvaneTest::connectLocal(socket()).valid(); }));
            return;
        }
        // The listening socket as descriptor 3 and LISTEN_PID naming the
        // gateway's own process, which the shell keeps across its exec.
        listener_ = std::make_unique<CorvaneTest::LocalListener>(socket());
        options.beforeExec = activation(listener_->fd());
        options.env["LISTEN_FDS"] = "1";
        gateway_ = std::make_unique<CorvaneTest::ChildProcess>(
            std::vector<std::string>{"sh", "-c", "LISTEN_PID=$$ exec \"$0\"", program}, options);
    }
    // Run in the child: listener becomes its descriptor 3, open across exec.
    static std::function<void()> activation(int listener) {
        return [listener] {
            ::dup2(listener, 3);
            ::fcntl(3, F_SETFD, 0);
        };
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
    static std::map<std::string, std::string> rootInfo(const CorvaneTest::SimProcess& sim) {
        return fastCgiGet("mode=getMetadata&host=" + sim.host() + "&nodeId=/&streamName=info");
    }

    CorvaneTest::SimProcess sim_{CorvaneTest::SimProcess::demoTree(), {"--delay-method", "GetMetaData:300"}};
    std::unique_ptr<CorvaneTest::LocalListener> listener_;  // the socket passed to an activated gateway
    std::unique_ptr<CorvaneTest::ChildProcess> gateway_;
};

TEST_F(FastCgiGatewayTest, AnswersAndAccountFilesAreThoseOfTheCgiRun) {
    const std::string save = "mode=saveUser&host=h&nodeId=n&corvaneMetadata=%3Cp%2F%3E";
    const struct {
        std::map<std::string, std::string> env;
        std::string body;
    } cases[] = {
        {fastCgiGet("mode=getUser&host=h&nodeId=n"), ""},
        {fastCgiGet("mode=getMetadata&host=" + sim_.host() + "&nodeId=/,/media/clip&streamName=info"), ""},
        {fastCgiGet("mode=getMetadata&host=127.0.0.1:1&nodeId=a<b&streamName=s"), ""},
        {fastCgiGet("mode=getChildren&host=" + sim_.host() + "&nodeId=/,/media&withTypes=1"), ""},
        {fastCgiGet("mode=getNodeInfo&host=" + sim_.host() + "&nodeId=/media/clip,/nope"), ""},
        {fastCgiGet("mode=getNodeInfo&host=" + sim_.host() + "&nodeId=/media/clip"), ""},
        {fastCgiPost(save.size()), save},
        {fastCgiGet("mode=loadUser&host=h&nodeId=n"), ""},
        {fastCgiPost(100), save},                                              // short body
        {fastCgiPost(0, {{"CONTENT_LENGTH", "99999999999999999999"}}), save},  // larger than any form
        {{{"REQUEST_METHOD", "PUT"}, {"REMOTE_USER", "al"}}, ""},
        {{{"REMOTE_USER", "al"}}, ""},
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
        if (label.find(sim_.host()) != std::string::npos && label.find("/nope") == std::string::npos) {
            EXPECT_FALSE(failed(cgi)) << label << "\n" << cgi.out;
        }
        EXPECT_EQ(answer.err, cgi.err) << label;
        EXPECT_EQ(CorvaneTest::readFile(account), cgiAccount) << label;
    }
}

TEST_F(FastCgiGatewayTest, ConnectionDroppedMidRequestLeavesTheGatewayServing) {
    // A web server that goes away mid-request costs that answer only.
    const auto slow = rootInfo(sim_);
    CorvaneTest::ProcessOptions options;
    options.env = slow;
    {
        CorvaneTest::ChildProcess client(cgiFcgi(), options);
        ASSERT_TRUE(CorvaneTest::eventually([this] { return !sim_.calls("GetMetaData").empty(); }));
        client.stop();
    }
    EXPECT_EQ(fastCgi(fastCgiGet("mode=getUser&host=h&nodeId=n")).out, ok("<response>al</response>\n"));
    EXPECT_NE(fastCgi(slow).out.find("<administrators>demo,admin</administrators>"), std::string::npos);
}

TEST_F(FastCgiGatewayTest, ServesTheSocketSystemdPassesIt) {
    startGateway(true);
    for (int round = 0; round < 2; ++round) {
        // A gateway that ran as CGI instead leaves the request waiting for the client's time-out.
        ASSERT_EQ(fastCgi(fastCgiGet("mode=getUser&host=h&nodeId=n")).out, ok("<response>al</response>\n"));
        EXPECT_NE(fastCgi(rootInfo(sim_)).out.find("<administrators>demo,admin</administrators>"), std::string::npos);
    }
    // Descriptors passed to another process are not the program's: it runs once, as CGI.
    CorvaneTest::ProcessOptions options;
    options.env = {{"PATH", "/usr/bin:/bin"}, {"LISTEN_PID", "1"}, {"LISTEN_FDS", "1"}};
    options.cwd = dir_.path();
    options.beforeExec = activation(listener_->fd());
    const auto cgi = CorvaneTest::runProcess({CorvaneTest::binPath("corvane-gateway")}, options);
    EXPECT_EQ(cgi.out, error("Corvane server not specified"));
    EXPECT_EQ(cgi.exitStatus, 0);
}

TEST_F(FastCgiGatewayTest, BrowseLimitComesFromTheRequestElseTheProcess) {
    // XQ_CVC_BROWSE_TIMEOUT: a CGI run's from its environment; a FastCGI
    // request's from its own variables, else from the gateway's environment.
    startGateway(false, {{"XQ_CVC_BROWSE_TIMEOUT", "1000"}});
    // Well within the default limit of 25 s; a second to connect and log in before the watchdog strikes.
    CorvaneTest::SimProcess slow(CorvaneTest::SimProcess::demoTree(), {"--delay-method", "GetMetaData:2500"});
    ASSERT_TRUE(slow.started());
    const std::string aborted = error("Software caused connection abort");
    auto cgi = rootInfo(slow);
    cgi["XQ_CVC_BROWSE_TIMEOUT"] = "1000";
    EXPECT_EQ(run({}, cgi).out, aborted);
    EXPECT_EQ(fastCgi(rootInfo(slow)).out, aborted);
    auto own = rootInfo(slow);
    own["XQ_CVC_BROWSE_TIMEOUT"] = "20000";
    EXPECT_NE(fastCgi(own).out.find("<administrators>demo,admin</administrators>"), std::string::npos);
}

TEST_F(FastCgiGatewayTest, ReloadThatCannotStartTheProgramAgainSaysWhyAndEnds) {
    // The program's file is one the process may no longer run.
    const std::string program = dir_.file("corvane-gateway");
    std::filesystem::copy_file(CorvaneTest::binPath("corvane-gateway"), program);
    gateway_.reset();
    ::unlink(socket().c_str());
    CorvaneTest::ProcessOptions options;
    options.env["PATH"] = "/usr/bin:/bin";
    options.cwd = dir_.path();
    gateway_ = std::make_unique<CorvaneTest::ChildProcess>(
        std::vector<std::string>{"sh", "-c", "exec spawn-fcgi -n -s \"$0\" -- \"$1\" 2>err", socket(), program},
        options);
    ASSERT_TRUE(CorvaneTest::eventually(
        [&] { return fastCgi(fastCgiGet("mode=ping")).out.find("pong") != std::string::npos; }));
    std::filesystem::permissions(program, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_EQ(::kill(gateway_->pid(), SIGHUP), 0);
    std::string err;
    EXPECT_TRUE(CorvaneTest::eventually([&] {
        err = CorvaneTest::readFile(dir_.file("err"));
        return !err.empty();
    })) << "nothing said";
    EXPECT_EQ(err, "corvane-gateway: could not start again: Permission denied\n");
    const int status = gateway_->stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
}

// The sockets a process holds open.
size_t socketsOf(pid_t pid) {
    size_t count = 0;
    std::error_code ignored;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored))
        count += std::filesystem::read_symlink(fd.path(), ignored).string().rfind("socket:", 0) == 0;
    return count;
}

// A signal sent to the process and not yet taken.
bool pending(pid_t pid, int signal) {
    const std::string status = CorvaneTest::readFile("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("ShdPnd:\t");
    return at != std::string::npos && (std::stoull(status.substr(at + 8, 16), nullptr, 16) >> (signal - 1)) & 1;
}

TEST_F(FastCgiGatewayTest, StopSignalsServeWhatWasTakenAndReloadKeepsTheSocket) {
    // A stop ended one thread's wait for a connection while the others
    // waited on; a reload that let the socket go refused what came
    // meanwhile; a stop closed the connections taken whose request had not
    // all arrived, or waited on a kept one that carried none; a second
    // reload during the first ended the process.
    const auto slow = rootInfo(sim_);
    const auto getUser = fastCgiGet("mode=getUser&host=h&nodeId=n");
    for (const int signal : {SIGTERM, SIGQUIT, SIGHUP}) {
        startGateway(false);
        const pid_t pid = gateway_->pid();
        CorvaneTest::FastCgiClient kept(socket());
        std::string out;
        ASSERT_TRUE(kept.begin(getUser, true) && kept.sendBody("") && kept.readAnswer(&out));
        const size_t callsBefore = sim_.calls("GetMetaData").size();
        // Its destructor waits for the answer, where a failed assertion returns.
        auto slowAnswer = std::async(std::launch::async, [&] { return fastCgi(slow); });
        ASSERT_TRUE(CorvaneTest::eventually([&] { return sim_.calls("GetMetaData").size() > callsBefore; }));
        const size_t sockets = socketsOf(pid);
        CorvaneTest::FastCgiClient late(socket());
        ASSERT_TRUE(CorvaneTest::eventually([&] { return socketsOf(pid) > sockets; })) << "not taken";
        ASSERT_EQ(::kill(pid, signal), 0);
        ASSERT_TRUE(CorvaneTest::eventually([&] { return !pending(pid, signal); }));
        // Another reload before this one is done waits for the next program.
        if (signal == SIGHUP) {
            ASSERT_EQ(::kill(pid, SIGHUP), 0);
        }
        ASSERT_TRUE(late.begin(getUser) && late.sendBody("") && late.readAnswer(&out)) << signal;
        EXPECT_EQ(out, ok("<response>al</response>\n"));
        EXPECT_TRUE(kept.closedWithin(3000)) << signal;
        CorvaneTest::ProcessResult during;
        if (signal == SIGHUP)
            during = fastCgi(fastCgiGet("mode=ping"));
        const CorvaneTest::ProcessResult answer = slowAnswer.get();
        EXPECT_NE(answer.out.find("<administrators>demo,admin</administrators>"), std::string::npos) << answer.out;
        // The last field of the process's stat: its exit status once it ended.
        const auto stat = [pid] { return CorvaneTest::readFile("/proc/" + std::to_string(pid) + "/stat"); };
        const auto ended = [&] {
            const size_t close = stat().rfind(')');
            return close == std::string::npos || stat().compare(close + 2, 1, "Z") == 0;
        };
        if (signal != SIGHUP) {
            ASSERT_TRUE(CorvaneTest::eventually(ended, 3000)) << signal;
            EXPECT_EQ(stat().substr(stat().rfind(' ') + 1), "0\n") << signal;
            continue;
        }
        EXPECT_NE(during.out.find("<response>pong</response>"), std::string::npos) << during.out;
        EXPECT_NE(fastCgi(fastCgiGet("mode=ping")).out.find("<response>pong</response>"), std::string::npos);
        EXPECT_FALSE(ended());
    }
}

}  // namespace
