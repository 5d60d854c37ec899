// The gateway under lighttpd, Apache and nginx over real HTTP on
// 127.0.0.1, as CGI and as FastCGI with the same expectations: each server
// started from Debian's stock configuration with a drop-in from deploy/
// enabled as the README says (see WebServer.h).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/SimProcess.h"
#include "support/TempDir.h"
#include "support/WebServer.h"

namespace {

using CorvaneTest::WebServer;
using CorvaneTest::WebServerKind;

const char kAlice[] = "Authorization: Basic YWxpY2U6c2VjcmV0\r\n";     // alice:secret
const char kIntruder[] = "Authorization: Basic YWxpY2U6d3Jvbmc=\r\n";  // alice:wrong

class WebServerTest : public ::testing::TestWithParam<WebServerKind> {
protected:
    void SetUp() override {
        const std::string missing = WebServer::missing(GetParam());
        if (!missing.empty())
            GTEST_SKIP() << missing;
        start(false);
    }

    void start(bool postOnly) {
        server_.reset();
        server_ = std::make_unique<WebServer>(GetParam(), postOnly);
        ASSERT_TRUE(server_->started()) << server_->error();
    }

    std::string request(const std::string& method, const std::string& target, const std::string& headers = kAlice,
                        const std::string& form = "") {
        std::string text = method + " " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" + headers;
        if (!form.empty())
            text +=
                "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(form.size()) +
                "\r\n";
        return server_->http(text + "\r\n" + form);
    }

    std::string accountFile() const { return CorvaneTest::readFile(server_->stateDir() + "/account/alice.xml"); }

    std::unique_ptr<WebServer> server_;
};

const char kSave[] = "mode=saveUser&host=h&nodeId=1&corvaneMetadata=%3Cp+x%3D%221%22%2F%3E";

TEST_P(WebServerTest, RunsEveryModeForALoggedInUser) {
    CorvaneTest::SimProcess sim(CorvaneTest::SimProcess::demoTree());
    ASSERT_TRUE(sim.started());
    const std::string get = "/corvane-gateway?host=" + sim.host() + "&nodeId=/&mode=";
    const std::string create = "mode=createNode&host=" + sim.host() + "&nodeId=/scratch&displayName=N&type=FOLDER";
    const struct {
        const char* method;
        std::string target;
        const char* form;
        std::string body;
    } cases[] = {
        {"GET", get + "getUser", "", "<response>alice</response>\n"},
        {"POST", "/corvane-gateway", kSave, "<response></response>\n"},
        {"GET", get + "loadUser", "", "<response><p x=\"1\"/></response>\n"},
        {"GET", get + "nope", "", "<response>\n\n<error>Unknown mode</error>\n\n</response>\n"},
        {"GET", get + "getMetadata&streamName=info", "",
         "<response><node><nodeId>/</nodeId><host>" + sim.host() +
             "</host><info><administrators>demo,admin</administrators></info></node></response>\n"},
        {"POST", "/corvane-gateway", create.c_str(), "<response><node>/scratch/N</node></response>\n"},
    };
    for (const auto& c : cases) {
        const std::string response = request(c.method, c.target, kAlice, c.form);
        EXPECT_EQ(CorvaneTest::httpStatus(response), 200) << c.target << "\n" << response;
        EXPECT_NE(response.find("Content-Type: text/xml"), std::string::npos) << response;
        EXPECT_EQ(CorvaneTest::httpBody(response), c.body) << c.method << " " << c.target;
    }
    EXPECT_EQ(accountFile(), "<p x=\"1\"/>");
}

TEST_P(WebServerTest, RequestsWithoutAValidLoginNeverReachTheGateway) {
    for (const char* headers : {"", kIntruder}) {
        for (const std::string& response : {request("GET", "/corvane-gateway?mode=getUser&host=h&nodeId=1", headers),
                                            request("POST", "/corvane-gateway", headers, kSave)}) {
            EXPECT_EQ(CorvaneTest::httpStatus(response), 401) << response;
            EXPECT_EQ(response.find("<response>"), std::string::npos) << response;
        }
    }
    EXPECT_EQ(accountFile(), "");
}

// The document root here is the directory that stands for /, so the
// working directory is in it: the drop-in alone keeps it from being served.
TEST_P(WebServerTest, NeitherTheProgramNorAnAccountFileIsEverSent) {
    ASSERT_EQ(CorvaneTest::httpBody(request("POST", "/corvane-gateway", kAlice, kSave)), "<response></response>\n");
    for (const char* target : {"/var/lib/corvane-gateway/account/alice.xml", "/var/lib/corvane-gateway/corvane-gateway",
                               "/var/lib/corvane-gateway/account/", "/corvane-gateway/account/alice.xml",
                               "/corvane-gateway/corvane-gateway", "/var/lib/corvane-gateway/./account/alice.xml",
                               "/var/lib/corvane-gateway%2faccount%2falice.xml", "/cgi-bin/corvane-gateway"}) {
        for (const char* headers : {kAlice, ""}) {
            const std::string response = request("GET", target, headers);
            EXPECT_NE(CorvaneTest::httpStatus(response), 200) << target << "\n" << response;
            EXPECT_EQ(response.find("\177ELF"), std::string::npos) << target;
            EXPECT_EQ(response.find("<p x="), std::string::npos) << target;
        }
    }
}

TEST_P(WebServerTest, PostOnlyLinesLeaveOtherMethodsOutside) {
    start(true);
    for (const char* method : {"GET", "HEAD"}) {
        const std::string response =
            request(method, "/corvane-gateway?mode=saveUser&host=h&nodeId=1&corvaneMetadata=x");
        EXPECT_NE(CorvaneTest::httpStatus(response), 200) << response;
        EXPECT_EQ(response.find("<response>"), std::string::npos) << response;
    }
    EXPECT_EQ(accountFile(), "");
    EXPECT_EQ(CorvaneTest::httpBody(request("POST", "/corvane-gateway", kAlice, kSave)), "<response></response>\n");
    EXPECT_EQ(accountFile(), "<p x=\"1\"/>");
}

INSTANTIATE_TEST_SUITE_P(Debian, WebServerTest,
                         ::testing::Values(WebServerKind::Lighttpd, WebServerKind::Apache, WebServerKind::Nginx,
                                           WebServerKind::LighttpdFastCgi, WebServerKind::ApacheFastCgi,
                                           WebServerKind::NginxFastCgi),
                         [](const ::testing::TestParamInfo<WebServerKind>& info) {
                             return std::string(WebServer::name(info.param));
                         });

}  // namespace
