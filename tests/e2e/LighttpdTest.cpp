// The gateway under a real lighttpd over real HTTP on 127.0.0.1, configured
// with the same snippet the README tells users to include.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "support/LoopbackListener.h"
#include "support/Process.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

namespace {

const char kLighttpd[] = "/usr/sbin/lighttpd";

// A port that was free a moment ago; lighttpd takes it right after.
int freeLoopbackPort() {
    int port = -1;
    CorvaneTest::bindWithoutListening(&port);
    return port;
}

// One HTTP/1.0 exchange; the whole response, or "" when the server is not there.
std::string http(int port, const std::string& request) {
    const CorvaneTest::ScopedFd fd = CorvaneTest::connectLoopback(port);
    if (!fd.valid() || !CorvaneTest::sendAll(fd.get(), request))
        return "";
    return CorvaneTest::recvUpTo(fd.get(), std::string::npos, 10000);
}

std::string body(const std::string& response) {
    const size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

class LighttpdTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (access(kLighttpd, X_OK) != 0)
            GTEST_SKIP() << "lighttpd is not installed (scripts/install-deps.sh installs it)";
        const std::string root = dir_.file("root");
        mkdir(root.c_str(), 0755);
        mkdir((root + "/cgi-bin").c_str(), 0755);
        mkdir((root + "/cgi-bin/account").c_str(), 0777);
        ASSERT_EQ(symlink(CorvaneTest::binPath("corvane-gateway").c_str(), (root + "/cgi-bin/corvane-gateway").c_str()),
                  0);
        dir_.write("users", "alice:secret\n");
        // A port taken between the probe and lighttpd's bind is retried.
        for (int attempt = 0; attempt < 5 && !server_; ++attempt) {
            port_ = freeLoopbackPort();
            dir_.write("lighttpd.conf", "server.document-root = \"" + root + "\"\n" +
                                            "server.bind = \"127.0.0.1\"\n" +
                                            "server.port = " + std::to_string(port_) + "\n" +
                                            "server.errorlog = \"" + dir_.file("error.log") + "\"\n" +
                                            "var.corvane_users = \"" + dir_.file("users") + "\"\n" +
                                            "include \"" + CorvaneTest::sourcePath("deploy/lighttpd-corvane.conf") +
                                            "\"\n");
            CorvaneTest::ProcessOptions options;
            options.env = {{"PATH", "/usr/sbin:/usr/bin:/bin"}};
            server_.reset(new CorvaneTest::ChildProcess({kLighttpd, "-D", "-f", dir_.file("lighttpd.conf")}, options));
            if (!waitUntilServing())
                server_.reset();
        }
        ASSERT_TRUE(server_) << "lighttpd did not start: " << CorvaneTest::readFile(dir_.file("error.log"));
    }

    bool waitUntilServing() {
        for (int i = 0; i < 100; ++i) {  // at most about 5 s
            if (!http(port_, "GET / HTTP/1.0\r\n\r\n").empty())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    std::string request(const std::string& method, const std::string& query, const std::string& form = "") {
        std::string text = method + " /cgi-bin/corvane-gateway" + (query.empty() ? "" : "?" + query) +
                           " HTTP/1.0\r\nHost: 127.0.0.1\r\nAuthorization: Basic YWxpY2U6c2VjcmV0\r\n";
        if (!form.empty())
            text += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                    std::to_string(form.size()) + "\r\n";
        return http(port_, text + "\r\n" + form);
    }

    CorvaneTest::TempDir dir_;
    std::unique_ptr<CorvaneTest::ChildProcess> server_;
    int port_ = 0;
};

TEST_F(LighttpdTest, GetAnswersWithTheAuthenticatedUser) {
    const std::string response = request("GET", "mode=getUser&host=h&nodeId=n");
    EXPECT_NE(response.find("200 OK"), std::string::npos) << response;
    EXPECT_NE(response.find("Content-Type: text/xml"), std::string::npos) << response;
    EXPECT_EQ(body(response), "<response>alice</response>\n");
}

TEST_F(LighttpdTest, PostedFormIsSavedAndLoadedBack) {
    const std::string saved = request("POST", "", "mode=saveUser&host=h&nodeId=n&corvaneMetadata=%3Cp+x%3D%221%22%2F%3E");
    EXPECT_EQ(body(saved), "<response></response>\n") << saved;
    EXPECT_EQ(CorvaneTest::readFile(dir_.file("root/cgi-bin/account/alice.xml")), "<p x=\"1\"/>");
    EXPECT_EQ(body(request("GET", "mode=loadUser&host=h&nodeId=n")), "<response><p x=\"1\"/></response>\n");
}

TEST_F(LighttpdTest, ErrorsAreDocumentsAndUnauthenticatedRequestsNeverReachTheGateway) {
    EXPECT_EQ(body(request("GET", "mode=nope&host=h&nodeId=n")),
              "<response>\n\n<error>Unknown mode</error>\n\n</response>\n");
    const std::string anonymous = http(port_, "GET /cgi-bin/corvane-gateway?mode=getUser HTTP/1.0\r\n\r\n");
    EXPECT_NE(anonymous.find("401"), std::string::npos) << anonymous;
}

TEST_F(LighttpdTest, ServerModesReachTheMediaServer) {
    CorvaneTest::SimProcess sim(CorvaneTest::SimProcess::demoTree());
    ASSERT_TRUE(sim.started());
    const std::string host = "host=" + sim.host();
    EXPECT_EQ(body(request("GET", "mode=getMetadata&" + host + "&nodeId=/media/clip&streamName=info")),
              "<response><node><nodeId>/media/clip</nodeId><host>" + sim.host() +
                  "</host><clip><title>One</title></clip></node></response>\n");
    EXPECT_EQ(body(request("POST", "", "mode=createNode&" + host + "&nodeId=/scratch&displayName=Cut+2&type=FOLDER")),
              "<response><node>/scratch/Cut 2</node></response>\n");
    EXPECT_EQ(body(request("GET", "mode=isAdmin&" + host + "&nodeId=/")), "<response>false</response>\n");
}

}  // namespace
