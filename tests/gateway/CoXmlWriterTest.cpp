#include "CoXmlWriter.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(CoXmlWriterTest, NestedElementsAreIndentedWithTabs) {
    std::ostringstream out;
    CoXmlWriter writer(out);
    writer.open("a");
    writer.addAttrib("k", "v<", true);
    writer.open("b");
    writer.addText("t&", true);
    writer.close();
    writer.open("c");
    writer.close();
    writer.close();
    EXPECT_EQ(out.str(), "\n<a k=\"v&lt;\">\n\t<b>t&amp;</b>\n\t<c></c>\n</a>\n");
}

TEST(CoXmlWriterTest, CompactWritesNoWhiteSpace) {
    std::ostringstream out;
    CoXmlWriter writer(out, 0, true);
    writer.open("a");
    writer.open("b");
    writer.addText("x", false);
    writer.close();
    writer.close();
    EXPECT_EQ(out.str(), "<a><b>x</b></a>");
}

TEST(CoXmlWriterTest, EscapesOnlyTheFiveMarkupCharacters) {
    EXPECT_EQ(CoXmlWriter::escape("<>&\"'"), "&lt;&gt;&amp;&quot;&apos;");
    const std::string other = "caf\xc3\xa9 \t\n\x01;%";
    EXPECT_EQ(CoXmlWriter::escape(other), other);
    std::ostringstream out;
    CoXmlWriter writer(out);
    writer.open("e");
    writer.addText("<raw>", false);
    writer.addText(static_cast<const char*>(nullptr), true);
    writer.close();
    EXPECT_EQ(out.str(), "\n<e><raw></e>\n");
}

TEST(CoXmlWriterDeathTest, MisuseStopsTheProcess) {
    // With assertions compiled out, close() at level 0 read past the name stack.
    std::ostringstream out;
    EXPECT_DEATH(
        {
            CoXmlWriter writer(out);
            writer.close();
        },
        "level_ >= 0");
    EXPECT_DEATH(
        {
            CoXmlWriter writer(out);
            writer.open("a");
            writer.addText("t", false);
            writer.addAttrib("k", "v", true);
        },
        "addAttrib outside a start tag");
}

}  // namespace
