// The server modes through the driver against corvane-sim servers on loopback.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "DriverFixture.h"
#include "support/LoopbackListener.h"
#include "support/SimProcess.h"

namespace {

using CorvaneTest::SimProcess;

const char kWalkTree[] =
    "node / FOLDER Root\n"
    "node /a FOLDER A\n"
    "node /a/x FOLDER X\n"
    "node /a/x/deep CLIP Deep\n"
    "node /a/y CLIP Y\n"
    "frames /a/y 3\n"
    "node /a/z FOLDER Z\n"
    "node /b FOLDER B\n";

class NodeModesTest : public DriverFixture {
protected:
    // The node identifiers of the DestroyNode calls, in order.
    static std::vector<std::string> destroyed(const SimProcess& sim) {
        std::vector<std::string> ids;
        for (const std::string& line : sim.calls("DestroyNode"))
            ids.push_back(line.substr(12));
        return ids;
    }
    // The demo tree's root as a getMetadata of its "info" stream answers it.
    static std::string rootInfo(const std::string& host) {
        return "<node><nodeId>/</nodeId><host>" + host +
               "</host><info><administrators>demo,admin</administrators></info></node>";
    }
};

TEST_F(NodeModesTest, MetadataModesReadAndWriteInListOrderAndCreateNodeKeepsUtf8) {
    SimProcess sim(SimProcess::demoTree());
    const std::string h = sim.host();
    auto result = run({"mode=getMetadata", "host=" + h, "nodeId=/media/clip,/,/media/clip", "streamName=info"});
    const std::string clip =
        "<node><nodeId>/media/clip</nodeId><host>" + h + "</host><clip><title>One</title></clip></node>";
    EXPECT_EQ(result.out, ok("<response>" + clip + rootInfo(h) + clip + "</response>\n"));
    EXPECT_EQ(result.err, "");
    // Depth 1 and an empty filter, as the server receives them.
    EXPECT_EQ(sim.calls("GetMetaData").front(), "GetMetaData /media/clip info  1");

    // Metadata goes back as stored, a bare "&" included.
    allowMalformedContent();
    const std::string text = "<notes lang=\"fr\">caf\xc3\xa9 & co\n</notes>";
    result = run({"mode=setMetadata", "host=" + h, "nodeId=/media,/scratch", "streamName=notes",
                  "corvaneMetadata=" + encode(text)});
    EXPECT_EQ(result.out, ok("<response></response>\n"));
    result = run({"mode=getMetadata", "host=" + h, "nodeId=/scratch", "streamName=notes"});
    EXPECT_EQ(result.out,
              ok("<response><node><nodeId>/scratch</nodeId><host>" + h + "</host>" + text + "</node></response>\n"));

    // createNode sends the UTF-8 name and answers the new identifier, which the sim makes of the name it received;
    // in the C locale a UTF-8 name from a web form went out as "Caf?".
    const std::string name = "New Caf\xc3\xa9 \xe2\x98\x95";
    result = run({"mode=createNode", "host=" + h, "nodeId=/scratch", "displayName=" + name, "type=FOLDER"});
    EXPECT_EQ(result.out, ok("<response><node>/scratch/" + name + "</node></response>\n"));
    EXPECT_EQ(run({"mode=getMetadata", "host=" + h, "nodeId=/scratch/" + name, "streamName=x"}).out,
              error("Node &apos;/scratch/" + name + "&apos; has no metadata stream &apos;x&apos;"));
}

TEST_F(NodeModesTest, CreateNodeSendsATypeNumber) {
    SimProcess sim(kWalkTree);
    // A number is the server's type number (2: a clip), sent without a type text.
    EXPECT_EQ(run({"mode=createNode", "host=" + sim.host(), "nodeId=/b", "displayName=C", "type=2"}).out,
              ok("<response><node>/b/C</node></response>\n"));
    ASSERT_EQ(sim.calls("CreateNodeEx").size(), 1u);
    EXPECT_NE(sim.calls("CreateNodeEx")[0].find("Displ 1 CType 1 2Fmt "), std::string::npos)
        << sim.calls("CreateNodeEx")[0];
}

TEST_F(NodeModesTest, HostsPairWithNodesOrOneHostServesAll) {
    SimProcess a(SimProcess::demoTree()), b(SimProcess::demoTree());
    ASSERT_TRUE(a.started() && b.started());
    EXPECT_EQ(run({"mode=getMetadata", "host=" + a.host() + "," + b.host() + "," + a.host(), "nodeId=/,/,/",
                   "streamName=info"})
                  .out,
              ok("<response>" + rootInfo(a.host()) + rootInfo(b.host()) + rootInfo(a.host()) + "</response>\n"));
    EXPECT_EQ(a.calls("GetMetaData").size(), 2u);
    EXPECT_EQ(b.calls("GetMetaData").size(), 1u);
    // A failure writes nothing but the error, and its line names the host of the node that failed.
    const std::string both = a.host() + "," + b.host();
    for (const char* mode : {"mode=getMetadata", "mode=setMetadata", "mode=getChildren", "mode=getNodeInfo"}) {
        for (const auto& failing : {std::make_pair("/,/missing", b.host()), std::make_pair("/missing,/", a.host())}) {
            const auto failed = run(
                {mode, "host=" + both, std::string("nodeId=") + failing.first, "streamName=info", "corvaneMetadata=x"});
            EXPECT_EQ(failed.out, error("Node &apos;/missing&apos; does not exist")) << mode << " " << failing.first;
            EXPECT_EQ(failed.err, "Node '/missing' does not exist on host " + failing.second)
                << mode << " " << failing.first;
        }
    }
}

TEST_F(NodeModesTest, RecursiveDestroyVisitsChildrenLastFirstAndDepthFirst) {
    SimProcess sim(kWalkTree);
    const auto result = run({"mode=destroyNodeRecursive", "host=" + sim.host(), "nodeId=/a,/b"});
    EXPECT_EQ(result.out, ok("<response></response>\n"));
    EXPECT_EQ(destroyed(sim), (std::vector<std::string>{"/a/z", "/a/y", "/a/x/deep", "/a/x", "/a", "/b"}));
    // A clip's own children (its media) are never walked.
    for (const std::string& line : sim.calls("GetChildrenEx"))
        EXPECT_TRUE(line != "GetChildrenEx /a/y" && line != "GetChildrenEx /a/x/deep") << line;
}

TEST_F(NodeModesTest, RecursiveDestroyStopsAtANodeListedBelowItself) {
    // A server that listed a node among its own descendants made the walk recurse until the stack overflowed.
    SimProcess sim(kWalkTree, {"--extra-child", "/a/x,/a"});
    const auto result = run({"mode=destroyNodeRecursive", "host=" + sim.host(), "nodeId=/a"});
    EXPECT_EQ(result.out, error("Node &apos;/a&apos; is listed twice in the tree (again under &apos;/a/x&apos;)"));
    // What the walk destroyed before it met the loop stays destroyed.
    EXPECT_EQ(destroyed(sim), (std::vector<std::string>{"/a/z", "/a/y", "/a/x/deep"}));
}

TEST_F(NodeModesTest, RecursiveDestroyStopsAtAThousandLevels) {
    // Chains that repeat no node: only the depth limit can end the deeper walk, and it ends before any destroy.
    std::string tree, id;
    for (int level = 1; level <= 1001; ++level) {
        id += "/d";
        tree += "node " + id + " FOLDER\n";
        if (level < 1001)
            tree += "node /e" + id + " FOLDER\n";
    }
    SimProcess sim("node /e FOLDER\n" + tree);
    EXPECT_EQ(run({"mode=destroyNodeRecursive", "host=" + sim.host(), "nodeId=/d"}).out,
              error("Node tree below &apos;/d&apos; is deeper than 1000 levels"));
    EXPECT_TRUE(destroyed(sim).empty());
    // A thousand levels are walked whole.
    EXPECT_EQ(run({"mode=destroyNodeRecursive", "host=" + sim.host(), "nodeId=/e/d"}).out,
              ok("<response></response>\n"));
    EXPECT_EQ(destroyed(sim).size(), 1000u);
}

TEST_F(NodeModesTest, PlainDestroyOnlyDestroysTheNodeItself) {
    SimProcess sim(kWalkTree);
    const auto result = run({"mode=destroyNode", "host=" + sim.host(), "nodeId=/a/x/deep,/a"});
    EXPECT_EQ(result.out, error("Node &apos;/a&apos; still has 3 children"));
    EXPECT_EQ(destroyed(sim), (std::vector<std::string>{"/a/x/deep", "/a"}));
    EXPECT_TRUE(sim.calls("GetChildrenEx").empty());
}

TEST_F(NodeModesTest, WriteAndTreeWalkFailuresCarryTheirPrefixAndTheServerText) {
    const std::vector<std::string> walk{"mode=destroyNodeRecursive", "nodeId=/a"};
    // The method that fails with its text, the request, and the answer.
    const struct {
        const char* failure;
        std::vector<std::string> args;
        const char* answer;
    } cases[] = {
        {"GetNodeTypeStr:type is <lost>", walk, "Unable to retrieve node type: type is &lt;lost&gt;"},
        {"GetChildrenEx:listing & failed", walk, "Unable to get number of children: listing &amp; failed"},
        {"DestroyNode:\"disk\" 'full'", walk, "&quot;disk&quot; &apos;full&apos;"},
        {"CreateNodeEx:no <room>", {"mode=createNode", "nodeId=/b", "displayName=C", "type=FOLDER"}, "no &lt;room&gt;"},
        {"SetMetaData:read & only",
         {"mode=setMetadata", "nodeId=/b", "streamName=s", "corvaneMetadata=x"},
         "read &amp; only"},
    };
    for (const auto& c : cases) {
        SimProcess sim(kWalkTree, {"--fail-method", c.failure});
        std::vector<std::string> args = c.args;
        args.push_back("host=" + sim.host());
        EXPECT_EQ(run(args).out, error(c.answer)) << c.failure;
    }
}

TEST_F(NodeModesTest, AdministratorCheckComparesTheWholeUserName) {
    SimProcess sim(SimProcess::demoTree());
    // A user and the answer; the matching rules are in AdministratorListTest.
    const std::pair<const char*, const char*> cases[] = {{"demo", "true"}, {"DOM\\demo", "false"}};
    for (const auto& c : cases)
        EXPECT_EQ(run({"mode=isAdmin", "host=" + sim.host(), "nodeId=/"}, {{"REMOTE_USER", c.first}}).out,
                  ok(std::string("<response>") + c.second + "</response>\n"))
            << c.first;
    // The root's "info" stream at depth 0, as the server receives it.
    EXPECT_EQ(sim.calls("GetMetaData"), std::vector<std::string>(2, "GetMetaData / info  0"));
    // Bad documents are in AdministratorListTest; a failure to read one reaches the answer.
    SimProcess bare("node / FOLDER R\n");
    EXPECT_EQ(run({"mode=isAdmin", "host=" + bare.host(), "nodeId=/"}, {{"REMOTE_USER", "demo"}}).out,
              error("Node &apos;/&apos; has no metadata stream &apos;info&apos;"));
}

TEST_F(NodeModesTest, WatchdogCountRestartsBetweenTheNodesOfADestroy) {
    // Each destroy fits the limit; the three together pass only if the count restarts per node.
    SimProcess sim(kWalkTree, {"--delay-method", "DestroyNode:800"});
    const auto result = run({"mode=destroyNode", "host=" + sim.host(), "nodeId=/a/x/deep,/a/y,/b"},
                            {{"XQ_CVC_BROWSE_TIMEOUT", "1500"}});
    EXPECT_EQ(result.out, ok("<response></response>\n"));
    EXPECT_EQ(destroyed(sim), (std::vector<std::string>{"/a/x/deep", "/a/y", "/b"}));
}

TEST_F(NodeModesTest, WatchdogEndsAStuckOperationOrAConnectThatIsNeverAnswered) {
    // The server never answers: only the watchdog can end the request.
    SimProcess sim(SimProcess::demoTree(), {"--delay-method", "GetMetaData:600000"});
    // A connect whose SYNs went unanswered held the request for the whole 10-second connect time-out.
    const CorvaneTest::LoopbackListener listener(0);
    const std::vector<CorvaneTest::ScopedFd> queue = CorvaneTest::stallListener(listener.port());
    ASSERT_FALSE(queue.empty()) << "the accept queue would not fill";
    const std::string stalled = "127.0.0.1:" + std::to_string(listener.port());
    // The limit is its leading digits: a blank or a sign reads as 0, not as the number after it.
    const std::pair<std::string, const char*> cases[] = {
        {sim.host(), "300"}, {sim.host(), "0"}, {sim.host(), " 60000"}, {sim.host(), "+60000"}, {stalled, "1000"}};
    for (const auto& c : cases) {
        long long elapsedMs = 0;
        const auto result = timedRun({"mode=getMetadata", "host=" + c.first, "nodeId=/", "streamName=info"},
                                     {{"XQ_CVC_BROWSE_TIMEOUT", c.second}}, &elapsedMs);
        EXPECT_TRUE(failed(result)) << "limit '" << c.second << "': " << result.out;
        // Far past a loaded machine's second, short of the 10 s connect
        // time-out and of the 60 s a misread limit would hold the request.
        EXPECT_LT(elapsedMs, 8000) << "limit '" << c.second << "'";
    }
}

TEST_F(NodeModesTest, RequestDeadlineBoundsEveryNodeAndHostTogether) {
    // The browse count restarted for every node: twelve nodes of 3 s each took 36 s.
    const struct {
        const char* tree;
        std::vector<std::string> args;
        const char* delay;  // the sim's, per call
        const char* method;
        size_t maxCalls;  // that the deadline lets through
    } cases[] = {
        {SimProcess::demoTree(),
         {"mode=getMetadata", "nodeId=/,/,/,/,/,/", "streamName=info"},
         "GetMetaData:1000",
         "GetMetaData",
         3},
        {kWalkTree, {"mode=destroyNodeRecursive", "nodeId=/a,/b"}, "GetChildrenEx:1000", "GetChildrenEx", 3},
    };
    for (const auto& c : cases) {
        SimProcess sim(c.tree, {"--delay-method", c.delay});
        std::vector<std::string> args = c.args;
        args.push_back("host=" + sim.host());
        long long elapsedMs = 0;
        const auto result = timedRun(args, {{"CORVANE_REQUEST_TIMEOUT", "2500"}}, &elapsedMs);
        EXPECT_EQ(result.out, error("Request took longer than 2500 ms")) << c.method;
        EXPECT_LE(sim.calls(c.method).size(), c.maxCalls) << c.method;
        // The answer and the calls show a deadline missed between calls;
        // this shows one call left to run its 60 s.
        EXPECT_LT(elapsedMs, 20000) << c.method;
    }
}

TEST_F(NodeModesTest, ModeStoppedInACallAtTheDeadlineSaysSo) {
    // Each mode's first call would take a minute: only the stop ends it. A
    // walk's failure names its step, which the deadline's words replace.
    SimProcess sim(kWalkTree, {"--delay-method", "GetNodeTypeStr:60000", "--delay-method", "GetMetaData:60000"});
    for (const char* mode : {"destroyNode", "destroyNodeRecursive", "isAdmin"}) {
        long long elapsedMs = 0;
        const auto result = timedRun({"mode=" + std::string(mode), "host=" + sim.host(), "nodeId=/b"},
                                     {{"CORVANE_REQUEST_TIMEOUT", "300"}}, &elapsedMs);
        EXPECT_EQ(result.out, error("Request took longer than 300 ms")) << mode;
        EXPECT_LT(elapsedMs, 20000) << mode;
    }
}

TEST_F(NodeModesTest, NodeAndAnswerLimitsRefuseBeforeAnyServerIsAsked) {
    SimProcess sim(SimProcess::demoTree());
    const std::string h = sim.host();
    std::string thousand = "/";
    for (int i = 1; i < 1000; ++i)
        thousand += ",/";
    const auto read = [&](const std::string& nodes, const std::map<std::string, std::string>& env = {}) {
        return run({"mode=getMetadata", "host=" + h, "nodeId=" + nodes, "streamName=info"}, env).out;
    };
    const struct {
        std::vector<std::string> args;
        std::map<std::string, std::string> env;
        const char* message;
    } refused[] = {
        {{"mode=getMetadata", "host=" + h, "nodeId=" + thousand + ",/", "streamName=info"},
         {},
         "Too many nodes in one request (1001, at most 1000)"},
        {{"mode=setMetadata", "host=" + h, "nodeId=/,/,/", "streamName=s", "corvaneMetadata=x"},
         {{"CORVANE_MAX_NODES", "2"}},
         "Too many nodes in one request (3, at most 2)"},
        {{"mode=destroyNode", "host=" + h, "nodeId=/a,,/b,/c,"},
         {{"CORVANE_MAX_NODES", "2"}},
         "Too many nodes in one request (3, at most 2)"},
        {{"mode=destroyNode", "host=" + h, "nodeId=/media/clip"},
         {{"CORVANE_REQUEST_TIMEOUT", "0"}},
         "Request took longer than 0 ms"},
    };
    for (const auto& c : refused)
        EXPECT_EQ(run(c.args, c.env).out, error(c.message)) << c.message;
    EXPECT_TRUE(sim.calls().empty());
    // A million nodes in a 2 MB body are refused as cheaply.
    std::string million = "/";
    for (int i = 1; i < 1000000; ++i)
        million += ",/";
    EXPECT_EQ(post("mode=getMetadata&host=" + h + "&streamName=info&nodeId=" + million).out,
              error("Too many nodes in one request (1000000, at most 1000)"));
    EXPECT_TRUE(sim.calls().empty());

    // An answer of exactly the limit goes out; one byte more does not.
    const std::string answer = read("/,/");
    ASSERT_EQ(answer.rfind(ok("<response><node>"), 0), 0u) << answer;
    const std::string exact = std::to_string(answer.size() - ok("").size());
    EXPECT_EQ(read("/,/", {{"CORVANE_MAX_RESPONSE_BYTES", exact}}), answer);
    EXPECT_EQ(read("/,/", {{"CORVANE_MAX_RESPONSE_BYTES", std::to_string(std::stoi(exact) - 1)}}),
              error("Response too large"));
    // The limit stops a list of nodes at the node that passes it.
    sim.clearCalls();
    const std::string capped = read(thousand, {{"CORVANE_MAX_RESPONSE_BYTES", exact}});
    EXPECT_TRUE(capped == error("Response too large")) << capped.size() << " bytes";
    EXPECT_EQ(sim.calls("GetMetaData").size(), 3u);
    // A stored document larger than the limit is not even read.
    ASSERT_EQ(run({"mode=saveUser", "host=h", "nodeId=n", "corvaneMetadata=" + std::string(100, 'd')}).out,
              ok("<response></response>\n"));
    EXPECT_EQ(run({"mode=loadUser", "host=h", "nodeId=n"}, {{"CORVANE_MAX_RESPONSE_BYTES", "121"}}).out,
              error("Response too large"));
    EXPECT_EQ(run({"mode=loadUser", "host=h", "nodeId=n"}, {{"CORVANE_MAX_RESPONSE_BYTES", "122"}}).out,
              ok("<response>" + std::string(100, 'd') + "</response>\n"));
}

}  // namespace

