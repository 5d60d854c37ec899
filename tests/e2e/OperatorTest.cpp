// The gateway as an operator meets it: its options at a shell, the settings
// check, ping and status (refused to users the site does not name), the
// metrics text read by a real parser, the access and slow-request lines,
// and library messages kept out of the answer.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <regex>
#include <sstream>

#include "FastCgiGateway.h"
#include "GatewayFixture.h"
#include "support/FastCgiClient.h"
#include "support/LoopbackListener.h"
#include "support/SimProcess.h"

namespace {

using Variables = std::map<std::string, std::string>;

using OperatorTest = FastCgiFixture;

TEST_F(OperatorTest, OptionsAnswerAtAShellAndRequestsUnderAWebServer) {
    allowMalformedContent();
    const struct {
        std::vector<std::string> args;
        Variables env;
        int exitStatus;
        std::string out, err;
    } cases[] = {
        {{"--version"}, {}, 0, "corvane-gateway 0.1.0\nCorvane client library 0.1.0 (protocol 2014.0.0)\nbuild: ", ""},
        {{"--help"}, {}, 0, "--check", ""},
        {{"--versoin"}, {}, 2, "", "unknown option '--versoin'"},
        {{"--version", "--help"}, {}, 2, "", "unknown option"},
        // Under a web server every argument is the request's.
        {{"--version"}, {{"GATEWAY_INTERFACE", "CGI/1.1"}, {"REMOTE_USER", "u"}}, 0, "Corvane server not specified", ""},
        {{"mode=ping"}, {}, 0, ok("<response>pong</response>\n"), ""},
    };
    for (const auto& c : cases) {
        const auto result = run(c.args, c.env);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.args[0];
        EXPECT_NE(result.out.find(c.out), std::string::npos) << c.args[0] << ": " << result.out;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << c.args[0] << ": " << result.err;
    }
}

TEST_F(OperatorTest, CheckNamesEachBrokenSettingOnItsOwnLine) {
    allowMalformedContent();
    const std::string good = dir_.write("good.cfg", "[Local]\nUUID = 0f4c2f1e-1111-4a6e-9d3b-2c1a3b4c5d6e\n"
                                              "[SelfDiscovery]\nPort = 7555\nTTL = 1\nScope = 224.0.0.1\n");
    const Variables fine{{"CORVANE_ALLOWED_SERVERS", "discovered 127.0.0.1:7549 [::1]:7549 10.0.0.0/8 localhost"},
                         {"CORVANE_TRUSTED_ORIGINS", "https://intranet.example:8443 http://gw.test http://g"},
                         {"CORVANE_REQUEST_TIMEOUT", "60000"},
                         {"CORVANE_ACCESS_LOG", "1"},
                         {"XQ_MSG_LEVEL", "user"},  // the lowest level, 0
                         {"XQ_CORVANE_TRACE", "0"},
                         {"CORVANE_STATUS_USERS", "ops, admin"},
                         {"CORVANE_NETWORK_CONFIG", good}};
    const auto passed = run({"--check"}, fine);
    EXPECT_EQ(passed.exitStatus, 0) << passed.out;
    EXPECT_EQ(passed.out, "Settings OK\n");

    const struct {
        const char* name;
        std::string value;
        std::string line;
    } cases[] = {
        {"CORVANE_REQUEST_TIMEOUT", "5s", "CORVANE_REQUEST_TIMEOUT='5s' is not a whole number"},
        {"CORVANE_LOGIN_TIMEOUT", "", "CORVANE_LOGIN_TIMEOUT='' is not a whole number"},
        {"CORVANE_ACCESS_LOG", "yes", "CORVANE_ACCESS_LOG='yes' is not 0 or 1"},
        {"XQ_CORVANE_TRACE", "on", "XQ_CORVANE_TRACE='on' is not 0 or 1"},
        {"XQ_MSG_LEVEL", "loud", "XQ_MSG_LEVEL='loud' is not one of"},
        {"CORVANE_ALOWED_SERVERS", "h", "'CORVANE_ALOWED_SERVERS' is no setting of the gateway"},
        {"CORVANE_ALLOWED_SERVERS", "discovered bad!entry", "the entry 'bad!entry' is not a host"},
        // The test's network namespace has only lo: a name the hosts file
        // lacks fails at once, and no query leaves the machine.
        {"CORVANE_ALLOWED_SERVERS", "nowhere.invalid:7549", "the name 'nowhere.invalid' does not resolve: "},
        {"CORVANE_TRUSTED_ORIGINS", "intranet.example", "'intranet.example' is not an origin"},
        {"CORVANE_TRUSTED_ORIGINS", "http://", "'http://' is not an origin"},
        {"CORVANE_NETWORK_CONFIG", dir_.path() + "/none.cfg", "none.cfg' does not exist"},
        {"CORVANE_NETWORK_CONFIG", dir_.write("uuid.cfg", "[Local]\nUUID = 0f4c2f1e-xyz\n"),
         "Invalid UUID '0f4c2f1e-xyz'"},
        {"CORVANE_NETWORK_CONFIG", dir_.write("scope.cfg", "[SelfDiscovery]\nScope = group\n"), "Scope 'group' is not"},
        {"CORVANE_NETWORK_CONFIG", dir_.write("syntax.cfg", "Port = 1\n"), "Ignoring line 1 of"},
    };
    for (const auto& c : cases) {
        Variables env = fine;
        env[c.name] = c.value;
        const auto result = run({"--check"}, env);
        EXPECT_EQ(result.exitStatus, 1) << c.name << "=" << c.value;
        EXPECT_NE(result.out.find(c.line), std::string::npos) << c.name << "=" << c.value << ": " << result.out;
        EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1) << result.out;
    }

