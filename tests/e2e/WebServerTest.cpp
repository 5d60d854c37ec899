// The gateway under lighttpd, Apache and nginx over real HTTP on
// 127.0.0.1, as CGI and as FastCGI with the same expectations: each server
// started from Debian's stock configuration with a drop-in from deploy/
// enabled as the README says (see WebServer.h).
#include <strings.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ios>
#include <memory>
#include <string>
#include <utility>

#include "support/LoopbackListener.h"
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
        server_ = std::make_unique<WebServer>(GetParam());
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

    std::string accountPath() const { return server_->stateDir() + "/account/alice.xml"; }
    std::string accountFile() const { return CorvaneTest::readFile(accountPath()); }

    std::unique_ptr<WebServer> server_;
};

const char kSave[] = "mode=saveUser&host=h&nodeId=1&corvaneMetadata=%3Cp+x%3D%221%22%2F%3E";

// Every value of the response's header name (any case), joined by ", ", so
// that a header sent twice shows.
std::string headerValues(const std::string& response, const std::string& name) {
    std::string values;
    const size_t end = response.find("\r\n\r\n");
    for (size_t at = response.find("\r\n"); at < end; at = response.find("\r\n", at + 2)) {
        const std::string line = response.substr(at + 2, response.find("\r\n", at + 2) - at - 2);
        if (line.size() <= name.size() || line[name.size()] != ':' ||
            strncasecmp(line.c_str(), name.c_str(), name.size()) != 0)
            continue;
        const size_t value = std::min(line.find_first_not_of(' ', name.size() + 1), line.size());
        values += (values.empty() ? "" : ", ") + line.substr(value);
    }
    return values;
}

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
    // Other users of the host never read an account file.
    struct stat st = {};
    ASSERT_EQ(::stat(accountPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777 & ~0640, 0u) << "mode " << std::oct << (st.st_mode & 0777);
}

