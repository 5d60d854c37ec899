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
    std::string writeBack() {
        const std::string out = dir_.file("out.cfg");
        EXPECT_EQ(0, reader_.write(out.c_str()));
        return CorvaneTest::readFile(out);
    }

    CorvaneTest::TempDir dir_;
    std::string path_;
    CoConfigFileReader reader_;
};

// What is kept of each line shows in what is written back. A section
// header loses its last character, whatever it is: "[Alpha" names "Alph".
TEST_F(CoConfigFileReaderTest, WriteBackKeepsCommentsBlankLinesAndOrder) {
    ASSERT_EQ(0, load("# header comment\n\n   ; indented comment   \n"
                      "[Zulu]\nb = 2\n  # about a\na=1   \n"
                      "[Alpha]\n\nz  =  some value  \neq=a=b\nempty=\nhash=x # not a comment\n\tname with blank\t= v\n"
                      "[ Alpha ]\nspaced=1\n[Alpha\ncut=1\n[\nnameless=1\n# trailing\n\n"));
    EXPECT_EQ("# header comment\n\n; indented comment\n"
              "[Zulu]\nb=2\n# about a\na=1\n"
              "[Alpha]\n\nz=some value\neq=a=b\nempty=\nhash=x # not a comment\nname with blank=v\n"
              "[ Alpha ]\nspaced=1\n[Alph]\ncut=1\n[]\nnameless=1\n# trailing\n\n",
              writeBack());
    EXPECT_EQ("v", value("Alpha", "name with blank"));
    EXPECT_EQ("1", value("", "nameless"));
}

TEST_F(CoConfigFileReaderTest, WarnsAboutBadLinesAndGoesOn) {
    MessageLog::Scope warnings(CoMsg::warning);
    ASSERT_EQ(0, load("# comment\nearly=1\n[S]\n\nno value here\n=x\n  = y\ngood=1\n"));
    const std::string file = path_;
    EXPECT_EQ((std::vector<std::string>{
                  "Invalid syntax: Not in section. Ignoring line 2 of '" + file + "'",
                  "Invalid syntax: No variable value. Ignoring line 5 of '" + file + "'",
                  "Invalid syntax: No variable name. Ignoring line 6 of '" + file + "'",
                  "Invalid syntax: No variable name. Ignoring line 7 of '" + file + "'",
              }),
              warnings->texts(CoMsg::warning));
    // Ignored lines leave the pending comment for the next item.
    EXPECT_EQ("# comment\n[S]\n\ngood=1\n", writeBack());
}

TEST_F(CoConfigFileReaderTest, LineEndingsAndRepeatedSections) {
    const char* const cases[][2] = {
        {"[A]\nx=1\n[B]\ny=2\n# again\n[A]\nz=3\n", "# again\n[A]\nx=1\nz=3\n[B]\ny=2\n"},  // reopened
        // Each CR LF counts as two lines; the empty ones become blank comment lines.
        {"[S]\r\na=1\r\nb = 2 \r\n", "[S]\n\na=1\n\nb=2\n\n"},
        {"[S]\rlast=yes", "[S]\nlast=yes\n"},
        {"[S]\nx=1\n# no newline", "[S]\nx=1\n# no newline\n"},
        {"", ""},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(0, load(c[0])) << c[0];
        EXPECT_EQ(c[1], writeBack()) << c[0];
    }
    MessageLog::Scope warnings(CoMsg::warning);
    ASSERT_EQ(0, load("[S]\r\nbad\r\n"));
    EXPECT_EQ(std::vector<std::string>{"Invalid syntax: No variable value. Ignoring line 3 of '" + path_ + "'"},
              warnings->texts(CoMsg::warning));
}

TEST_F(CoConfigFileReaderTest, OverlongLineContinuesAsTheNextLine) {
    MessageLog::Scope warnings(CoMsg::warning);
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

TEST_F(CoConfigFileReaderTest, ReadAndWriteErrorsReturnErrno) {
    ASSERT_EQ(0, load("[A]\nx=1\n"));
    EXPECT_EQ(ENOENT, reader_.read(dir_.file("missing.cfg").c_str(), CoConfigFileReader::kMerge));
    EXPECT_TRUE(reader_.hasVariable("A", "x"));
    EXPECT_EQ(ENOENT, reader_.read(dir_.file("missing.cfg").c_str()));
    EXPECT_EQ("", writeBack());

    // Opening a directory works; reading it fails.
    EXPECT_EQ(EISDIR, reader_.read(dir_.path().c_str()));

    EXPECT_EQ(0, reader_.read(nullptr));
    EXPECT_EQ(0, reader_.read(""));

    EXPECT_EQ(ENOENT, CoConfigFileReader(dir_.file("missing.cfg").c_str()).status());

    EXPECT_EQ(ENOENT, reader_.write(dir_.file("no/such/dir.cfg").c_str()));
    EXPECT_EQ(EISDIR, reader_.write(dir_.path().c_str()));
}

}  // namespace