    // A directory this user may not write: root passes every such test,
    // so root runs the check as nobody, who may reach it but not use it.
    const std::string account = dir_.path() + "/account";
    const bool root = ::geteuid() == 0;
    ASSERT_EQ(root ? ::chmod(dir_.path().c_str(), 0755) : ::chmod(account.c_str(), 0500), 0);
    CorvaneTest::ProcessOptions options;
    options.env = fine;
    options.env["PATH"] = "/usr/bin:/bin";
    options.cwd = dir_.path();
    if (root)
        options.beforeExec = [] {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(99);
        };
    const auto denied = CorvaneTest::runProcess({CorvaneTest::binPath("corvane-gateway"), "--check"}, options);
    EXPECT_EQ(denied.exitStatus, 1);
    EXPECT_EQ(denied.out, "./account: this user can not read and write it: Permission denied\n");
    ASSERT_EQ(::chmod((root ? dir_.path() : account).c_str(), 0700), 0);

    // Gone, or a file in its place.
    ASSERT_EQ(::rename((dir_.path() + "/account").c_str(), (dir_.path() + "/moved").c_str()), 0);
    for (const bool asFile : {false, true}) {
        if (asFile)
            dir_.write("account", "");
        const auto noAccounts = run({"--check"}, fine);
        EXPECT_EQ(noAccounts.exitStatus, 1) << asFile;
        EXPECT_EQ(noAccounts.out, "./account: not a directory (Invalid account directory)\n") << asFile;
    }
}

TEST_F(OperatorTest, StatusGoesOnlyToTheUsersTheSiteNames) {
    const struct {
        std::string user, allowed;
        bool shown;
    } cases[] = {
        {"ops", "ops", true}, {"ops", "admin,ops", true}, {"eve", "ops", false},
        {"op", "ops", false}, {"ops", "", false},         {"", "ops", false},
    };
    for (const auto& c : cases) {
        const auto result =
            get("mode=status", {{"GATEWAY_INTERFACE", "CGI/1.1"}, {"REMOTE_USER", c.user}, {"CORVANE_STATUS_USERS", c.allowed}});
        EXPECT_EQ(result.out.find("<status><started>") != std::string::npos, c.shown) << c.user << ": " << result.out;
        if (!c.shown) {
            EXPECT_EQ(result.out.rfind(c.user.empty() ? "Status: 401" : "Status: 403", 0), 0u) << result.out;
        }
    }
    // Its answer keeps the limit every answer keeps.
    EXPECT_EQ(get("mode=status", {{"GATEWAY_INTERFACE", "CGI/1.1"},
                                  {"REMOTE_USER", "ops"},
                                  {"CORVANE_STATUS_USERS", "ops"},
                                  {"CORVANE_MAX_RESPONSE_BYTES", "100"}})
                  .out,
              error("Response too large"));
}

