// Accept passes over a real loopback listener: the per-pass limit, running
// out of descriptors and a socket that cannot listen.
#include "base/tcp/CoAccept.h"

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/loggerBase/CoMsg.h"
#include "base/tcp/CoIoTcpServerDescriptor.h"
#include "support/LoopbackListener.h"
#include "support/MessageLog.h"

namespace {

using namespace Corvane;
using CorvaneTest::MessageLog;
using CorvaneTest::ScopedFd;

class CoAcceptTest : public ::testing::Test {
protected:
    void SetUp() override {
        TcpListenOptions options;
        options.nonBlocking = true;
        options.backlog = 32;
        int err = 0;
        listener_.reset(listenTcpOn("127.0.0.1", 0, options, &port_, &err));
        ASSERT_TRUE(listener_.valid()) << std::strerror(err);
    }

    void connectClients(int count) {
        for (int i = 0; i < count; ++i) {
            clients_.push_back(CorvaneTest::connectLoopback(port_));
            ASSERT_TRUE(clients_.back().valid());
        }
    }

    // One pass of at most max over from (the listener unless given); the
    // connections it took, closed again.
    bool pass(int max, int* taken, int from = -1, const char* name = "'127.0.0.1'") {
        *taken = 0;
        return acceptPass(from < 0 ? listener_.get() : from, max, name, [taken](int fd) {
            ++*taken;
            ::close(fd);
        });
    }

    MessageLog::Scope log_;
    ScopedFd listener_;
    int port_ = -1;
    std::vector<ScopedFd> clients_;
};

TEST_F(CoAcceptTest, TakesAtMostItsLimitAPassAndTheRestNext) {
    connectClients(20);
    for (const int expected : {16, 4, 0}) {  // nothing waiting is no failure
        int taken = -1;
        EXPECT_TRUE(pass(16, &taken));
        EXPECT_EQ(expected, taken);
    }
    EXPECT_TRUE(log_->texts(CoMsg::error).empty());
}

#ifndef CORVANE_SANITIZER  // its runtime needs free descriptors
TEST_F(CoAcceptTest, OutOfDescriptorsKeepsTheSocketAndTheConnection) {
    connectClients(1);
    rlimit saved{};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &saved));
    rlimit none = saved;
    none.rlim_cur = 0;
    ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &none));
    int taken = 0;
    const bool kept = pass(16, &taken);
    ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &saved));
    EXPECT_TRUE(kept);
    EXPECT_EQ(0, taken);
    EXPECT_TRUE(log_->contains(std::string("Can't accept client connection on '127.0.0.1': ") + std::strerror(EMFILE)));
    EXPECT_TRUE(pass(16, &taken));
    EXPECT_EQ(1, taken);
}
#endif

TEST_F(CoAcceptTest, SocketThatDoesNotListenEndsThePass) {
    ScopedFd idle(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    ASSERT_TRUE(idle.valid());
    int taken = 0;
    EXPECT_FALSE(pass(16, &taken, idle.get(), "port 7549"));
    EXPECT_EQ(0, taken);
    EXPECT_TRUE(log_->contains(std::string("Listening socket on port 7549 failed: ") + std::strerror(EINVAL)));
}

TEST(CoAcceptFailureTest, SortsErrorsByWhatTheSocketCanStillDo) {
    for (int err : {EAGAIN, EWOULDBLOCK, EINTR, ECONNABORTED, EPROTO})
        EXPECT_EQ(AcceptFailure::Retry, acceptFailureOf(err)) << std::strerror(err);
    for (int err : {EMFILE, ENFILE, ENOBUFS, ENOMEM})
        EXPECT_EQ(AcceptFailure::BackOff, acceptFailureOf(err)) << std::strerror(err);
    for (int err : {EBADF, EINVAL, ENOTSOCK, EOPNOTSUPP})
        EXPECT_EQ(AcceptFailure::Fatal, acceptFailureOf(err)) << std::strerror(err);
}

}  // namespace
