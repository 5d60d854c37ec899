#include "base/fileUtil/CoConfigFileReader.h"

#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/loggerBase/CoMsg.h"
#include "support/MessageLog.h"
#include "support/TempDir.h"

using Corvane::CoConfigFileReader;
using Corvane::CoMsg;
using CorvaneTest::MessageLog;

namespace {

class CoConfigFileReaderTest : public ::testing::Test {
protected:
    // Writes text to a fresh file and reads it into reader_.
    int load(const std::string& text, int flags = 0, const char* name = "test.cfg") {
        path_ = dir_.write(name, text);
        return reader_.read(path_.c_str(), flags);
    }
    std::string value(const char* section, const char* name) { return reader_.getString(section, name, "<absent>"); }

    CorvaneTest::TempDir dir_;
    std::string path_;
    CoConfigFileReader reader_;
};

// A section header loses its last character, whatever it is: "[Alpha"
// names "Alph". A section opened again adds to the first.
TEST_F(CoConfigFileReaderTest, ParsesSectionsNamesAndValues) {
    ASSERT_EQ(0, load("# c\n[Zulu]\nb = 2\n  # about a\na=1   \n[Alpha]\n\nz  =  some value  \neq=a=b\nempty=\n"
                      "hash=x # not a comment\n\tname with blank\t= v\n[Alpha\ncut=1\n[\nnameless=1\n"
                      "[S]\r\nc = 3 \r\n[Zulu]\nd=4\n[T]\rlast=yes"));
    const char* const cases[][3] = {
        {"Zulu", "b", "2"},
        {"Zulu", "a", "1"},
        {"Alpha", "z", "some value"},
        {"Alpha", "eq", "a=b"},
        {"Alpha", "empty", ""},
        {"Alpha", "hash", "x # not a comment"},
        {"Alpha", "name with blank", "v"},
        {"Alph", "cut", "1"},
        {"", "nameless", "1"},
        {"S", "c", "3"},
        {"Zulu", "d", "4"},
        {"T", "last", "yes"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c[2], value(c[0], c[1])) << c[0] << "/" << c[1];
}

TEST_F(CoConfigFileReaderTest, WarnsAboutBadAndOverlongLinesAndGoesOn) {
    MessageLog::Scope warnings(CoMsg::warning);
    ASSERT_EQ(0, load("# comment\nearly=1\n[S]\n\nno value here\n=x\n  = y\ngood=1\n"));
    EXPECT_EQ((std::vector<std::string>{
                  "Invalid syntax: Not in section. Ignoring line 2 of '" + path_ + "'",
                  "Invalid syntax: No variable value. Ignoring line 5 of '" + path_ + "'",
                  "Invalid syntax: No variable name. Ignoring line 6 of '" + path_ + "'",
                  "Invalid syntax: No variable name. Ignoring line 7 of '" + path_ + "'",
              }),
              warnings->texts(CoMsg::warning));
    EXPECT_EQ("1", value("S", "good"));

    // An overlong line continues as the next line.
    warnings->clear();
    const std::string head = "k=" + std::string(2045, 'a');  // 2047 characters
    ASSERT_EQ(0, load("[S]\n" + head + "tail\nexact=" + std::string(2041, 'e') + "\nafter=1\nbad\n"));
    EXPECT_EQ(std::string(2045, 'a'), value("S", "k"));
    EXPECT_EQ(std::string(2041, 'e'), value("S", "exact"));
    EXPECT_EQ("1", value("S", "after"));
    // "tail" is line 3; a line of exactly the maximum keeps its own line feed.
    EXPECT_EQ((std::vector<std::string>{
                  "Invalid syntax: No variable value. Ignoring line 3 of '" + path_ + "'",
                  "Invalid syntax: No variable value. Ignoring line 6 of '" + path_ + "'",
              }),
              warnings->texts(CoMsg::warning));
}

TEST_F(CoConfigFileReaderTest, ReadErrorsReturnErrno) {
    ASSERT_EQ(0, load("[A]\nx=1\n"));
    EXPECT_EQ(ENOENT, reader_.read(dir_.file("missing.cfg").c_str()));
    EXPECT_EQ("<absent>", value("A", "x"));
    // Opening a directory works; reading it fails.
    EXPECT_EQ(EISDIR, reader_.read(dir_.path().c_str()));
    EXPECT_EQ(0, reader_.read(nullptr));
}

}  // namespace