TEST_F(OperatorTest, LogLinesGoToTheErrorStreamAndNeverIntoTheAnswer) {
    CorvaneTest::SimProcess sim(CorvaneTest::SimProcess::demoTree());
    ASSERT_TRUE(sim.started());
    const CorvaneTest::LoopbackListener silent;
    const Variables web{{"GATEWAY_INTERFACE", "CGI/1.1"}, {"REMOTE_USER", "al\nx"}, {"CORVANE_ACCESS_LOG", "1"}};
    const std::string stuck = "mode=getMetadata&nodeId=/&streamName=info&host=127.0.0.1:" + std::to_string(silent.port());

    // Library messages at debug level, the access line with its escaped user.
    Variables debug = web;
    debug["XQ_MSG_LEVEL"] = "debug";
    const auto before = std::chrono::system_clock::now();
    const auto talked = get("mode=getMetadata&nodeId=/&streamName=info&host=" + sim.host(), debug);
    const auto after = std::chrono::system_clock::now();
    EXPECT_EQ(talked.out.rfind(ok("<response><node>"), 0), 0u) << talked.out;
    EXPECT_NE(talked.err.find("Connected to server"), std::string::npos) << talked.err;
    // The line's time is the request's, in UTC to the millisecond.
    std::smatch time;
    ASSERT_TRUE(std::regex_search(talked.err, time,
                                  std::regex("corvane-gateway: access ([0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:"
                                             "[0-9]{2}:[0-9]{2})\\.([0-9]{3})Z id=")))
        << talked.err;
    tm utc{};
    ASSERT_NE(strptime(time[1].str().c_str(), "%Y-%m-%dT%H:%M:%S", &utc), nullptr);
    const auto logged =
        std::chrono::system_clock::from_time_t(timegm(&utc)) + std::chrono::milliseconds(std::stoi(time[2]));
    EXPECT_LE(std::chrono::floor<std::chrono::milliseconds>(before), logged);
    EXPECT_LE(logged, after);
    EXPECT_NE(talked.err.find(" user=\"al\\nx\" mode=\"getMetadata\" hosts=\"" + sim.host() + "\" ms="),
              std::string::npos)
        << talked.err;
    EXPECT_NE(talked.err.find(" outcome=success\n"), std::string::npos) << talked.err;
    EXPECT_EQ(talked.err.find("corvane-gateway: slow"), std::string::npos) << talked.err;

    // A server that never answers the login holds the request past the
    // slow limit in the login.
    Variables slow = web;
    slow["CORVANE_LOGIN_TIMEOUT"] = "400";
    slow["CORVANE_SLOW_REQUEST_MS"] = "200";
    const auto held = get(stuck, slow);
    EXPECT_NE(held.err.find(" outcome=error\n"), std::string::npos) << held.err;
    const size_t line = held.err.find("corvane-gateway: slow ");
    ASSERT_NE(line, std::string::npos) << held.err;
    EXPECT_NE(held.err.find(" phase=login\n", line), std::string::npos) << held.err;
}

