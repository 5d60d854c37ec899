// The servers discovery lists, as getServers answers them: sims on this
// host (the test's own network namespace) that announce themselves and say
// goodbye, under CGI and under one FastCGI process that keeps the list.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "FastCgiGateway.h"
#include "GatewayFixture.h"
#include "support/Eventually.h"
#include "support/SimProcess.h"

namespace {

using CorvaneTest::SimProcess;

class GatewayServersTest : public FastCgiFixture {
protected:
    // A sim named name serving database, announcing itself every second:
    // a CGI search reads the list of the first sim that answers, which
    // knows a sim started before it only from a later announcement.
    static std::unique_ptr<SimProcess> sim(const std::string& name, const std::string& database,
                                           const std::string& version = "2014.0.0.6115") {
        auto started = std::make_unique<SimProcess>(
            "node / FOLDER Root\n", std::vector<std::string>{"--display-name", name, "--database", database,
                                                              "--version", version, "--announce-every", "1"});
        EXPECT_TRUE(started->started());
        return started;
    }
    // The <server> getServers gives for a sim on this host, its frame port
    // written F (a port the sim picks).
    static std::string listed(const std::string& escapedName, const std::string& database, const SimProcess& sim,
                              const std::string& version = "2014.0.0.6115") {
        const std::string port = std::to_string(sim.port());
        return "<server><name>" + escapedName + "</name><database>" + database +
               "</database><addresses><address>127.0.0.1</address><address>::1</address></addresses><nodePort>" +
               port + "</nodePort><framePort>F</framePort><version>" + version +
               "</version><local>true</local><host>127.0.0.1:" + port + "</host></server>";
    }
    // An answer with each frame port written F, once it is checked to be a
    // port of its own.
    static std::string withoutFramePorts(const std::string& answer) {
        static const std::regex ports("<nodePort>([0-9]+)</nodePort><framePort>([0-9]+)</framePort>");
        for (std::sregex_iterator it(answer.begin(), answer.end(), ports), end; it != end; ++it)
            EXPECT_NE((*it)[1].str(), (*it)[2].str()) << "a frame port that is the node port";
        return std::regex_replace(answer, std::regex("<framePort>[0-9]+</framePort>"), "<framePort>F</framePort>");
    }
};

TEST_F(GatewayServersTest, ListsTheAllowedServersByNameEscaped) {
    auto zulu = sim("Zulu", "OBRAN", "7.1.2.3");
    auto alpha = sim("Alpha <b>&\"'", "ARCHIVE");
    auto hidden = sim("Hidden", "OBRAN");
    const std::string allowed = zulu->host() + " " + alpha->host();
    // No host and no node: a page that knows no server has none to name.
    const std::string expected = ok("<response>" + listed("Alpha &lt;b&gt;&amp;&quot;&apos;", "ARCHIVE", *alpha) +
                                    listed("Zulu", "OBRAN", *zulu, "7.1.2.3") + "</response>\n");
    std::string answer;
    EXPECT_TRUE(CorvaneTest::eventually([&] {
        answer = withoutFramePorts(run({"mode=getServers"}, {{"CORVANE_ALLOWED_SERVERS", allowed}}).out);
        return answer == expected;
    })) << answer;
    EXPECT_EQ(
        run({"mode=getServers"}, {{"CORVANE_ALLOWED_SERVERS", allowed}, {"CORVANE_MAX_RESPONSE_BYTES", "100"}}).out,
        error("Response too large"));
    // A server of the list is opened by the host the list names.
    EXPECT_FALSE(failed(run({"mode=getNodeInfo", "host=" + alpha->host(), "nodeId=/"},
                            {{"CORVANE_ALLOWED_SERVERS", allowed}})));
    // The rules every mode keeps: a page of another site and a request with
    // no user are refused before discovery is asked.
    const std::map<std::string, std::string> web{{"GATEWAY_INTERFACE", "CGI/1.1"}, {"REQUEST_METHOD", "GET"},
                                                 {"HTTP_HOST", "gw.example"}};
    std::map<std::string, std::string> crossSite = web;
    crossSite.insert({{"REMOTE_USER", "al"}, {"HTTP_ORIGIN", "http://evil.example"}});
    EXPECT_EQ(get("mode=getServers", crossSite).out, "Status: 403 Forbidden\n" + error("Cross-site request refused"));
    EXPECT_EQ(get("mode=getServers", web).out, "Status: 401 Unauthorized\n" + error("No authenticated user"));
}

TEST_F(GatewayServersTest, PersistentProcessFollowsServersComingAndGoing) {
    // A goodbye is one datagram, and discovery forgets a server it has not
    // heard for two periods: with periods of a second, a server that left
    // is gone within seconds even when its goodbye is lost.
    startGateway({{"CORVANE_MULTICAST_RESYNC_TIME", "1"}});
    const auto servers = [this] { return withoutFramePorts(gateway_->ask(fastCgiGet("mode=getServers"))); };
    auto one = sim("One", "OBRAN");
    auto two = sim("Two", "OBRAN");
    const std::string both = ok("<response>" + listed("One", "OBRAN", *one) + listed("Two", "OBRAN", *two) +
                                "</response>\n");
    // The first request searches; both have announced themselves by then or
    // answer the search.
    EXPECT_TRUE(CorvaneTest::eventually([&] { return servers() == both; })) << servers();
    // A server that says goodbye leaves the list, with no new search.
    ASSERT_EQ(two->stop(), 0);
    const std::string onlyOne = ok("<response>" + listed("One", "OBRAN", *one) + "</response>\n");
    EXPECT_TRUE(CorvaneTest::eventually([&] { return servers() == onlyOne; })) << servers();
    // A server that starts later is heard announcing itself.
    auto three = sim("Three", "OBRAN");
    const std::string withThree = ok("<response>" + listed("One", "OBRAN", *one) +
                                     listed("Three", "OBRAN", *three) + "</response>\n");
    EXPECT_TRUE(CorvaneTest::eventually([&] { return servers() == withThree; })) << servers();
}

}  // namespace
