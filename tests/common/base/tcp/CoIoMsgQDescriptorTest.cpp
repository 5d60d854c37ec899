#include "base/tcp/CoIoMsgQDescriptor.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "support/LoopbackListener.h"
#include "support/TempDir.h"

namespace {

using Corvane::CoIoMsgQDescriptor;
using CorvaneTest::ScopedFd;

class CoIoMsgQDescriptorTest : public ::testing::Test {
protected:
    CorvaneTest::TempDir dir_;
};

TEST_F(CoIoMsgQDescriptorTest, TalksOverTheSocketFileAndDropsItOnReopening) {
    CorvaneTest::LocalListener listener(dir_.file("msgq.cv.a"));
    CoIoMsgQDescriptor queue;
    ASSERT_TRUE(queue.open(listener.path())) << queue.lastError();
    EXPECT_EQ(listener.path(), queue.getPath());
    const ScopedFd server = listener.accept();
    ASSERT_TRUE(server.valid());

    EXPECT_TRUE(queue.writeStr("sync 0 _ping \n"));
    std::string line;
    ASSERT_TRUE(CorvaneTest::recvLine(server.get(), &line));
    EXPECT_EQ("sync 0 _ping ", line);
    ASSERT_TRUE(CorvaneTest::sendAll(server.get(), "ok \n"));
    char buf[32];
    EXPECT_EQ(3, queue.readLine(buf, sizeof buf));
    EXPECT_STREQ("ok ", buf);
    std::string local, peer;
    EXPECT_TRUE(queue.getSocketIP(local) && queue.getPeerIP(peer));
    EXPECT_EQ("127.0.0.1", local);
    EXPECT_EQ("127.0.0.1", peer);

    CorvaneTest::LocalListener second(dir_.file("msgq.cv.2"));
    ASSERT_TRUE(queue.open(second.path()));
    EXPECT_EQ("", CorvaneTest::recvUpTo(server.get(), 1));  // the first server sees its client go
    const ScopedFd secondServer = second.accept();
    EXPECT_TRUE(queue.writeStr("x"));
    EXPECT_EQ("x", CorvaneTest::recvUpTo(secondServer.get(), 1));
}

TEST_F(CoIoMsgQDescriptorTest, OpenFailuresLeaveNoSocketAndATextWhy) {
    const struct {
        std::string path;
        int err;
    } cases[] = {
        {dir_.file("nobody-listens"), ENOENT},
        {dir_.file(std::string(200, 'p')), ENAMETOOLONG},  // would not fit the address
        {dir_.path(), ECONNREFUSED},                        // a directory is no socket
    };
    for (const auto& c : cases) {
        CoIoMsgQDescriptor queue;
        EXPECT_FALSE(queue.open(c.path));
        EXPECT_EQ(std::strerror(c.err), queue.lastError()) << c.path;
        EXPECT_FALSE(queue.isValid());
    }
}

}  // namespace