// Whichever server passes them on, answers carry the headers that keep a
// browser from running, framing, sniffing or caching them, successes and
// refusals alike, and the page is never framed. A server outside
// CORVANE_ALLOWED_SERVERS is refused only when the drop-in (or the
// spawn-fcgi command it shows) passes the setting on.
TEST_P(WebServerTest, AnswersAndThePageCarryTheirSecurityHeaders) {
    const std::string query = "/corvane-gateway?nodeId=/&streamName=info&mode=";
    const struct {
        const char* what;
        std::string target;
        std::string headers;
        int status;
        const char* body;
    } answers[] = {
        {"success", query + "getUser&host=h", kAlice, 200, "<response>alice</response>"},
        {"server not allowed", query + "getMetadata&host=127.0.0.2:7549", kAlice, 200,
         "<error>Corvane server &apos;127.0.0.2:7549&apos; is not allowed</error>"},
        {"cross-site", query + "getUser&host=h", std::string(kAlice) + "Sec-Fetch-Site: cross-site\r\n", 403,
         "<error>Cross-site request refused</error>"},
    };
    const std::pair<const char*, const char*> gatewayHeaders[] = {
        {"X-Content-Type-Options", "nosniff"},
        {"Content-Security-Policy", "default-src 'none'; frame-ancestors 'none'; sandbox"},
        {"Cache-Control", "no-store"},
    };
    for (const auto& a : answers) {
        const std::string response = request("GET", a.target, a.headers);
        EXPECT_EQ(CorvaneTest::httpStatus(response), a.status) << a.what << "\n" << response;
        EXPECT_NE(CorvaneTest::httpBody(response).find(a.body), std::string::npos) << a.what << "\n" << response;
        for (const auto& h : gatewayHeaders)
            EXPECT_EQ(headerValues(response, h.first), h.second) << a.what << "\n" << response;
    }
    const std::string page = request("GET", "/corvane/");
    EXPECT_EQ(CorvaneTest::httpStatus(page), 200) << page;
    EXPECT_EQ(headerValues(page, "X-Frame-Options"), "DENY") << page;
    EXPECT_EQ(headerValues(page, "Content-Security-Policy"), "frame-ancestors 'none'") << page;
    EXPECT_NE(page.find("<meta http-equiv=\"Content-Security-Policy\""), std::string::npos) << page;
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

// A link or a GET form on another site says nowhere where it comes from
// over plain http: whichever server passes them on, writes need a POST.
TEST_P(WebServerTest, WritesThatAreNotPostsAreRefusedWith405) {
    for (const char* method : {"GET", "HEAD"}) {
        const std::string response = request(method, std::string("/corvane-gateway?") + kSave);
        EXPECT_EQ(CorvaneTest::httpStatus(response), 405) << method << "\n" << response;
        EXPECT_EQ(headerValues(response, "Allow"), "POST") << method << "\n" << response;
        const std::string body = CorvaneTest::httpBody(response);
        EXPECT_EQ(body,
                  std::string(method) == "HEAD"
                      ? ""
                      : "<response>\n\n<error>Mode &apos;saveUser&apos; needs a POST request</error>\n\n</response>\n")
            << method;
    }
    EXPECT_EQ(accountFile(), "");
}

// A live-update stream passes through the server as the gateway writes
// it: an event comes while the stream is open, not when it ends. Under CGI
// the request is answered at once with why it can not be served.
TEST_P(WebServerTest, LiveUpdatesArriveWhileTheStreamIsOpen) {
    CorvaneTest::SimProcess sim(CorvaneTest::SimProcess::demoTree());
    ASSERT_TRUE(sim.started());
    const std::string watch = "/corvane-gateway?mode=watch&host=" + sim.host() + "&nodeId=/scratch";
    const WebServerKind kind = GetParam();
    if (kind == WebServerKind::Lighttpd || kind == WebServerKind::Apache || kind == WebServerKind::Nginx) {
        EXPECT_EQ(CorvaneTest::httpBody(request("GET", watch)),
                  "<response>\n\n<error>Live updates need the FastCGI gateway</error>\n\n</response>\n");
        return;
    }
    const CorvaneTest::ScopedFd stream = CorvaneTest::connectLoopback(server_->port());
    ASSERT_TRUE(
        CorvaneTest::sendAll(stream.get(), "GET " + watch + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" + kAlice + "\r\n"));
    // What came so far, once it holds text; the guard only stops a hang.
    std::string received;
    const auto readUntil = [&](const std::string& text) {
        for (int i = 0; i < 20000 && received.find(text) == std::string::npos; ++i) {
            const std::string more = CorvaneTest::recvUpTo(stream.get(), 1, 15000);
            if (more.empty())
                return false;
            received += more;
        }
        return received.find(text) != std::string::npos;
    };
    ASSERT_TRUE(readUntil("\r\n\r\n")) << received;
    EXPECT_EQ(CorvaneTest::httpStatus(received), 200) << received;
    EXPECT_EQ(headerValues(received, "Content-Type"), "text/event-stream") << received;
    const std::string create = "mode=createNode&host=" + sim.host() + "&nodeId=/scratch&displayName=N&type=FOLDER";
    ASSERT_EQ(CorvaneTest::httpBody(request("POST", "/corvane-gateway", kAlice, create)),
              "<response><node>/scratch/N</node></response>\n");
    EXPECT_TRUE(readUntil("<type>NodeCreated</type><details><entry name=\"Node\">/scratch/N</entry>"))
        << received << "\n"
        << server_->error();
}

INSTANTIATE_TEST_SUITE_P(Debian, WebServerTest,
                         ::testing::Values(WebServerKind::Lighttpd, WebServerKind::Apache, WebServerKind::Nginx,
                                           WebServerKind::LighttpdFastCgi, WebServerKind::ApacheFastCgi,
                                           WebServerKind::NginxFastCgi),
                         [](const ::testing::TestParamInfo<WebServerKind>& info) {
                             return std::string(WebServer::name(info.param));
                         });

}  // namespace
