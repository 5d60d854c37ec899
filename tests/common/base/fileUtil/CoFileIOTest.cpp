#include "base/fileUtil/CoFileIO.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "base/loggerBase/CoException.h"
#include "support/MessageLog.h"
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

}  // namespace
