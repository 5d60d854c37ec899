#include "base/tcp/CoIoTcpServerHandler.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "support/LoopbackListener.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

using Corvane::CoIoTcpDescriptor;
using Corvane::CoIoTcpServerHandler;
using CorvaneTest::ScopedFd;

// Answers each client with one line saying where it was served, from the
// process and state it finds itself in.
class EchoHandler : public CoIoTcpServerHandler {
public:
    explicit EchoHandler(bool fork) : fork_(fork) {}

    bool newConnection(std::unique_ptr<CoIoTcpDescriptor> client) override {
        std::string peer;
        client->getPeerIP(peer);
        const std::string reply = "pid " + std::to_string(::getpid()) + " child " + std::to_string(inChild_) +
                                  " listening " + std::to_string(server().isValid()) + " peer " + peer + "\n";
        const bool sent = client->writeStr(reply.c_str());
        if (inChild_)
            ::_exit(sent ? 0 : 1);
        served_ = std::move(client);
        return sent;
    }
    bool forkOnConnection() const override { return fork_; }
    void beforeFork() override { ++beforeForks_; }
    void afterFork(bool inChild) override {
        inChild_ = inChild;
        ++afterForks_;
    }

    std::unique_ptr<CoIoTcpDescriptor> served_;
    int beforeForks_ = 0;
    int afterForks_ = 0;

private:
    bool fork_;
    bool inChild_ = false;
};

class CoIoTcpServerHandlerTest : public ::testing::Test {
protected:
    // Connects a client and lets the handler accept it.
    ScopedFd connectAndAccept(EchoHandler& handler) {
        ScopedFd client = CorvaneTest::connectLoopback(handler.server().getPort());
        EXPECT_TRUE(client.valid());
        pollfd pfd = {handler.server().getFd(), POLLIN, 0};
        EXPECT_EQ(1, ::poll(&pfd, 1, 5000));
        const pid_t parent = ::getpid();
        EXPECT_TRUE(handler.handleReadable());
        if (::getpid() != parent)
            ::_exit(3);  // a child must never come back into the test
        return client;
    }

    static std::string replyOf(const ScopedFd& client) {
        std::string line;
        EXPECT_TRUE(CorvaneTest::recvLine(client.get(), &line));
        return line;
    }
};

TEST_F(CoIoTcpServerHandlerTest, AcceptedClientIsHandedOver) {
    EchoHandler handler(false);
    ASSERT_TRUE(handler.server().initPort(-1));
    EXPECT_TRUE(handler.handleReadable());  // no client waiting: still serving
    EXPECT_FALSE(handler.served_);
    const ScopedFd client = connectAndAccept(handler);
    const std::string reply = replyOf(client);  // the peer may be IPv4 mapped to IPv6
    EXPECT_EQ(0u, reply.find("pid " + std::to_string(::getpid()) + " child 0 listening 1 peer ")) << reply;
    EXPECT_EQ(reply.size() - 9, reply.rfind("127.0.0.1")) << reply;
    ASSERT_TRUE(handler.served_);
    EXPECT_TRUE(handler.served_->isConnected());
    EXPECT_EQ(0, handler.beforeForks_);
}

TEST_F(CoIoTcpServerHandlerTest, ForkingHandlerServesInAChild) {
    EchoHandler handler(true);
    ASSERT_TRUE(handler.server().initPort(-1));
    const int fdsBefore = CorvaneTest::countOpenFds();
    const ScopedFd client = connectAndAccept(handler);
    // The parent keeps listening and holds no copy of the accepted socket.
    EXPECT_EQ(fdsBefore + 1, CorvaneTest::countOpenFds());
    EXPECT_EQ(1, handler.beforeForks_);
    EXPECT_EQ(1, handler.afterForks_);
    EXPECT_FALSE(handler.served_);
    EXPECT_TRUE(handler.server().isValid());

    const std::string reply = replyOf(client);
    const pid_t child = static_cast<pid_t>(std::atoi(reply.c_str() + 4));
    ASSERT_GT(child, 0) << reply;
    EXPECT_NE(::getpid(), child);
    EXPECT_NE(std::string::npos, reply.find(" child 1 listening 0 ")) << reply;

    const int status = CorvaneTest::waitForChild(child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
}

}  // namespace
