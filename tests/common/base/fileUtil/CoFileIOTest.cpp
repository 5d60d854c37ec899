#include "base/fileUtil/CoFileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "base/loggerBase/CoException.h"
#include "common/base/fileUtil/FreshProcess.h"
#include "support/MessageLog.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

using Corvane::CoException;
using Corvane::CoFileIO;
using Corvane::CoFilePath;
using Corvane::CoMsg;
using FileSystem = CoFileIO::Preallocator::FileSystem;
using Method = CoFileIO::Preallocator::Method;
using Preallocator = CoFileIO::Preallocator;

constexpr uint64_t kMiB = 1024 * 1024;

// What body threw, as "detail / text"; empty when it did not throw.
template <typename Body>
std::string failure(Body body) {
    try {
        body();
    } catch (const CoException& e) {
        return std::string(e.detail()) + " / " + e.what();
    }
    return "";
}

struct stat statusOf(const std::string& path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return status;
}

class CoFileIOTest : public ::testing::Test {
protected:
    CorvaneTest::TempDir dir_;
    CorvaneTest::MessageLog::Scope log_;
};

TEST_F(CoFileIOTest, NamesReadBothWaysWithoutRegardToCase) {
    for (FileSystem fs : {FileSystem::Generic, FileSystem::XFS, FileSystem::HFS})
        EXPECT_EQ(fs, Preallocator::fileSystemFromName(Preallocator::name(fs)));
    for (Method m : {Method::None, Method::FAllocate, Method::Reserve, Method::F_Preallocate})
        EXPECT_EQ(m, Preallocator::methodFromName(Preallocator::name(m)));
    EXPECT_EQ(Method::Reserve, Preallocator::methodFromName("reserve"));
    EXPECT_TRUE(log_->texts(CoMsg::warning).empty());
    EXPECT_EQ(FileSystem::Unknown, Preallocator::fileSystemFromName("Unknown"));
    EXPECT_EQ(Method::Invalid, Preallocator::methodFromName(nullptr));
    EXPECT_TRUE(log_->contains("Invalid file system type string 'Unknown'", CoMsg::warning));
    EXPECT_TRUE(log_->contains("Invalid media preallocation type string ''", CoMsg::warning));
}

TEST_F(CoFileIOTest, ReservesWhereTheFileSystemAllowsTheMethod) {
    const std::string notADirectory = dir_.write("plain", "x") + "/f";
    EXPECT_EQ(FileSystem::Generic, Preallocator::detect(CoFilePath(dir_.file("not/yet/f"))));
    EXPECT_EQ(FileSystem::Unknown, Preallocator::detect(CoFilePath(notADirectory)));
    EXPECT_TRUE(log_->contains("Could not determine file system type for '" + notADirectory +
                               "': Not a directory.", CoMsg::warning));

    CoFileIO file(dir_.file("clip"));
    Preallocator none(Method::None), fallocate(Method::FAllocate);
    EXPECT_EQ("", failure([&] { file.preallocate(0, kMiB, none); }));
    EXPECT_EQ(FileSystem::Generic, none.fileSystem());
    EXPECT_EQ("", failure([&] { file.preallocate(kMiB, kMiB, fallocate); }));
    EXPECT_EQ(static_cast<off_t>(2 * kMiB), statusOf(file.path()).st_size);
    EXPECT_NE("", failure([&] { file.preallocate(0, UINT64_MAX / 2, fallocate); }));
    EXPECT_FALSE(log_->startingWith("Could not preallocate space: ").empty());
    for (Method m : {Method::Reserve, Method::F_Preallocate, Method::Invalid}) {
        Preallocator unsupported(m);
        EXPECT_EQ("Unsupported preallocation type / Operation not supported",
                  failure([&] { file.preallocate(0, kMiB, unsupported); }));
        EXPECT_TRUE(log_->contains(std::string("Unsupported preallocation type '") + Preallocator::name(m) +
                                   "' on filesystem type 'Generic'.", CoMsg::error));
    }
}

TEST_F(CoFileIOTest, ReadsWholeFilesAndReportsOpenAndSeekFailures) {
    const std::string text("line\n\0binary", 12);
    CoFileIO file(dir_.write("f", text));
    EXPECT_EQ(text, file.readAll());
    CoFileIO missing(dir_.file("missing"));
    EXPECT_EQ("Could not open \"" + missing.path() + "\" (flags:r) / No such file or directory",
              failure([&] { missing.open("r"); }));
    // A pipe opened at both ends does not block, and can not seek.
    ASSERT_EQ(0, mkfifo(dir_.file("fifo").c_str(), 0600));
    CoFileIO pipe(dir_.file("fifo"));
    pipe.open("r+");
    EXPECT_TRUE(fcntl(fileno(pipe.stream()), F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ("Could not seek to 10 in \"" + pipe.path() + "\" / Illegal seek", failure([&] { pipe.seek(10); }));
}

// A small XFS image on a loop device, mounted in a private mount namespace.
TEST_F(CoFileIOTest, DetectsXfsAndReservesOnIt) {
    if (!CorvaneTest::inFreshProcess())
        return;
    if (geteuid() != 0 || access("/dev/loop-control", F_OK) != 0 || !CorvaneTest::enterPrivateMountNamespace())
        GTEST_SKIP() << "an XFS image needs root, loop devices and mount namespaces";
    const std::string image = dir_.write("xfs.img", "");
    ASSERT_EQ(0, truncate(image.c_str(), 300 * kMiB));  // the least mkfs.xfs takes; sparse
    CorvaneTest::ProcessOptions options;
    options.env = CorvaneTest::currentEnvironment();
    const CorvaneTest::ProcessResult mkfs = CorvaneTest::runProcess({"mkfs.xfs", "-q", image}, options);
    if (mkfs.exitStatus != 0)
        GTEST_SKIP() << "mkfs.xfs (Debian's xfsprogs) failed or is missing: " << mkfs.err;
    CorvaneTest::ScopedMount xfs(image, dir_.file("xfs"), "xfs", "loop");
    if (!xfs.mounted())
        GTEST_SKIP() << "could not mount an XFS image on a loop device: " << xfs.error();

    EXPECT_EQ(FileSystem::XFS, Preallocator::detect(CoFilePath(dir_.file("xfs/not/yet/clip"))));
    CoFileIO clip(dir_.file("xfs/clip"));
    Preallocator reserve(Method::Reserve);
    EXPECT_EQ("", failure([&] { clip.preallocate(0, 8 * kMiB, reserve); }));
    EXPECT_EQ(FileSystem::XFS, reserve.fileSystem());
    // Reserved space is taken without making the file longer.
    EXPECT_EQ(0, statusOf(clip.path()).st_size);
    EXPECT_GE(static_cast<uint64_t>(statusOf(clip.path()).st_blocks) * 512, 8 * kMiB);
}

}  // namespace
