#include "base/fileUtil/CoFilePath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/fileUtil/CoDirectIO.h"
#include "base/loggerBase/CoException.h"
#include "common/base/fileUtil/FreshProcess.h"
#include "support/MessageLog.h"
#include "support/TempDir.h"

namespace {

using Corvane::CoException;
using Corvane::CoFilePath;
using Corvane::CoMsg;

constexpr uid_t kNobody = 65534;
constexpr CoFilePath::Permissions kOwnerReadWrite{3, 0, 0};

// The detail of the CoException that body throws; "no exception" when none.
template <typename Body>
std::string thrownDetail(Body body) {
    try {
        body();
    } catch (const CoException& e) {
        return e.detail();
    }
    return "no exception";
}

uid_t ownerOf(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 ? status.st_uid : static_cast<uid_t>(-1);
}

class CoFilePathTest : public ::testing::Test {
protected:
    CorvaneTest::TempDir dir_;
    CorvaneTest::MessageLog::Scope log_;
};

TEST_F(CoFilePathTest, TakesPathsApartAndEditsThem) {
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", "/home/u", 1);
    setenv("CORVANE_TEST_DIR", "v", 1);
    unsetenv("CORVANE_UNSET_VAR");
    // operation, path, argument, expected ("!" for an exception)
    const struct {
        const char* op;
        const char* path;
        const char* arg;
        const char* expected;
    } cases[] = {
        {"extension", "/a/b.txt", "", "txt"},
        {"extension", "/a/.profile", "", ""},
        {"extension", "/a/b.", "", ""},
        {"extension", "/a.b/c", "", ""},
        {"extension", "a.b.tar", "", "tar"},
        {"directory", "b", "", "."},
        {"directory", "", "", "."},
        {"directory", "/b", "", "/"},
        {"directory", "/a/b", "", "/a"},
        {"directory", "a//b/", "", "a"},
        {"last", "/a/b/", "", "b"},
        {"last", "b", "", "b"},
        {"expand", "~/x", "", "/home/u/x"},
        {"expand", "~root/x", "", "/root/x"},
        {"expand", "/d/$CORVANE_TEST_DIR/../y", "", "/d/y"},
        {"expand", "a//./b/", "", "a/b"},
        {"expand", "/../a", "", "/a"},
        {"expand", "../a/../..", "", "../.."},
        {"expand", "draft~/x~", "", "draft~/x~"},
        {"expand", "$CORVANE_UNSET_VAR/x", "", "!"},
        {"expand", "~corvane-no-such-user/x", "", "!"},
        {"append", "/a", "b", "/a/b"},
        {"append", "/a/", "//b", "/a/b"},
        {"append", "", "b", "b"},
        {"removeExtension", "/a/b.txt", "", "/a/b"},
        {"removeExtension", "/a.b/c", "", "/a.b/c"},
        {"replaceExtension", "/a/b.txt", "md", "/a/b.md"},
        {"replaceExtension", "/a/b", "md", "/a/b.md"},
        {"replaceExtension", "/a/b.", "md", "/a/b.md"},
        {"replaceExtension", "/a/b.txt", "", "/a/b.txt"},
        {"convertSeparators", "a\\b/c\\", "", "a/b/c/"},
    };
    for (const auto& c : cases) {
        CoFilePath path{std::string(c.path)};
        const std::string op = c.op;
        std::string result;
        try {
            if (op == "extension")
                result = path.extension();
            else if (op == "directory")
                result = path.directory();
            else if (op == "last")
                result = path.lastComponent();
            else {
                if (op == "expand")
                    path.expand();
                else if (op == "append")
                    path.append(c.arg);
                else if (op == "removeExtension")
                    path.removeExtension();
                else if (op == "replaceExtension")
                    path.replaceExtension(c.arg);
                else if (op == "convertSeparators")
                    path.convertSeparators();
                result = path.path();
            }
        } catch (const CoException&) {
            result = "!";
        }
        EXPECT_EQ(c.expected, result) << c.op << " '" << c.path << "' '" << c.arg << "'";
    }
    setenv("HOME", home.c_str(), 1);
}

TEST_F(CoFilePathTest, CreatesLinksRenamesAndRemoves) {
    CoFilePath file(dir_.file("a.txt"));
    file.createFile({3, 1, 0}, true);
    struct stat64 status;
    ASSERT_TRUE(file.exists(&status));
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(0640u & ~mask, status.st_mode & 0777u);
    EXPECT_EQ(CoFilePath::Kind::File, file.kind());
    EXPECT_EQ(file.path(), thrownDetail([&] { file.createFile(kOwnerReadWrite, true); }));
    file.createFile(kOwnerReadWrite, false);

    CoFilePath symbolic(dir_.file("s")), hard(dir_.file("h"));
    symbolic.linkTo(file, true);
    hard.linkTo(file, false);
    EXPECT_TRUE(symbolic.isSymbolicLink());
    EXPECT_FALSE(hard.isSymbolicLink());
    EXPECT_EQ(hard.path(), thrownDetail([&] { hard.linkTo(file, false); }));
    EXPECT_TRUE(hard.mayAccess(1 | 2));
    EXPECT_FALSE(CoFilePath(dir_.file("missing")).mayAccess(1));
    // ENOTDIR is no answer to "may I": it is thrown.
    EXPECT_EQ(file.path() + "/x", thrownDetail([&] { CoFilePath(file.path() + "/x").mayAccess(1); }));
    EXPECT_EQ(dir_.file("missing"), thrownDetail([&] { CoFilePath(dir_.file("missing")).exists(&status); }));

    file.changeMode({1, 0, 0});
    ASSERT_TRUE(file.exists(&status));
    EXPECT_EQ(0400u, status.st_mode & 0777u);
    file.renameTo(CoFilePath(dir_.file("b.txt")));
    EXPECT_EQ(dir_.file("b.txt"), file.path());
    EXPECT_FALSE(CoFilePath(dir_.file("a.txt")).exists());
    EXPECT_EQ("rmdir " + file.path(), thrownDetail([&] { file.removeDirectory(); }));
    file.removeFile();
    EXPECT_EQ("unlink " + file.path(), thrownDetail([&] { file.removeFile(); }));
    EXPECT_EQ("chmod " + file.path(), thrownDetail([&] { file.changeMode(kOwnerReadWrite); }));
}

TEST_F(CoFilePathTest, MakesMissingParentsFirstWhenRecursive) {
    const CoFilePath::Permissions all{7, 5, 5};
    CoFilePath deep(dir_.file("x/y/z"));
    EXPECT_EQ("mkdir " + deep.path(), thrownDetail([&] { deep.makeDirectory(all, false); }));
    deep.makeDirectory(all, true);
    EXPECT_EQ(CoFilePath::Kind::Directory, CoFilePath(dir_.file("x/y")).kind());
    EXPECT_EQ(CoFilePath::Kind::Directory, deep.kind());
    EXPECT_EQ("mkdir " + deep.path(), thrownDetail([&] { deep.makeDirectory(all, true); }));
    CoFilePath(dir_.file("x/y/z")).removeDirectory();
}

// tmpfs and ramfs (which refuses O_DIRECT) mounted beside the disk in a
// private mount namespace.
TEST_F(CoFilePathTest, MovesAcrossFileSystemsThroughACopy) {
    if (!CorvaneTest::inFreshProcess())
        return;
    if (geteuid() != 0 || !CorvaneTest::enterPrivateMountNamespace())
        GTEST_SKIP() << "mounting test file systems needs root and mount namespaces";
    CorvaneTest::ScopedMount tmpfs("tmpfs", dir_.file("tmp"), "tmpfs", "size=1m");
    CorvaneTest::ScopedMount full("tmpfs", dir_.file("full"), "tmpfs", "size=16k");
    CorvaneTest::ScopedMount ramfs("ramfs", dir_.file("ram"), "ramfs", "mode=755");
    if (!tmpfs.mounted() || !full.mounted() || !ramfs.mounted())
        GTEST_SKIP() << "could not mount tmpfs or ramfs: " << tmpfs.error() << ramfs.error();

    // tmpfs to disk, over a longer file, keeping the source's private mode,
    // in pieces of a page.
    Corvane::CoDirectIO::setChunkSizeForTesting(4096);
    const std::string content(3 * 4096 + 100, 'c');
    CoFilePath moved(dir_.write("tmp/f", content));
    chmod(moved.c_str(), 0600);
    const std::string onDisk = dir_.write("f", std::string(5 * 4096, 'o'));
    moved.moveTo(CoFilePath(onDisk));
    EXPECT_EQ(onDisk, moved.path());
    EXPECT_FALSE(CoFilePath(dir_.file("tmp/f")).exists());
    EXPECT_EQ(content, CorvaneTest::readFile(onDisk));
    struct stat64 status;
    ASSERT_TRUE(moved.exists(&status));
    EXPECT_EQ(0600u, status.st_mode & 0777u);
    CoFilePath(dir_.write("tmp/empty", "")).moveTo(CoFilePath(dir_.file("empty")));
    EXPECT_TRUE(CoFilePath(dir_.file("empty")).exists());

    // Disk to a full tmpfs: the copy fails, its remains go, the source stays.
    CoFilePath large(dir_.write("large", std::string(64 * 1024, 'l')));
    EXPECT_EQ(large.path(), thrownDetail([&] { large.moveTo(CoFilePath(dir_.file("full/large"))); }));
    EXPECT_FALSE(CoFilePath(dir_.file("full/large")).exists());
    EXPECT_EQ(64 * 1024u, CorvaneTest::readFile(large.path()).size());
    Corvane::CoDirectIO::setChunkSizeForTesting(0);
    EXPECT_FALSE(log_->startingWith("Unable to write ").empty());

    // ramfs refuses direct I/O: the copy goes on without it.
    large.moveTo(CoFilePath(dir_.file("ram/large")));
    EXPECT_EQ(64 * 1024u, CorvaneTest::readFile(dir_.file("ram/large")).size());
    EXPECT_TRUE(log_->contains("Cannot enable direct I/O for file: '" + dir_.file("ram/large") +
                               "' : Invalid argument ", CoMsg::debugging));
}

// Runs as root for the real user nobody, in a process of its own.
TEST_F(CoFilePathTest, GivesFilesToTheRealUser) {
    if (!CorvaneTest::inFreshProcess({{"XQ_CHOWN_NUM_RETRIES", "2"}}))
        return;
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    const std::string file = dir_.write("f", "x");
    const std::string target = dir_.write("target", "x");
    CoFilePath link(dir_.file("link"));
    link.linkTo(CoFilePath(target), true);
    // Nothing to do while the real user is root too.
    EXPECT_TRUE(CoFilePath(file).giveToRealUser());
    EXPECT_EQ(0u, ownerOf(file));

    ASSERT_EQ(0, setresuid(kNobody, 0, 0));
    EXPECT_TRUE(CoFilePath(file).giveToRealUser());
    EXPECT_EQ(kNobody, ownerOf(file));
    EXPECT_TRUE(link.giveToRealUser());
    EXPECT_EQ(kNobody, ownerOf(link.path()));
    EXPECT_EQ(0u, ownerOf(target));

    static std::vector<std::chrono::steady_clock::time_point> attempts;
    CoFilePath::setChownForTesting([](const char*, uid_t, gid_t, bool) {
        attempts.push_back(std::chrono::steady_clock::now());
        errno = EPERM;
        return -1;
    });
    EXPECT_FALSE(CoFilePath(file).giveToRealUser());
    CoFilePath::setChownForTesting(nullptr);
    ASSERT_EQ(3u, attempts.size());
    for (size_t i = 1; i < attempts.size(); ++i)
        EXPECT_GE(attempts[i] - attempts[i - 1], std::chrono::seconds(1));
    EXPECT_EQ(2, log_->count("Unable to set the ownership from user 0 to user 65534 for link " + file +
                             ": Permission denied. Retrying.", CoMsg::warning));
    EXPECT_TRUE(log_->contains("Unable to set the ownership from user 0 to user 65534 for " + file +
                               " : Operation not permitted."));
    // Other failures are not retried.
    EXPECT_FALSE(CoFilePath(dir_.file("missing")).giveToRealUser());
    EXPECT_TRUE(log_->contains("Unable to set the ownership from user 0 to user 65534 for " + dir_.file("missing") +
                               " : No such file or directory."));
}

TEST_F(CoFilePathTest, ChangesOwnerByName) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    CoFilePath file(dir_.write("f", "x"));
    file.changeOwner("nobody");
    EXPECT_EQ(kNobody, ownerOf(file.path()));
    file.changeOwner("root", "nogroup");
    struct stat64 status;
    ASSERT_TRUE(file.exists(&status));
    EXPECT_EQ(0u, status.st_uid);
    EXPECT_EQ(kNobody, status.st_gid);
    EXPECT_EQ("Error while retrieve user 'corvane-no-such-user' information.",
              thrownDetail([&] { file.changeOwner("corvane-no-such-user"); }));
    EXPECT_EQ("Error while retrieve group 'corvane-no-such-group' information.",
              thrownDetail([&] { file.changeOwner("nobody", "corvane-no-such-group"); }));
    EXPECT_EQ("Error while changing ownership of '" + dir_.file("missing") + "'",
              thrownDetail([&] { CoFilePath(dir_.file("missing")).changeOwner("nobody"); }));
}

}  // namespace