TEST_F(OperatorTest, StatusCountsAFastCgiProcesssRequestsAndServers) {
    allowMalformedContent();
    CorvaneTest::SimProcess sim(CorvaneTest::SimProcess::demoTree());
    ASSERT_TRUE(sim.started());
    int closedPort = 0;
    const CorvaneTest::ScopedFd closed = CorvaneTest::bindWithoutListening(&closedPort);
    startGateway({{"CORVANE_STATUS_USERS", "ops"}, {"XQ_MSG_LEVEL", "debug"}});
    const auto ask = [&](const std::string& query, const std::string& user = "al") {
        return gateway_->ask(fastCgiGet(query, user));
    };
    const std::string refused = "127.0.0.1:" + std::to_string(closedPort);
    EXPECT_NE(ask("mode=ping").find("<response>pong</response>"), std::string::npos);
    // The process's level holds for each request's library messages.
    CorvaneTest::FastCgiClient first(gateway_->socket());
    std::string out, err;
    ASSERT_TRUE(first.begin(fastCgiGet("mode=getMetadata&nodeId=/&streamName=info&host=" + sim.host())) &&
                first.sendBody("") && first.readAnswer(&out, 10000, &err));
    EXPECT_NE(out.find("<node>"), std::string::npos) << out;
    EXPECT_NE(err.find("Connected to server"), std::string::npos) << err;
    EXPECT_NE(ask("mode=getMetadata&nodeId=/&streamName=info&host=" + sim.host()).find("<node>"), std::string::npos);
    EXPECT_NE(ask("mode=getMetadata&nodeId=/&streamName=info&host=" + refused).find("<error>"), std::string::npos);
    for (int i = 0; i < 2; ++i)
        EXPECT_NE(ask("mode=destroyNode&nodeId=/x&host=" + sim.host()).find("Status: 405"), std::string::npos);
    EXPECT_NE(ask("mode=getUser&host=h&nodeId=n", "").find("Status: 401"), std::string::npos);
    EXPECT_NE(ask("mode=status", "eve").find("Status: 403"), std::string::npos);

    const std::string xml = ask("mode=status", "ops");
    for (const std::string& part :
         {std::string("<accepted>9</accepted><inFlight>1</inFlight>"),
          std::string("<mode name=\"getMetadata\">3</mode>"), std::string("<mode name=\"ping\">1</mode>"),
          std::string("<outcome name=\"success\">3</outcome>"), std::string("<outcome name=\"error\">1</outcome>"),
          std::string("<outcome name=\"refused401\">1</outcome>"),
          std::string("<outcome name=\"refused403\">1</outcome>"),
          std::string("<outcome name=\"refused405\">2</outcome>"),
          std::string("<threads><idle>7</idle><busy>1</busy><maxBusy>1</maxBusy>"),
          std::string("<latency><bucket leMs=\"1\">"), std::string("<bucket leMs=\"inf\">"),
          "<server host=\"" + sim.host() +
              "\"><openHandles>0</openHandles><connections>1</connections><calls>2</calls>"
              "<failures>0</failures><lastError></lastError>",
          "<server host=\"" + refused +
              "\"><openHandles>0</openHandles><connections>0</connections><calls>1</calls>"
              "<failures>1</failures><lastError>Connection refused</lastError>"})
        EXPECT_NE(xml.find(part), std::string::npos) << part << "\n" << xml;

    // The metrics text as a scraper reads it.
    const std::string text = ask("mode=status&format=prometheus", "ops");
    ASSERT_EQ(text.rfind("Content-Type: text/plain; version=0.0.4", 0), 0u) << text;
    const std::string script =
        "import sys\n"
        "from prometheus_client.parser import text_string_to_metric_families\n"
        "text = sys.stdin.read().split('\\n\\n', 1)[1]\n"
        "families = list(text_string_to_metric_families(text))\n"
        "print(*(f.name.replace('corvane_gateway_', '') + ':' + f.type for f in families))\n"
        "for family in families:\n"
        "    for s in family.samples:\n"
        "        exact = s.name.endswith(('_total', '_count', '_bucket', '_threads')) or 'last_error' in s.name\n"
        "        print(s.name, sorted(s.labels.items()), *([s.value] if exact else []))\n";
    CorvaneTest::ProcessOptions options;
    options.input = text;
    options.env = CorvaneTest::currentEnvironment();
    const auto parsed = CorvaneTest::runProcess({"/usr/bin/python3", "-c", script}, options);
    ASSERT_EQ(parsed.exitStatus, 0) << parsed.err << text;
    // Every family, in order, each with its type.
    EXPECT_EQ(parsed.out.substr(0, parsed.out.find('\n')),
              "start_time_seconds:gauge uptime_seconds:gauge requests_accepted:counter requests_in_flight:gauge "
              "requests_by_mode:counter requests_by_outcome:counter slow_requests:counter threads:gauge "
              "threads_max_busy:gauge live_streams:gauge server_open_handles:gauge server_connections:gauge "
              "server_calls:counter server_failures:counter server_last_error_info:gauge "
              "server_call_seconds:histogram");
    for (const std::string& sample :
         {std::string("corvane_gateway_start_time_seconds []"), std::string("corvane_gateway_uptime_seconds []"),
          std::string("corvane_gateway_requests_accepted_total [] 10.0"),
          std::string("corvane_gateway_threads [('state', 'idle')] 7.0"),
          std::string("corvane_gateway_threads [('state', 'busy')] 1.0"),
          std::string("corvane_gateway_requests_by_mode_total [('mode', 'status')] 2.0"),
          std::string("corvane_gateway_requests_by_outcome_total [('outcome', 'refused405')] 2.0"),
          "corvane_gateway_server_calls_total [('server', '" + sim.host() + "')] 2.0",
          "corvane_gateway_server_failures_total [('server', '" + refused + "')] 1.0",
          "corvane_gateway_server_last_error_info [('error', 'Connection refused'), ('server', '" + refused + "')] 1.0",
          "corvane_gateway_server_call_seconds_count [('server', '" + sim.host() + "')] 2.0",
          "corvane_gateway_server_call_seconds_sum [('server', '" + sim.host() + "')]",
          "corvane_gateway_server_call_seconds_bucket [('le', '+Inf'), ('server', '" + sim.host() + "')] 2.0"})
        EXPECT_NE(parsed.out.find(sample + "\n"), std::string::npos) << sample << "\n" << parsed.out;
}

}  // namespace
