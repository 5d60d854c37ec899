#include "base/fileUtil/CoConfigFileReader.h"

#include <cerrno>
#include <climits>
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

TEST_F(CoConfigFileReaderTest, MergeAddsAndOverridesWhileAPlainReadReplaces) {
    ASSERT_EQ(0, load("[A]\nx=1\nkeep=k\n", 0, "a.cfg"));
    ASSERT_EQ(0, load("[B]\ny=2\n[A]\n# new x\nx=3\nz=4\n", CoConfigFileReader::kMerge, "b.cfg"));
    EXPECT_EQ("[A]\n# new x\nx=3\nkeep=k\nz=4\n[B]\ny=2\n", writeBack());
    ASSERT_EQ(0, load("[B]\ny=2\n", 0, "c.cfg"));
    EXPECT_EQ("[B]\ny=2\n", writeBack());
}

TEST_F(CoConfigFileReaderTest, KeepExistingValuesLeavesTheFirstValue) {
    ASSERT_EQ(0, load("[A]\nx=1\n", 0, "a.cfg"));
    // Without merge the content is cleared first, so nothing is kept.
    ASSERT_EQ(0, load("[A]\nx=2\n", CoConfigFileReader::kKeepExistingValues, "b.cfg"));
    EXPECT_EQ("2", value("A", "x"));

    ASSERT_EQ(0, load("[A]\n# about x\nx=3\ny=4\n",
                      CoConfigFileReader::kMerge | CoConfigFileReader::kKeepExistingValues, "c.cfg"));
    // The comment of the skipped line moves on to the next item.
    EXPECT_EQ("[A]\nx=2\n# about x\ny=4\n", writeBack());

    // A duplicate within one file is also kept at its first value.
    ASSERT_EQ(0, load("[A]\nd=first\nd=second\n", CoConfigFileReader::kKeepExistingValues, "d.cfg"));
    EXPECT_EQ("first", value("A", "d"));
    ASSERT_EQ(0, load("[A]\nd=first\nd=second\n", 0, "e.cfg"));
    EXPECT_EQ("second", value("A", "d"));
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

// Numbers convert without validation; absent variables give the default.
TEST_F(CoConfigFileReaderTest, TypedGettersConvertOrFallBack) {
    constexpr long kSkip = -2, kRefused = -1;
    const struct {
        const char* text;
        int i;
        long u;
        float f;
        bool b;
    } cases[] = {
        {"42", 42, 42, 42, false},     {"12abc", 12, 12, 12, false},     {"abc", 0, kRefused, 0, false},
        {"2.5", 2, 2, 2.5f, false},    {"99999999999", INT_MAX, kSkip, 99999999999.0f, false},
        {"-99999999999", INT_MIN, kSkip, -99999999999.0f, false},
        {"true", 0, kRefused, 0, true}, {"TRUE", 0, kRefused, 0, true},  {"1", 1, 1, 1, true},
        {"Yes", 0, kRefused, 0, true},  {"oN", 0, kRefused, 0, true},    {"0", 0, 0, 0, false},
        {"", 0, kRefused, 0, false},    {"2", 2, 2, 2, false},           {"yes please", 0, kRefused, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "'");
        reader_.setString("T", "v", c.text);
        EXPECT_EQ(c.i, reader_.getInt("T", "v", 5));
        unsigned u = 0;
        if (c.u != kSkip) {
            EXPECT_EQ(c.u != kRefused, reader_.getUnsigned("T", "v", u, 9));
            EXPECT_EQ(c.u == kRefused ? 9u : static_cast<unsigned>(c.u), u);
        }
        EXPECT_FLOAT_EQ(c.f, reader_.getFloat("T", "v", 7.0f));
        bool b = !c.b;
        EXPECT_TRUE(reader_.getBool("T", "v", b, !c.b));
        EXPECT_EQ(c.b, b);
    }
    int i = -1;
    unsigned u = 0;
    float f = 0;
    bool b = false;
    std::string text = "x";
    EXPECT_FALSE(reader_.getInt("T", "absent", i, 5) || reader_.getUnsigned("T", "absent", u, 8) ||
                 reader_.getFloat("T", "absent", f, 1.5f) || reader_.getBool("T", "absent", b, true) ||
                 reader_.getString("T", "absent", text, nullptr));
    EXPECT_EQ("5 8 1.5 1 ", std::to_string(i) + " " + std::to_string(u) + " " + std::to_string(f).substr(0, 3) +
                                " " + std::to_string(b) + " " + text);
    EXPECT_EQ(6, reader_.getInt("NoSection", "v", 6));
    EXPECT_TRUE(reader_.getBool("T", "absent", true));
    EXPECT_FLOAT_EQ(1.0f, reader_.getFloat("T", "absent", 1.0f));
    EXPECT_EQ("def", reader_.getString("T", "absent", "def"));
}

TEST_F(CoConfigFileReaderTest, SettersAppendInOrderAndSurviveWriting) {
    ASSERT_EQ(0, load("# top\n[Old]\nx=1\n# tail\n"));
    reader_.setString("Old", "x", "changed");
    reader_.setString("New", "s", "text", "# made by the test\n");
    reader_.setInt("New", "i", -12);
    reader_.setBool("New", "b", true);
    reader_.setFloat("New", "f", 1.5f);
    reader_.setString("Old", "y", "2", "\n");
    EXPECT_EQ(
        "# top\n[Old]\nx=changed\n\ny=2\n"
        "[New]\n# made by the test\ns=text\ni=-12\nb=1\nf=1.500000\n"
        "# tail\n",
        writeBack());
}

}  // namespace
