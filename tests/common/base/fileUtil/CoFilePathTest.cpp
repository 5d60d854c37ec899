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

struct stat statusOf(const std::string& path) {
    struct stat status {};
    lstat(path.c_str(), &status);
    return status;
}

class CoFilePathTest : public ::testing::Test {
protected:
    CorvaneTest::TempDir dir_;
    CorvaneTest::MessageLog::Scope log_;
};

TEST_F(CoFilePathTest, TakesPathsApartExpandsAndEditsThem) {
    // path, extension, directory, last component
    const char* const parts[][4] = {
        {"/a/b.txt", "txt", "/a", "b.txt"}, {"/a/.profile", "", "/a", ".profile"}, {"/a/b.", "", "/a", "b."},
        {"/a.b/c", "", "/a.b", "c"},        {"b", "", ".", "b"},                   {"/b", "", "/", "b"},
        {"a//b/", "", "a", "b"},            {"", "", ".", ""},
    };
    for (const auto& p : parts) {
        const CoFilePath path{std::string(p[0])};
        EXPECT_EQ(p[1], path.extension()) << p[0];
        EXPECT_EQ(p[2], path.directory()) << p[0];
        EXPECT_EQ(p[3], path.lastComponent()) << p[0];
    }
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", "/home/u", 1);
    setenv("CORVANE_TEST_DIR", "v", 1);
    // path, expansion ("!": thrown)
    const char* const expansions[][2] = {
        {"~/x", "/home/u/x"}, {"/d/~root/x", "/d/root/x"}, {"/d/$CORVANE_TEST_DIR/../y", "/d/y"},
        {"a//./b/", "a/b"},   {"/../a", "/a"},          {"../a/../..", "../.."},
        {"draft~", "draft~"}, {"$CORVANE_UNSET/x", "!"}, {"~corvane-no-such-user/x", "!"},
    };
    for (const auto& e : expansions) {
        CoFilePath path{std::string(e[0])};
        EXPECT_EQ(e[1], thrownDetail([&] { path.expand(); }) == "no exception" ? path.path() : "!") << e[0];
    }
    setenv("HOME", home.c_str(), 1);

    CoFilePath edited("/a/b.txt");
    edited.replaceExtension("md");
    EXPECT_EQ("/a/b.md", edited.path());
    edited.removeExtension();
    edited.replaceExtension("txt");  // the missing dot comes with it
    edited.append("//c");
    EXPECT_EQ("/a/b.txt/c", edited.path());
    CoFilePath dotted("b.\\c.");
    dotted.convertSeparators();
    dotted.replaceExtension("md");
    EXPECT_EQ("b./c.md", dotted.path());
}

TEST_F(CoFilePathTest, ChangesTheFileSystemAndNamesThePathInFailures) {
    const mode_t mask = umask(0);
    CoFilePath file(dir_.file("a"));
    file.createFile({1 | 2, 1, 0}, true);
    umask(mask);
    EXPECT_EQ(0640u, statusOf(file.path()).st_mode & 0777u);
    EXPECT_EQ(file.path(), thrownDetail([&] { file.createFile({1, 0, 0}, true); }));
    CoFilePath link(dir_.file("l"));
    link.linkTo(file, true);
    EXPECT_TRUE(link.isSymbolicLink());
    EXPECT_FALSE(CoFilePath(dir_.file("missing")).mayAccess(1));
    // ENOTDIR is no answer to "may I": it is thrown.
    EXPECT_EQ(file.path() + "/x", thrownDetail([&] { CoFilePath(file.path() + "/x").mayAccess(1); }));
    file.renameTo(CoFilePath(dir_.file("b")));
    EXPECT_EQ(CoFilePath::Kind::File, file.kind());
    file.removeFile();
    EXPECT_EQ("unlink " + file.path(), thrownDetail([&] { file.removeFile(); }));

    CoFilePath deep(dir_.file("x/y/z"));
    EXPECT_EQ("mkdir " + deep.path(), thrownDetail([&] { deep.makeDirectory({7, 5, 5}, false); }));
    deep.makeDirectory({7, 5, 5}, true);
    EXPECT_EQ(CoFilePath::Kind::Directory, deep.kind());
    EXPECT_EQ("mkdir " + deep.path(), thrownDetail([&] { deep.makeDirectory({7, 5, 5}, true); }));
}

TEST_F(CoFilePathTest, CopyOntoItselfKeepsTheFile) {
    // Why: the copy emptied its destination before reading the source.
    CoFilePath file(dir_.write("b", "kept"));
    EXPECT_EQ(file.path(), thrownDetail([&] { file.copyTo(CoFilePath(dir_.file("./b"))); }));
    EXPECT_EQ("kept", CorvaneTest::readFile(file.path()));
}

