// Whole writes and reads of real files, a full one included, and the
// descriptor's ownership.
#include "base/fileUtil/CoFileDescriptor.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace {

using Corvane::CoFileDescriptor;

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int openNew(const std::string& path) { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600); }

TEST(CoFileDescriptorTest, WritesEveryByteAndClosesOnce) {
    CorvaneTest::TempDir dir;
    std::string bytes(3 << 20, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 % 251);
    int raw = -1;
    {
        CoFileDescriptor file(openNew(dir.file("data")));
        ASSERT_TRUE(file.valid());
        EXPECT_TRUE(Corvane::writeAll(file.get(), bytes.data(), bytes.size()));
        EXPECT_TRUE(Corvane::writeAll(file.get(), "", 0));
        EXPECT_TRUE(file.closeNow());
        EXPECT_FALSE(file.valid());
        EXPECT_TRUE(file.closeNow());  // owns nothing any more
    }
    EXPECT_EQ(bytes, contentOf(dir.file("data")));
    {
        CoFileDescriptor file(::open(dir.file("data").c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(file.valid());
        raw = file.get();
        std::string back(bytes.size() - 1, '\0');
        EXPECT_TRUE(Corvane::readAll(file.get(), &back[0], back.size()));
        EXPECT_EQ(back, bytes.substr(0, back.size()));
        EXPECT_FALSE(Corvane::readAll(file.get(), &back[0], 2)) << "one byte is left";
    }
    EXPECT_EQ(-1, ::fcntl(raw, F_GETFD));  // closed with its owner
    EXPECT_EQ(EBADF, errno);
}

// A write cut short by a full file system must not pass for a whole one: the
// file size limit cuts the first write short and fails the next.
TEST(CoFileDescriptorTest, FullFileFailsTheWrite) {
    CorvaneTest::TempDir dir;
    CoFileDescriptor file(openNew(dir.file("full")));
    ASSERT_TRUE(file.valid());
    struct sigaction ignore = {};
    struct sigaction saved = {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(0, ::sigaction(SIGXFSZ, &ignore, &saved));
    rlimit savedLimit{};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &savedLimit));
    rlimit small = savedLimit;
    small.rlim_cur = 1000;
    ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &small));
    const std::string bytes(4000, 'x');
    const bool written = Corvane::writeAll(file.get(), bytes.data(), bytes.size());
    ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &savedLimit));
    ASSERT_EQ(0, ::sigaction(SIGXFSZ, &saved, nullptr));
    EXPECT_FALSE(written);
    EXPECT_EQ(std::string(1000, 'x'), contentOf(dir.file("full")));
}

}  // namespace
