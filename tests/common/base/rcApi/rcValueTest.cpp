#include "base/rcApi/rcValue.h"

#include <gtest/gtest.h>

#include <string>

using Corvane::rcValue;

namespace {

// Escaping as such is checked with the commands and replies that carry it.
TEST(rcValueTest, EscapingRoundTripsEveryByteAndStopsAtNul) {
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += static_cast<char>(c);
    all += "\\\\n\\n";
    rcValue v;
    v.assign(all);
    rcValue back;
    for (char c : v.escapedValue())
        back.append(c);
    EXPECT_EQ(all, back.str());
    EXPECT_EQ(std::string::npos, v.escapedValue().find('\n'));
    v.assign(std::string("cut\0here", 8));
    EXPECT_EQ("cut", v.escapedValue());
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
}

}  // namespace
