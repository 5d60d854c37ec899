#include "base/fileUtil/CoFilePath.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "base/fileUtil/CoFileIO.h"
#include "support/MessageLog.h"
#include "support/TempDir.h"
#include "support/Thrown.h"

namespace {

using Corvane::CoFileIO;
using Corvane::CoFilePath;
using CorvaneTest::thrownText;

class CoFilePathTest : public ::testing::Test {
protected:
    CorvaneTest::TempDir dir_;
    CorvaneTest::MessageLog::Scope log_;
};

TEST_F(CoFilePathTest, ExpandsHomeUsersVariablesAndDots) {
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", "/home/u", 1);
    setenv("CORVANE_TEST_DIR", "v", 1);
    // path, expansion ("!": thrown)
    const char* const expansions[][2] = {
        {"~/x", "/home/u/x"},
        {"/d/~root/x", "/d/root/x"},
        {"/d/$CORVANE_TEST_DIR/../y", "/d/y"},
        {"a//./b/", "a/b"},
        {"/../a", "/a"},
        {"../a/../..", "../.."},
        {"draft~", "draft~"},
        {"$CORVANE_UNSET/x", "!"},
        {"~corvane-no-such-user/x", "!"},
    };
    for (const auto& e : expansions) {
        CoFilePath path{std::string(e[0])};
        EXPECT_EQ(e[1], thrownText([&] { path.expand(); }) == "<no exception>" ? path.path() : "!") << e[0];
    }
    setenv("HOME", home.c_str(), 1);
}

TEST_F(CoFilePathTest, CopyOntoItselfKeepsTheFile) {
    // The destination must not be emptied before the source is read.
    CoFilePath file(dir_.write("b", "kept"));
    EXPECT_EQ(std::string(std::strerror(EINVAL)) + " / " + file.path(),
              thrownText([&] { file.copyTo(CoFilePath(dir_.file("./b"))); }, true));
    EXPECT_EQ("kept", CorvaneTest::readFile(file.path()));
}

TEST_F(CoFilePathTest, FileIOReadsWholeFilesAndReportsOpenFailures) {
    const std::string text("line\n\0binary", 12);
    EXPECT_EQ(text, CoFileIO(dir_.write("f", text)).readAll());
    CoFileIO missing(dir_.file("missing"));
    EXPECT_EQ("No such file or directory / Could not open \"" + missing.path() + "\" (flags:r)",
              thrownText([&] { missing.open("r"); }, true));
}

}  // namespace
