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

TEST(CoXmlWriterDeathTest, CloseAtLevelZeroStopsTheProcess) {
    // With assertions compiled out, close() at level 0 read past the name stack.
    std::ostringstream out;
    EXPECT_DEATH(CoXmlWriter(out).close(), "level_ >= 0");
}

}  // namespace
