#include "base/fileUtil/CoFilePath.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "base/loggerBase/CoException.h"
#include "support/MessageLog.h"
#include "support/TempDir.h"

namespace {

using Corvane::CoException;
using Corvane::CoFilePath;

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

}  // namespace
