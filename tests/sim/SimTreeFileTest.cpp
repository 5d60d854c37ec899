#include "sim/SimTreeFile.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/SimTranslations.h"
#include "sim/SimTree.h"
#include "support/TempDir.h"

namespace CorvaneSim {
namespace {

class SimTreeFileTest : public ::testing::Test {
protected:
    bool parse(const std::string& text) {
        tree_ = SimTree();
        translations_ = SimTranslations();
        error_.clear();
        return SimTreeFile::parse(text, "t.txt", &tree_, &translations_, &error_);
    }

    std::string meta(const std::string& id, const std::string& stream) {
        std::string text, error;
        EXPECT_TRUE(tree_.getMetaData(id, stream, &text, &error)) << error;
        return text;
    }

    SimTree tree_;
    SimTranslations translations_;
    std::string error_;
};

TEST_F(SimTreeFileTest, ReadsQuotesEscapesCommentsDefaultsAndHereDocuments) {
    ASSERT_TRUE(
        parse("# a comment\r\n"
              "\n"
              "   \t\n"
              "node / FOLDER   Top  \r\n"
              // A here-document keeps its lines as written.
              "meta / info <<EOT\n  indented \\n stays\n\nEOT\n"
              "meta / empty <<E\nE\n"
              "node \"/with blank\" CLIP\n"
              "node /f\tBIN\n"
              "meta /f s1 a\\tb\\nc\\\\d  \n"
              "meta /f s2\n"
              "format \"/with blank\" 2 3 8 1 6 1.5 24 mono 4 tag meta with \\n newline\n"
              "hosttrans \"a \\\"b\\\"\" \"/x\\\\y\" c \"\"\n"))
        << error_;
    EXPECT_EQ(tree_.find("/")->displayName, "Top");
    const SimNode* clip = tree_.find("/with blank");
    ASSERT_NE(clip, nullptr);
    EXPECT_EQ(clip->displayName, "with blank");
    EXPECT_STREQ(clip->format.getMetaData(), "meta with \n newline");
    EXPECT_FLOAT_EQ(clip->format.getPixelRatio(), 1.5f);
    EXPECT_EQ(clip->format.getScanFormat(), 4);
    EXPECT_EQ(tree_.find("/f")->typeText, "BIN");
    EXPECT_EQ(tree_.find("/f")->typeNumber, kTypeNode);
    EXPECT_EQ(meta("/f", "s1"), "a\tb\nc\\d");
    EXPECT_EQ(meta("/f", "s2"), "");
    ASSERT_EQ(translations_.hosts.size(), 1u);
    EXPECT_EQ(translations_.hosts[0].src, "a \"b\"");
    EXPECT_EQ(translations_.hosts[0].srcPath, "/x\\y");
    EXPECT_EQ(translations_.hosts[0].dstPath, "");
    EXPECT_EQ(meta("/", "info"), "  indented \\n stays\n");
    EXPECT_EQ(meta("/", "empty"), "");
}

TEST_F(SimTreeFileTest, RejectsEveryKindOfBadLine) {
    const struct {
        std::string text;
        std::string error;  // what follows "t.txt:"
    } cases[] = {
        // The line counts comments and here-documents; a long line is cut.
        {"node /a FOLDER\n# fine\nmeta / info <<E\nx\nE\nnod /b FOLDER\n",
         "6: Unknown directive 'nod': 'nod /b FOLDER'"},
        {"meta / info " + std::string(300, 'x') + "\\q",
         "1: Unknown escape '\\q': 'meta / info " + std::string(108, 'x') + "...'"},
        {"node /a", "1: Expected 'node ID TYPE [DISPLAY NAME]'"},
        {"node a FOLDER", "1: Invalid node id 'a': it must start with '/'"},
        {"node /a,b FOLDER", "1: Invalid node id '/a,b': it must not contain ','"},
        {"node /a\x01 FOLDER", "1: Invalid node id '/a\x01': it must not contain control characters"},
        {"node /a FOLDER\nnode /a CLIP", "2: Node '/a' already exists"},
        {"node /a/b FOLDER", "1: Parent '/a' of '/a/b' does not exist"},
        {"node /c CLIP\nnode /c/x FOLDER", "2: Node '/c' is a clip and cannot have children"},
        {"node \"/a FOLDER", "1: Unterminated quote"},
        {"node \"/a\\x\" FOLDER", "1: Unknown escape '\\x' in a quoted word"},
        {"meta /nope info x", "1: Node '/nope' is not declared"},
        {"meta / bad,name x", "1: Invalid metadata stream name 'bad,name'"},
        {"meta / info a\\", "1: A backslash ends the text"},
        {"meta / info <<END\nline\n", "1: No line 'END' ends the text"},
        {"format / 1 1 24 3 1 1 30 rgb 0 none", "1: Node '/' is not a clip"},
        {"node /c CLIP\nformat /c 1 x 24 3 1 1 30 rgb 0 none", "2: 'x' is not a whole number"},
        {"node /c CLIP\nframes /c 0", "2: Frame count 0 is outside 1 to 100000"},
        {"group g,h 1", "1: Group name 'g,h' contains a comma"},
        {"hosttrans a b c", "1: Expected 'hosttrans SOURCE SOURCEPATH DESTINATION DESTINATIONPATH'"},
        {"ostrans a b c d e", "1: Unexpected text after 'ostrans SOURCE"},
        {std::string("node /a FOL\0DER", 15), "1: NUL byte in the line"},
        {std::string("meta / s <<E\na\0b\nE", 18), "1: NUL byte in line 2"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(parse(c.text)) << "accepted: " << c.text;
        EXPECT_EQ(error_.rfind("t.txt:" + c.error, 0), 0u) << "for: " << c.text << "\n got: " << error_;
    }
}

TEST_F(SimTreeFileTest, UnreadableFileIsNamed) {
    CorvaneTest::TempDir dir;
    EXPECT_FALSE(SimTreeFile::load(dir.file("missing.txt"), &tree_, &translations_, &error_));
    EXPECT_EQ(error_, "Cannot read tree file '" + dir.file("missing.txt") + "': No such file or directory");
    EXPECT_FALSE(SimTreeFile::load(dir.path(), &tree_, &translations_, &error_));
    EXPECT_EQ(error_, "Cannot read tree file '" + dir.path() + "': Is a directory");
    const std::string bad = dir.write("bad.txt", "node /x FOLDER\nnode /x/y/z CLIP\n");
    EXPECT_FALSE(SimTreeFile::load(bad, &tree_, &translations_, &error_));
    EXPECT_EQ(error_, bad + ":2: Parent '/x/y' of '/x/y/z' does not exist: 'node /x/y/z CLIP'");
}

}  // namespace
}  // namespace CorvaneSim
