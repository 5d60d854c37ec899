#include "base/rcApi/rcValue.h"

#include <gtest/gtest.h>

#include <string>

using Corvane::rcValue;

namespace {

std::string unescape(const std::string& wire) {
    rcValue v;
    for (char c : wire)
        v.append(c);
    return v.str();
}

std::string escape(const std::string& text) {
    rcValue v;
    v.assign(text);
    return v.escapedValue();
}

TEST(rcValueTest, EscapesOnlyNewlineTabAndBackslash) {
    EXPECT_EQ("a\\tb\\nc\\\\d", escape("a\tb\nc\\d"));
    EXPECT_EQ(6u, escape("\t\n\\").size());
    EXPECT_EQ("plain \"text\" with 'quotes'\r", escape("plain \"text\" with 'quotes'\r"));
    EXPECT_EQ("", escape(""));
    EXPECT_EQ("cut", escape(std::string("cut\0here", 8)));
}

TEST(rcValueTest, UnescapesReceivedCharacters) {
    EXPECT_EQ("\n", unescape("\\n"));
    EXPECT_EQ("\\", unescape("\\\\"));
    EXPECT_EQ("x", unescape("\\x"));
    EXPECT_EQ("\t ", unescape("\\t "));
    EXPECT_EQ("trailing", unescape("trailing\\"));
}

TEST(rcValueTest, EscapingRoundTripsEveryByte) {
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += static_cast<char>(c);
    all += "\\\\n\\n";
    EXPECT_EQ(all, unescape(escape(all)));
    EXPECT_EQ(std::string::npos, escape(all).find('\n'));
}

TEST(rcValueTest, QuoteAndUnquote) {
    struct Case {
        const char* plain;
        const char* quoted;
    };
    for (const Case& c : {Case{"", "\"\""}, Case{"a b", "\"a b\""}, Case{"say \"hi\"", "\"say \\\"hi\\\"\""},
                          Case{"back\\slash", "\"back\\\\slash\""}}) {
        EXPECT_EQ(c.quoted, rcValue::quote(c.plain));
        EXPECT_EQ(c.plain, rcValue::unquote(c.quoted));
    }
    EXPECT_EQ("", rcValue::quote(nullptr));
    EXPECT_EQ("a\"b", rcValue::unquote("a\"b"));  // an inner quote is copied
    EXPECT_EQ("ab", rcValue::unquote("ab\\"));    // a final backslash ends the text
}

}  // namespace
