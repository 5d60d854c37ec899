#include "client/api/CorvaneClipFormat.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "base/rcApi/rcAttrStream.h"
#include "client/api/CorvaneDictionary.h"
#include "client/api/CorvaneNodeType.h"
#include "client/api/CorvaneMetaData.h"
#include "client/api/CorvaneOSType.h"
#include "client/api/CorvaneScanFormat.h"

namespace {

TEST(CorvaneClipFormatTest, TextRoundTripsAndBadTextIsRefused) {
    EXPECT_EQ(CorvaneClipFormat().toText(), "1 1 24 3 1 1 30  0  \"\"");
    const CorvaneClipFormat nulls(1, 2, 8, 1, 25.0f, 1.0f, 4, nullptr, nullptr, nullptr);
    EXPECT_EQ(nulls.toText(), "1 2 8 1 0 1 25  4 none \"\"");
    // The metadata is the rest of the text, quoted again when written.
    const char* text = "720 486 32 4 1399680 0.9 29.97 rgba 1 xml say \"hi\" \\ bye";
    CorvaneClipFormat format;
    ASSERT_TRUE(format.fromText(text));
    EXPECT_EQ(format.toText(), "720 486 32 4 1399680 0.9 29.97 rgba 1 xml \"say \\\"hi\\\" \\\\ bye\"");
    EXPECT_FLOAT_EQ(format.getFrameRate(), 29.97f);
    ASSERT_TRUE(format.fromText(("1 1 8 1 1 1 25 mono 4 none " + std::string(5000, 'm')).c_str()));
    EXPECT_EQ(std::string(format.getMetaData()), std::string(4095, 'm'));
    ASSERT_TRUE(format.fromText("1 2 8 1 2 1 25 mono 4"));
    EXPECT_EQ(std::string(format.getMetaDataTag()) + format.getMetaData(), "");
    // A server's channel count of -1 under the smallest pixel size must not
    // overflow the division.
    ASSERT_TRUE(format.fromText("1 1 -2147483648 -1 1 1 25 x 0"));
    EXPECT_EQ(format.getBitsPerChannel(), INT_MAX);
    for (const char* bad :
         {"", "1 2 3", "1 2 8 1 2 1 25 mono", "a b c d e f g h i j", static_cast<const char*>(nullptr)})
        EXPECT_FALSE(format.fromText(bad)) << (bad ? bad : "null");

    Corvane::rcAttrStream stream;
    CorvaneClipFormat().writeTo(stream);
    EXPECT_EQ(stream.str().substr(0, 20), "w 1 1h 1 1bpp 2 24nc");
    std::string fmt;
    EXPECT_TRUE(stream.getValue("metag", fmt));
}

// Library types no command of ours uses: one smoke row each.
TEST(CorvaneVocabularyTest, NamesReadWithoutCaseAndWriteExactly) {
    EXPECT_EQ(CorvaneScanFormat::fromName("Progressive") * 10 + CorvaneScanFormat::fromName("interlaced"), 39);
    EXPECT_EQ(std::string(CorvaneScanFormat::toName(7)) + " " + CorvaneScanFormat::toName(2), "unknown field2_odd");
    EXPECT_EQ(std::string(CorvaneOSType::toName(9)) + " " + CorvaneOSType::toName(CorvaneOSType::fromName("linux")),
              "Unknown Linux");
    const CorvaneMetaData::Blob blob("<x/>", "XML", 1, 2);
    EXPECT_STREQ(CorvaneMetaData::Blob(blob.c_str()).getData(), "<x/>");
    CorvaneStr value;
    EXPECT_FALSE(CorvaneDictionary(nullptr).getStringAttribute("a", value));
    EXPECT_TRUE(CorvaneDictionary("a 1 xb 2 yz") == CorvaneDictionary("b 2 yza 1 x"));
}

// Event details as a program reads them: every attribute once, in order,
// nothing from a cut stream, and as a line a person can read.
TEST(CorvaneVocabularyTest, DictionaryListsItsAttributesInOrder) {
    const std::string longValue(300, 'v');
    const struct {
        std::string stream, listed, text;
    } cases[] = {
        {"", "", ""},
        {"Node 2 /aStream 5 in\nfoTime 0 ", "Node=/a Stream=in\nfo Time= ", "Node='/a' Stream='in fo' Time=''"},
        {"Two 4 a\nb\tMore 300 " + longValue, "Two=a\nb\t More=" + longValue + " ",
         "Two='a b ' More='" + longValue.substr(0, 197) + "...'"},
        {"Cut 9 short", "", ""},
    };
    for (const auto& c : cases) {
        const CorvaneDictionary details(c.stream.c_str());
        std::string listed;
        CorvaneStr name, value;
        for (int i = 0; i < details.size(); ++i)
            if (details.getAttribute(i, name, value))
                listed += std::string(name.c_str()) + "=" + value.c_str() + " ";
        EXPECT_FALSE(details.getAttribute(details.size(), name, value) || details.getAttribute(-1, name, value));
        EXPECT_EQ(listed, c.listed) << c.stream;
        EXPECT_STREQ(details.toText().c_str(), c.text.c_str()) << c.stream;
    }
    EXPECT_EQ(corvaneNodeTypeName(CorvaneNodeType::kFolder) + std::string(corvaneNodeTypeName(CorvaneNodeType::kClip)) +
                  corvaneNodeTypeName(7),
              "FOLDERCLIPNODE");
}

}  // namespace
