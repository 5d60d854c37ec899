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

TEST_F(CoConfigFileReaderTest, WriteBackKeepsCommentsBlankLinesAndOrder) {
    const std::string in =
        "# header comment\n"
        "\n"
        "   ; indented comment   \n"
        "[Zulu]\n"
        "b = 2\n"
        "  # about a\n"
        "a=1   \n"
        "[Alpha]\n"
        "\n"
        "z  =  last  \n"
        "# trailing\n"
        "\n";
    ASSERT_EQ(0, load(in));
    EXPECT_EQ(
        "# header comment\n"
        "\n"
        "; indented comment\n"
        "[Zulu]\n"
        "b=2\n"
        "# about a\n"
        "a=1\n"
        "[Alpha]\n"
        "\n"
        "z=last\n"
        "# trailing\n"
        "\n",
        writeBack());

    // A second pass changes nothing more.
    const std::string once = writeBack();
    CoConfigFileReader again;
    ASSERT_EQ(0, again.read(dir_.file("out.cfg").c_str()));
    ASSERT_EQ(0, again.write(dir_.file("twice.cfg").c_str()));
    EXPECT_EQ(once, CorvaneTest::readFile(dir_.file("twice.cfg")));
}

TEST_F(CoConfigFileReaderTest, SplitsNamesValuesAndSectionHeaders) {
    ASSERT_EQ(0, load("[Local]\n"
                      "  key  =  some value  \n"
                      "eq=a=b\n"
                      "empty=\n"
                      "hash=x # not a comment\n"
                      "\tname with blank\t= v\n"
                      "[ Local ]\n"
                      "spaced=1\n"
                      "[Local\n"
                      "cut=1\n"
                      "[\n"
                      "nameless=1\n"));
    const struct {
        const char* section;
        const char* name;
        const char* value;
    } cases[] = {
        {"Local", "key", "some value"},  {"Local", "eq", "a=b"},    {"Local", "empty", ""},
        {"Local", "hash", "x # not a comment"}, {"Local", "name with blank", "v"}, {" Local ", "spaced", "1"},
        {"Loca", "cut", "1"},             {"", "nameless", "1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value, value(c.section, c.name)) << "[" << c.section << "] " << c.name;
    EXPECT_FALSE(reader_.hasVariable("Local", "spaced"));
    EXPECT_FALSE(reader_.hasVariable("Local", "cut"));
}

TEST_F(CoConfigFileReaderTest, WarnsAboutBadLinesAndGoesOn) {
    MessageLog::Scope warnings(CoMsg::warning);
    ASSERT_EQ(0, load("# comment\n"
                      "early=1\n"
                      "[S]\n"
                      "\n"
                      "no value here\n"
                      "=x\n"
                      "  = y\n"
                      "good=1\n"));
    const std::string file = path_;
    EXPECT_EQ((std::vector<std::string>{
                  "Invalid syntax: Not in section. Ignoring line 2 of '" + file + "'",
                  "Invalid syntax: No variable value. Ignoring line 5 of '" + file + "'",
                  "Invalid syntax: No variable name. Ignoring line 6 of '" + file + "'",
                  "Invalid syntax: No variable name. Ignoring line 7 of '" + file + "'",
              }),
              warnings->texts(CoMsg::warning));
    EXPECT_EQ("1", value("S", "good"));
    EXPECT_FALSE(reader_.hasVariable("S", "early"));
    // Ignored lines leave the pending comment for the next item.
    EXPECT_EQ("# comment\n[S]\n\ngood=1\n", writeBack());
}

TEST_F(CoConfigFileReaderTest, MergeAddsAndOverridesWhileAPlainReadReplaces) {
    ASSERT_EQ(0, load("[A]\nx=1\nkeep=k\n", 0, "a.cfg"));
    ASSERT_EQ(0, load("[B]\ny=2\n[A]\n# new x\nx=3\nz=4\n", CoConfigFileReader::kMerge, "b.cfg"));
    EXPECT_EQ("[A]\n# new x\nx=3\nkeep=k\nz=4\n[B]\ny=2\n", writeBack());
    ASSERT_EQ(0, load("[B]\ny=2\n", 0, "c.cfg"));
    EXPECT_FALSE(reader_.hasVariable("A", "x"));
    EXPECT_EQ("[B]\ny=2\n", writeBack());
}

TEST_F(CoConfigFileReaderTest, KeepExistingValuesLeavesTheFirstValue) {
    ASSERT_EQ(0, load("[A]\nx=1\n", 0, "a.cfg"));
    // Without merge the content is cleared first, so nothing is kept.
    ASSERT_EQ(0, load("[A]\nx=2\n", CoConfigFileReader::kKeepExistingValues, "b.cfg"));
    EXPECT_EQ("2", value("A", "x"));

    ASSERT_EQ(0, load("[A]\n# about x\nx=3\ny=4\n",
                      CoConfigFileReader::kMerge | CoConfigFileReader::kKeepExistingValues, "c.cfg"));
    EXPECT_EQ("2", value("A", "x"));
    EXPECT_EQ("4", value("A", "y"));
    // The comment of the skipped line moves on to the next item.
    EXPECT_EQ("[A]\nx=2\n# about x\ny=4\n", writeBack());

    // A duplicate within one file is also kept at its first value.
    ASSERT_EQ(0, load("[A]\nd=first\nd=second\n", CoConfigFileReader::kKeepExistingValues, "d.cfg"));
    EXPECT_EQ("first", value("A", "d"));
    ASSERT_EQ(0, load("[A]\nd=first\nd=second\n", 0, "e.cfg"));
    EXPECT_EQ("second", value("A", "d"));
}

TEST_F(CoConfigFileReaderTest, DuplicateSectionReopensIt) {
    ASSERT_EQ(0, load("[A]\nx=1\n[B]\ny=2\n# again\n[A]\nz=3\n"));
    EXPECT_EQ("# again\n[A]\nx=1\nz=3\n[B]\ny=2\n", writeBack());
}

TEST_F(CoConfigFileReaderTest, CarriageReturnsEndLines) {
    MessageLog::Scope warnings(CoMsg::warning);
    ASSERT_EQ(0, load("[S]\r\na=1\r\nbad\r\nb = 2 \r\n"));
    EXPECT_EQ("1", value("S", "a"));
    EXPECT_EQ("2", value("S", "b"));
    // Each CR LF counts as two lines; the empty ones become blank comment lines.
    EXPECT_EQ(std::vector<std::string>{"Invalid syntax: No variable value. Ignoring line 5 of '" + path_ + "'"},
              warnings->texts(CoMsg::warning));
    EXPECT_EQ("[S]\n\na=1\n\n\nb=2\n\n", writeBack());

    ASSERT_EQ(0, load("[Mac]\rx=1\ry=2"));
    EXPECT_EQ("1", value("Mac", "x"));
    EXPECT_EQ("2", value("Mac", "y"));
}

TEST_F(CoConfigFileReaderTest, LastLineWithoutNewlineIsRead) {
    for (const char* text : {"[S]\nlast=yes", "[S]\nlast=yes   ", "[S]\r\nlast=yes"}) {
        ASSERT_EQ(0, load(text));
        EXPECT_EQ("yes", value("S", "last")) << text;
    }
    ASSERT_EQ(0, load("[S]\nx=1\n# no newline"));
    EXPECT_EQ("[S]\nx=1\n# no newline\n", writeBack());
    ASSERT_EQ(0, load(""));
    EXPECT_EQ("", writeBack());
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
    EXPECT_EQ("1", value("A", "x"));
    EXPECT_EQ(ENOENT, reader_.read(dir_.file("missing.cfg").c_str()));
    EXPECT_FALSE(reader_.hasVariable("A", "x"));
    EXPECT_EQ("", writeBack());

    // Opening a directory works; reading it fails.
    EXPECT_EQ(EISDIR, reader_.read(dir_.path().c_str()));

    EXPECT_EQ(0, reader_.read(nullptr));
    EXPECT_EQ(0, reader_.read(""));

    CoConfigFileReader missing(dir_.file("missing.cfg").c_str());
    EXPECT_EQ(ENOENT, missing.status());
    CoConfigFileReader none(nullptr);
    EXPECT_EQ(0, none.status());
    CoConfigFileReader present(dir_.write("p.cfg", "[P]\nv=7\n").c_str());
    EXPECT_EQ(0, present.status());
    EXPECT_EQ(7, present.getInt("P", "v", 0));

    EXPECT_EQ(ENOENT, reader_.write(dir_.file("no/such/dir.cfg").c_str()));
    EXPECT_EQ(EISDIR, reader_.write(dir_.path().c_str()));
}

TEST_F(CoConfigFileReaderTest, TypedGettersConvertOrFallBack) {
    ASSERT_EQ(0, load("[T]\nnum=42\nneg=-7\nmixed=12abc\nword=abc\nf=2.5\nbig=99999999999\n"));

    int i = -1;
    EXPECT_TRUE(reader_.getInt("T", "num", i, 5));
    EXPECT_EQ(42, i);
    EXPECT_TRUE(reader_.getInt("T", "word", i, 5));
    EXPECT_EQ(0, i);
    EXPECT_FALSE(reader_.getInt("T", "absent", i, 5));
    EXPECT_EQ(5, i);
    EXPECT_FALSE(reader_.getInt("NoSection", "num", i, 6));
    EXPECT_EQ(6, i);
    EXPECT_EQ(-7, reader_.getInt("T", "neg", 0));
    EXPECT_EQ(12, reader_.getInt("T", "mixed", 0));
    EXPECT_EQ(2147483647, reader_.getInt("T", "big", 0));

    unsigned u = 0;
    EXPECT_TRUE(reader_.getUnsigned("T", "mixed", u, 9));
    EXPECT_EQ(12u, u);
    EXPECT_FALSE(reader_.getUnsigned("T", "word", u, 9));
    EXPECT_EQ(9u, u);
    EXPECT_FALSE(reader_.getUnsigned("T", "absent", u, 8));
    EXPECT_EQ(8u, u);

    float f = 0;
    EXPECT_TRUE(reader_.getFloat("T", "f", f, 1.0f));
    EXPECT_FLOAT_EQ(2.5f, f);
    EXPECT_FLOAT_EQ(0.0f, reader_.getFloat("T", "word", 1.0f));
    EXPECT_FALSE(reader_.getFloat("T", "absent", f, 1.5f));
    EXPECT_FLOAT_EQ(1.5f, f);

    std::string s = "x";
    EXPECT_FALSE(reader_.getString("T", "absent", s, nullptr));
    EXPECT_EQ("", s);
    EXPECT_FALSE(reader_.getString("T", "absent", s, "def"));
    EXPECT_EQ("def", s);
    EXPECT_TRUE(reader_.getString("T", "num", s, "def"));
    EXPECT_EQ("42", s);
}

TEST_F(CoConfigFileReaderTest, BooleanRule) {
    const struct {
        const char* text;
        bool value;
    } cases[] = {{"true", true},    {"TRUE", true},   {"1", true},    {"yes", true},   {"Yes", true},
                 {"ON", true},      {"on", true},     {"0", false},   {"no", false},   {"off", false},
                 {"false", false},  {"", false},      {"2", false},   {"enabled", false}, {"yes please", false}};
    std::string text = "[B]\n";
    for (size_t n = 0; n < sizeof cases / sizeof cases[0]; ++n)
        text += "v" + std::to_string(n) + "=" + cases[n].text + "\n";
    ASSERT_EQ(0, load(text));
    for (size_t n = 0; n < sizeof cases / sizeof cases[0]; ++n) {
        bool out = !cases[n].value;
        EXPECT_TRUE(reader_.getBool("B", ("v" + std::to_string(n)).c_str(), out, !cases[n].value));
        EXPECT_EQ(cases[n].value, out) << "'" << cases[n].text << "'";
    }
    bool out = false;
    EXPECT_FALSE(reader_.getBool("B", "absent", out, true));
    EXPECT_TRUE(out);
    EXPECT_TRUE(reader_.getBool("B", "absent", true));
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