// Names a browser shows: markup characters, quotes and UTF-8 text.
const char kBrowseTree[] =
    "node / FOLDER Root\n"
    "node /a&b FOLDER Fish & <Chips> \"q\" 's'\n"
    "node /a&b/c CLIP Caf\xc3\xa9 \xe2\x98\x95\n"
    "meta /a&b/c info <clip/>\n"
    "meta /a&b/c notes x\n"
    "node /a&b/d ODD D\n"
    "node /a&b/e FOLDER E\n";

TEST_F(NodeModesTest, BrowseModesListChildrenAndDescribeNodesAsText) {
    SimProcess sim(kBrowseTree), old(kBrowseTree, {"--version", "2011.0.0.0"});
    ASSERT_TRUE(sim.started() && old.started());
    const auto node = [](const std::string& id, const std::string& host, const std::string& body) {
        return "<node><nodeId>" + id + "</nodeId><host>" + host + "</host>" + body + "</node>";
    };
    const auto child = [](const std::string& id, const std::string& name, const std::string& type) {
        return "<child><nodeId>" + id + "</nodeId><displayName>" + name + "</displayName>" +
               (type.empty() ? "" : "<type>" + type + "</type>") + "</child>";
    };
    const std::string fish = "Fish &amp; &lt;Chips&gt; &quot;q&quot; &apos;s&apos;", cafe = "Caf\xc3\xa9 \xe2\x98\x95";
    for (const SimProcess* server : {&sim, &old}) {
        const std::string h = server->host();
        const struct {
            std::vector<std::string> args;
            std::string body;
        } cases[] = {
            {{"mode=getChildren", "nodeId=/"}, node("/", h, child("/a&amp;b", fish, ""))},
            {{"mode=getChildren", "nodeId=/a%26b,/a%26b/c", "withTypes=1"},
             node("/a&amp;b", h,
                  child("/a&amp;b/c", cafe, "CLIP") + child("/a&amp;b/d", "D", "ODD") +
                      child("/a&amp;b/e", "E", "FOLDER")) +
                 node("/a&amp;b/c", h, "")},
            {{"mode=getNodeInfo", "nodeId=/,/a%26b/c"},
             node("/", h,
                  "<type>FOLDER</type><displayName>Root</displayName><parentId></parentId>"
                  "<numChildren>1</numChildren><streams></streams>") +
                 node("/a&amp;b/c", h,
                      "<type>CLIP</type><displayName>" + cafe +
                          "</displayName><parentId>/a&amp;b</parentId><numChildren>0</numChildren>"
                          "<streams><stream>info</stream><stream>notes</stream></streams>")},
            {{"mode=getNodeInfo", "nodeId=/a%26b/nope"}, ""},
        };
        for (const auto& c : cases) {
            std::vector<std::string> args = c.args;
            args.push_back("host=" + h);
            EXPECT_EQ(run(args).out, c.body.empty() ? error("Node &apos;/a&amp;b/nope&apos; does not exist")
                                                    : ok("<response>" + c.body + "</response>\n"))
                << c.args[0] << " " << c.args[1];
        }
    }
    // Each server is asked in the form its version knows.
    EXPECT_TRUE(old.calls("GetChildrenEx").empty());
    EXPECT_EQ(old.calls("GetChildren").size(), sim.calls("GetChildrenEx").size());
    EXPECT_TRUE(sim.calls("GetChildren").empty());
}

