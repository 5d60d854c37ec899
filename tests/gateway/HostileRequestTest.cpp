// Requests an attacker would send: markup and control characters in what
// the gateway echoes, requests from other sites, users that reach for
// another's account, and servers the site does not serve. Each must be
// refused or answered as data, with nothing changed on disk or a server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "CgiRequest.h"
#include "DriverFixture.h"
#include "GatewayStatus.h"
#include "support/SimProcess.h"

namespace {

using CorvaneTest::ProcessResult;
using CorvaneTest::SimProcess;
using Env = std::map<std::string, std::string>;

class HostileRequestTest : public DriverFixture {
protected:
    std::string account(const std::string& file) const {
        std::ifstream in(dir_.file("account/" + file));
        std::stringstream text;
        text << in.rdbuf();
        return in ? text.str() : "<none>";
    }
    // The names in ./account, lock and temporary files included.
    std::vector<std::string> accountEntries() const {
        std::vector<std::string> names;
        std::error_code error;  // none listed then
        for (const auto& entry : std::filesystem::directory_iterator(dir_.file("account"), error))
            names.push_back(entry.path().filename());
        return names;
    }
    // A request as a web server passes it on.
    static Env web(Env env) {
        env.emplace("GATEWAY_INTERFACE", "CGI/1.1");
        env.emplace("REMOTE_USER", "alice");
        return env;
    }
};

TEST_F(HostileRequestTest, EchoedValuesAreTextAndBadServersAreRefusedBeforeAnyCall) {
    SimProcess sim(std::string(SimProcess::demoTree()) +
                   "node /scratch/<b>&'x CLIP Bad\nmeta /scratch/<b>&'x info <i/>\n");
    ASSERT_TRUE(sim.started());
    const std::string h = sim.host();
    const std::string script = "<x:script xmlns:x=\"http://www.w3.org/1999/xhtml\">alert(1)</x:script>";
    struct Case {
        std::vector<std::string> args;
        Env env;
        std::string out;
        std::string err;  // the error line
    } cases[] = {
        {{"mode=getMetadata", "host=" + h + script, "nodeId=/", "streamName=info"},
         {},
         error("Invalid Corvane server &apos;" + h +
               "&lt;x:script xmlns:x=&quot;http://www.w3.org/1999/xhtml&quot;&gt;alert(1)&lt;/x:script&gt;&apos;"),
         "Invalid Corvane server '" + h + script + "' on host " + h + script},
        {{"mode=destroyNode", "host=" + h + "%0Aforged%1B%7F line", "nodeId=/media"},
         {},
         error("Invalid Corvane server &apos;" + h + "\nforged\xef\xbf\xbd\x7f line&apos;"),
         "Invalid Corvane server '" + h + "\\nforged\\x1b\\x7f line' on host " + h + "\\nforged\\x1b\\x7f line"},
        {{"mode=createNode", "host=h:0", "nodeId=/", "displayName=x"},
         {},
         error("Invalid Corvane server &apos;h:0&apos;"),
         "Invalid Corvane server 'h:0' on host h:0"},
        {{"mode=getMetadata", "host=" + h, "nodeId=/<b>&amp;", "streamName=info"},
         {},
         error("Node &apos;/&lt;b&gt;&amp;amp;&apos; does not exist"),
         "Node '/<b>&amp;' does not exist on host " + h},
        {{"mode=getMetadata", "host=" + h, "nodeId=/scratch/%3Cb%3E%26'x", "streamName=info"},
         {},
         ok("<response><node><nodeId>/scratch/&lt;b&gt;&amp;&apos;x</nodeId><host>" + h +
            "</host><i/></node></response>\n"),
         ""},
        {{"mode=getUser", "host=h", "nodeId=1"},
         {{"REMOTE_USER", "DOM\\<b>\"&\x01"}},
         ok("<response>&lt;b&gt;&quot;&amp;\xef\xbf\xbd</response>\n"),
         ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args;
        for (const std::string& a : c.args)
            args.push_back(a.substr(0, a.find('=') + 1) + CgiRequest::decode(a.substr(a.find('=') + 1)));
        const auto result = run(args, c.env);
        EXPECT_EQ(result.out, c.out) << c.args[1];
        EXPECT_EQ(result.err, c.err) << c.args[1];
    }
    EXPECT_TRUE(sim.calls("DestroyNode").empty());
    EXPECT_TRUE(sim.calls("CreateNodeEx").empty());

    // A display name with markup comes back as the new node's escaped identifier.
    const auto created = run({"mode=createNode", "host=" + h, "nodeId=/scratch", "displayName=<i>&'", "type=FOLDER"});
    EXPECT_NE(created.out.find("<response><node>"), std::string::npos) << created.out;
    EXPECT_EQ(created.out.find("<i>"), std::string::npos) << created.out;
}

TEST_F(HostileRequestTest, ValuesWithANulAreRefusedNamingTheParameter) {
    SimProcess sim(SimProcess::demoTree());
    for (const std::string& query : {"mode=getMetadata&nodeId=/%00x&streamName=info&host=" + sim.host(),
                                     std::string("mode=saveUser&host=h&nodeId=1&corvaneMetadata=%3Ca%3E%00")}) {
        const auto result = get(query, {{"REMOTE_USER", "alice"}});
        const std::string name = query.find("saveUser") != std::string::npos ? "corvaneMetadata" : "nodeId";
        EXPECT_EQ(result.out, error("Parameter &apos;" + name + "&apos; holds a NUL byte")) << query;
    }
    EXPECT_TRUE(sim.calls().empty());
    EXPECT_EQ(account("alice.xml"), "<none>");
}

TEST_F(HostileRequestTest, RequestsFromOtherSitesAreRefusedBeforeTheyRun) {
    // Which requests are cross-site is OriginCheckTest's; here, that a refused one writes nothing.
    const std::string save = "mode=saveUser&host=h&nodeId=1&corvaneMetadata=%3Cprefs%2F%3E";
    Env env = web({{"HTTP_SEC_FETCH_SITE", "cross-site"},
                   {"CORVANE_TRUSTED_ORIGINS", "https://other.example https://intranet.example:8443"}});
    EXPECT_EQ(post(save, env).out, "Status: 403 Forbidden\n" + error("Cross-site request refused"));
    EXPECT_EQ(account("alice.xml"), "<none>");
    env["HTTP_ORIGIN"] = "https://intranet.example:8443";
    EXPECT_EQ(post(save, env).out, ok("<response></response>\n"));
    EXPECT_EQ(account("alice.xml"), "<prefs/>");
}

// Over plain http a browser says nowhere where a link, an image or a GET
// form comes from: under a web server a write runs only for a POST, and a
// refused one touches no server and no file.
TEST_F(HostileRequestTest, WritesUnderAWebServerRunOnlyForAPost) {
    SimProcess sim(SimProcess::demoTree());
    ASSERT_TRUE(sim.started());
    const std::string rest =
        "&host=" + sim.host() + "&nodeId=/nope&streamName=s&corvaneMetadata=%3Cp%2F%3E&displayName=N&type=FOLDER";
    const struct {
        const char* mode;
        bool writes;
    } modes[] = {{"saveUser", true},    {"setMetadata", true},          {"createNode", true},
                 {"destroyNode", true}, {"DestroyNodeRECURSIVE", true}, {"getMetadata", false},
                 {"loadUser", false}};
    const char* const methods[] = {"GET", "HEAD", "PUT", "OPTIONS", "get", "POST"};
    const char* const settings[] = {nullptr, "0", "1"};  // CORVANE_ALLOW_GET_WRITES
    for (const auto& m : modes) {
        for (const char* method : methods) {
            for (const bool fromWebServer : {true, false}) {
                for (const char* setting : settings) {
                    const std::string what = std::string(m.mode) + " " + method +
                                             (fromWebServer ? " web " : " shell ") + (setting ? setting : "unset");
                    Env env = fromWebServer ? web({{"REMOTE_USER", "alice"}}) : Env{{"REMOTE_USER", "alice"}};
                    if (setting)
                        env["CORVANE_ALLOW_GET_WRITES"] = setting;
                    const std::string query = std::string("mode=") + m.mode + rest;
                    sim.clearCalls();
                    if (std::string(method) != "POST") {
                        env["REQUEST_METHOD"] = method;
                        env["QUERY_STRING"] = query;
                    }
                    const ProcessResult result = std::string(method) == "POST" ? post(query, env) : run({}, env);
                    const bool getOrHead = std::string(method) == "GET" || std::string(method) == "HEAD";
                    const bool refused = fromWebServer && m.writes && std::string(method) != "POST" &&
                                         !(getOrHead && setting && std::string(setting) == "1");
                    if (refused) {
                        const std::string message = std::string("Mode '") + m.mode + "' needs a POST request";
                        EXPECT_EQ(result.out,
                                  "Status: 405 Method Not Allowed\nAllow: POST\n" +
                                      error("Mode &apos;" + std::string(m.mode) + "&apos; needs a POST request"))
                            << what;
                        // Other methods bring no parameters, which CgiRequest says first.
                        EXPECT_EQ(result.err, getOrHead ? message + " on host " + sim.host()
                                                        : "Unsupported request method." + message + " on host ")
                            << what;
                        EXPECT_TRUE(sim.calls().empty()) << what;
                        EXPECT_TRUE(accountEntries().empty()) << what;
                        continue;
                    }
                    EXPECT_EQ(result.out.find("Status:"), std::string::npos) << what << "\n" << result.out;
                    // A write that may run does: it reaches the server or the account file.
                    if (m.writes && (getOrHead || std::string(method) == "POST")) {
                        if (std::string(m.mode) == "saveUser") {
                            EXPECT_EQ(account("alice.xml"), "<p/>") << what;
                            for (const std::string& name : accountEntries())
                                ASSERT_EQ(unlink(dir_.file("account/" + name).c_str()), 0) << name;
                        } else {
                            EXPECT_FALSE(sim.calls().empty()) << what;
                        }
                    }
                }
            }
        }
    }
    EXPECT_TRUE(accountEntries().empty());

    // A name with a NUL byte is no mode; a refusal from another site says
    // so first, and one from nobody is still a refused method.
    const Env user = web({});
    EXPECT_EQ(get("mode=SAVEUSER%00%3Cb%3E" + rest, user).out, error("Parameter &apos;mode&apos; holds a NUL byte"));
    Env crossSite = user;
    crossSite["HTTP_SEC_FETCH_SITE"] = "cross-site";
    EXPECT_EQ(get("mode=createNode" + rest, crossSite).out,
              "Status: 403 Forbidden\n" + error("Cross-site request refused"));
    Env nobody = user;
    nobody.erase("REMOTE_USER");
    EXPECT_EQ(get("mode=createNode" + rest, nobody).out, "Status: 405 Method Not Allowed\nAllow: POST\n" +
                                                             error("Mode &apos;createNode&apos; needs a POST request"));
    EXPECT_TRUE(sim.calls().empty());
    EXPECT_TRUE(accountEntries().empty());
}

TEST_F(HostileRequestTest, EachUserReachesOnlyTheirOwnAccount) {
    const auto save = [&](const std::string& user, const std::string& doc, const Env& more = {}) {
        Env env = more;
        env["REMOTE_USER"] = user;
        return post("mode=saveUser&host=h&nodeId=1&corvaneMetadata=" + encode(doc), env).out;
    };
    ASSERT_EQ(save("alice", "<alice/>"), ok("<response></response>\n"));
    // Names that would share a file, or leave the directory, get one each.
    const std::pair<const char*, const char*> users[] = {
        {"mallory\\alice", "mallory%5Calice.xml"},
        {"../alice", "%2E.%2Falice.xml"},
        {".alice", "%2Ealice.xml"},
        {"al ice", "al%20ice.xml"},
        {"bob@EXAMPLE.org", "bob@EXAMPLE.org.xml"},
    };
    for (const auto& u : users) {
        EXPECT_EQ(save(u.first, "<them/>"), ok("<response></response>\n")) << u.first;
        EXPECT_EQ(account(u.second), "<them/>") << u.first;
    }
    EXPECT_EQ(account("alice.xml"), "<alice/>");
    // A site whose names come from a Windows domain may cut them, as it chose.
    EXPECT_EQ(save("DOM\\carol", "<carol/>", {{"CORVANE_ACCOUNT_STRIP_DOMAIN", "1"}}), ok("<response></response>\n"));
    EXPECT_EQ(account("carol.xml"), "<carol/>");

    // Under a web server: no user, no account; and the command line is never the request.
    Env anonymous = web({});
    anonymous.erase("REMOTE_USER");
    for (const Env& env : {anonymous, Env(web({{"REMOTE_USER", ""}}))}) {
        const auto result = post("mode=saveUser&host=h&nodeId=1&corvaneMetadata=%3Cx%2F%3E", env);
        EXPECT_EQ(result.out, "Status: 401 Unauthorized\n" + error("No authenticated user"));
    }
    Env plain = web({{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", "text/plain"}, {"CONTENT_LENGTH", "1"}});
    const auto apache = run({"mode=saveUser", "host=h", "nodeId=1", "corvaneMetadata=X"}, plain, "x");
    EXPECT_EQ(apache.out, error("Corvane server not specified"));
    EXPECT_EQ(account("alice.xml"), "<alice/>");
}

TEST_F(HostileRequestTest, EveryModeThatTalksToServersKeepsToTheSiteServers) {
    SimProcess sim(SimProcess::demoTree(), {"--no-discovery"});
    const std::string h = sim.host();
    const Env outside{{"CORVANE_ALLOWED_SERVERS", "127.0.0.2"}};
    const std::vector<std::string> requests[] = {
        {"mode=getMetadata", "nodeId=/", "streamName=info"},
        {"mode=setMetadata", "nodeId=/", "streamName=info", "corvaneMetadata=x"},
        {"mode=getChildren", "nodeId=/"},
        {"mode=getNodeInfo", "nodeId=/"},
        {"mode=createNode", "nodeId=/", "displayName=n", "type=FOLDER"},
        {"mode=destroyNode", "nodeId=/media/clip"},
        {"mode=destroyNodeRecursive", "nodeId=/media"},
        {"mode=isAdmin", "nodeId=/"},
    };
    const auto atSim = [&h](std::vector<std::string> args) {
        args.push_back("host=" + h);
        return args;
    };
    const std::string refused = "Corvane server '" + h + "' is not allowed";
    for (const auto& request : requests) {
        const auto result = run(atSim(request), outside);
        EXPECT_EQ(result.out, error("Corvane server &apos;" + h + "&apos; is not allowed")) << request[0];
        EXPECT_EQ(result.err, refused + " on host " + h) << request[0];
    }
    // A list with one server outside reaches none of the others either.
    for (const char* mode : {"mode=getMetadata", "mode=setMetadata", "mode=getChildren", "mode=getNodeInfo"}) {
        const auto result =
            run({mode, "host=" + h + ",127.0.0.3:1", "nodeId=/,/", "streamName=info", "corvaneMetadata=x"},
                {{"CORVANE_ALLOWED_SERVERS", h}});
        EXPECT_EQ(result.out, error("Corvane server &apos;127.0.0.3:1&apos; is not allowed")) << mode;
    }
    EXPECT_TRUE(sim.calls().empty());
    // Allowed, each reaches the server, and the status counts its call.
    const auto calls = [&h] { return GatewayStatus::instance().snapshot().servers[h].calls; };
    for (const auto& request : requests) {
        const uint64_t before = calls();
        run(atSim(request));
        EXPECT_EQ(calls(), before + 1) << request[0];
    }
    // What each entry allows is ServerPolicyTest's; here, that the driver
    // calls a server only when the list allows it, through a lookup too.
    const std::string port = std::to_string(sim.port());
    struct Case {
        std::string allowed;
        std::string host;
        bool reached;
    } cases[] = {
        {"", "127.0.0.1:" + port, true},
        // Through a lookup: a host name in a listed range.
        {"127.0.0.0/8", "localhost:" + port, true},
        {"not/a/range", "127.0.0.1:" + port, false},
    };
    for (const Case& c : cases) {
        sim.clearCalls();
        const auto result = run({"mode=getMetadata", "host=" + c.host, "nodeId=/", "streamName=info"},
                                {{"CORVANE_ALLOWED_SERVERS", c.allowed}});
        EXPECT_EQ(!sim.calls().empty(), c.reached) << c.allowed << " " << result.out;
        if (!c.reached) {
            EXPECT_NE(result.out.find("<error>Corvane server &apos;" + c.host + "&apos; is not allowed"),
                      std::string::npos)
                << c.allowed << " " << result.out;
        }
    }
}

}  // namespace
