#include "base/fileUtil/CoFilePath.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "base/fileUtil/CoFileIO.h"
#include "base/loggerBase/CoException.h"
#include "support/MessageLog.h"
#include "support/TempDir.h"

namespace {

using Corvane::CoException;
using Corvane::CoFileIO;
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
        EXPECT_EQ(e[1], thrownDetail([&] { path.expand(); }) == "no exception" ? path.path() : "!") << e[0];
    }
    setenv("HOME", home.c_str(), 1);
}

TEST_F(CoFilePathTest, CopyOntoItselfKeepsTheFile) {
    // The destination must not be emptied before the source is read.
    CoFilePath file(dir_.write("b", "kept"));
    EXPECT_EQ(file.path(), thrownDetail([&] { file.copyTo(CoFilePath(dir_.file("./b"))); }));
    EXPECT_EQ("kept", CorvaneTest::readFile(file.path()));
}

TEST_F(CoFilePathTest, FileIOReadsWholeFilesAndReportsOpenFailures) {
    const std::string text("line\n\0binary", 12);
    EXPECT_EQ(text, CoFileIO(dir_.write("f", text)).readAll());
    CoFileIO missing(dir_.file("missing"));
    try {
        missing.open("r");
        ADD_FAILURE() << "no exception";
    } catch (const CoException& e) {
        EXPECT_STREQ(e.detail(), ("Could not open \"" + missing.path() + "\" (flags:r)").c_str());
        EXPECT_STREQ(e.what(), "No such file or directory");
    }
}

}  // namespace