TEST_F(NodeModesTest, BrowseModesFailWithTheServerTextAndStayInsideTheLimits) {
    SimProcess failing(kBrowseTree, {"--fail-method", "GetChildrenEx:no <list>", "--fail-method",
                                     "QueryMetaDataSupport:no streams", "--fail-method", "GetNodeTypeStr:no type"});
    SimProcess slow(kBrowseTree, {"--delay-method", "GetNodeTypeStr:400"});
    SimProcess typeless(kBrowseTree, {"--fail-method", "GetNodeTypeStr:no type"});
    ASSERT_TRUE(failing.started() && slow.started() && typeless.started());
    const struct {
        std::vector<std::string> args;
        std::map<std::string, std::string> env;
        const char* message;
    } cases[] = {
        {{"mode=getChildren", "nodeId=/", "host=" + failing.host()}, {}, "no &lt;list&gt;"},
        {{"mode=getNodeInfo", "nodeId=/", "host=" + failing.host()}, {}, "no type"},
        {{"mode=getChildren", "nodeId=/a%26b", "withTypes=1", "host=" + typeless.host()}, {}, "no type"},
        // Typed children count against the node limit, refused before any type is asked.
        {{"mode=getChildren", "nodeId=/a%26b", "withTypes=1", "host=" + slow.host()},
         {{"CORVANE_MAX_NODES", "2"}},
         "Too many nodes in one request (3, at most 2)"},
        {{"mode=getNodeInfo", "nodeId=/,/,/", "host=" + slow.host()},
         {{"CORVANE_MAX_NODES", "2"}},
         "Too many nodes in one request (3, at most 2)"},
        {{"mode=getChildren", "nodeId=/a%26b", "withTypes=1", "host=" + slow.host()},
         {{"CORVANE_REQUEST_TIMEOUT", "600"}},
         "Request took longer than 600 ms"},
        // The answer's limit stops the list at the first child past it.
        {{"mode=getChildren", "nodeId=/a%26b", "withTypes=1", "host=" + slow.host()},
         {{"CORVANE_MAX_RESPONSE_BYTES", "1"}},
         "Response too large"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(run(c.args, c.env).out, error(c.message)) << c.message;
    EXPECT_EQ(slow.calls("GetNodeTypeStr").size(), 3u);
    // Without types the same folder needs one call.
    EXPECT_FALSE(
        failed(run({"mode=getChildren", "nodeId=/a%26b", "host=" + slow.host()}, {{"CORVANE_MAX_NODES", "2"}})));
}