// tmpfs, and ramfs which refuses O_DIRECT, beside the disk.
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

    // Over a longer file, keeping the private mode, a page at a time.
    Corvane::CoDirectIO::setChunkSizeForTesting(4096);
    const std::string content(3 * 4096 + 100, 'c');
    CoFilePath moved(dir_.write("tmp/f", content));
    chmod(moved.c_str(), 0600);
    const std::string onDisk = dir_.write("f", std::string(5 * 4096, 'o'));
    moved.moveTo(CoFilePath(onDisk));
    EXPECT_EQ(onDisk, moved.path());
    EXPECT_FALSE(CoFilePath(dir_.file("tmp/f")).exists());
    EXPECT_EQ(content, CorvaneTest::readFile(onDisk));
    EXPECT_EQ(0600u, statusOf(onDisk).st_mode & 0777u);
    CoFilePath(dir_.write("tmp/empty", "")).moveTo(CoFilePath(dir_.file("empty")));
    EXPECT_TRUE(CoFilePath(dir_.file("empty")).exists());

    // Into a full tmpfs: the remains of the copy go, the source stays.
    CoFilePath large(dir_.write("large", std::string(64 * 1024, 'l')));
    EXPECT_EQ(large.path(), thrownDetail([&] { large.moveTo(CoFilePath(dir_.file("full/large"))); }));
    EXPECT_FALSE(CoFilePath(dir_.file("full/large")).exists());
    EXPECT_EQ(64 * 1024u, CorvaneTest::readFile(large.path()).size());
    EXPECT_FALSE(log_->startingWith("Unable to write ").empty());

    large.moveTo(CoFilePath(dir_.file("ram/large")));
    EXPECT_EQ(64 * 1024u, CorvaneTest::readFile(dir_.file("ram/large")).size());
    EXPECT_TRUE(log_->contains("Cannot enable direct I/O for file: '" + dir_.file("ram/large") +
                               "' : Invalid argument ", CoMsg::debugging));
    Corvane::CoDirectIO::setChunkSizeForTesting(0);
}

// As root on behalf of the real user nobody, in a process of its own.
TEST_F(CoFilePathTest, GivesFilesToTheRealUser) {
    if (!CorvaneTest::inFreshProcess({{"XQ_CHOWN_NUM_RETRIES", "1"}}))
        return;
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    const std::string file = dir_.write("f", "x");
    const std::string target = dir_.write("target", "x");
    CoFilePath link(dir_.file("link"));
    link.linkTo(CoFilePath(target), true);
    CoFilePath named(dir_.write("named", "x"));
    named.changeOwner("nobody", "nogroup");
    EXPECT_EQ(kNobody, statusOf(named.path()).st_uid);
    EXPECT_EQ(kNobody, statusOf(named.path()).st_gid);
    EXPECT_EQ("Error while retrieve user 'corvane-no-such-user' information.",
              thrownDetail([&] { named.changeOwner("corvane-no-such-user"); }));
    EXPECT_TRUE(CoFilePath(file).giveToRealUser());  // the real user is root too
    EXPECT_EQ(0u, statusOf(file).st_uid);

    ASSERT_EQ(0, setresuid(kNobody, 0, 0));
    EXPECT_TRUE(CoFilePath(file).giveToRealUser());
    EXPECT_EQ(kNobody, statusOf(file).st_uid);
    EXPECT_TRUE(link.giveToRealUser());
    EXPECT_EQ(kNobody, statusOf(link.path()).st_uid);
    EXPECT_EQ(0u, statusOf(target).st_uid);

    static std::vector<std::chrono::steady_clock::time_point> attempts;
    CoFilePath::setChownForTesting([](const char*, uid_t, gid_t, bool) {
        attempts.push_back(std::chrono::steady_clock::now());
        errno = EPERM;
        return -1;
    });
    EXPECT_FALSE(CoFilePath(file).giveToRealUser());
    CoFilePath::setChownForTesting(nullptr);
    ASSERT_EQ(2u, attempts.size());
    EXPECT_GE(attempts[1] - attempts[0], std::chrono::seconds(1));
    const std::string from = "Unable to set the ownership from user 0 to user 65534 for ";
    EXPECT_EQ(1, log_->count(from + "link " + file + ": Permission denied. Retrying.", CoMsg::warning));
    EXPECT_TRUE(log_->contains(from + file + " : Operation not permitted."));
    EXPECT_FALSE(CoFilePath(dir_.file("missing")).giveToRealUser());  // not retried
    EXPECT_TRUE(log_->contains(from + dir_.file("missing") + " : No such file or directory."));
}

}  // namespace
