#include "base/rcApi/rcResult.h"

#include <gtest/gtest.h>

#include <string>

using Corvane::rcResult;

namespace {

bool feed(rcResult& r, const std::string& text) {
    for (char c : text) {
        if (r.addChar(c))
            return true;
    }
    return false;
}

TEST(rcResultTest, RendersStatusAndEscapedValue) {
    rcResult r;
    r.set(rcResult::kOk, "");
    EXPECT_EQ("ok \n", r.toString());
    r.set(rcResult::kError, std::string("Unknown method: X\nsecond\\line"));
    EXPECT_EQ("error Unknown method: X\\nsecond\\\\line\n", r.toString());
    r.set(7, "v");
    EXPECT_EQ("unknown v\n", r.toString());
}

TEST(rcResultTest, ParsesReplies) {
    struct Case {
        const char* line;
        bool ok;
        const char* status;
        const char* value;
    };
    const Case cases[] = {
        {"ok \n", true, "ok", ""},
        {"ok\n", true, "ok", ""},
        {"ok a b  c\n", true, "ok", "a b  c"},
        {"error Invalid Object: 3\n", false, "error", "Invalid Object: 3"},
        {"OK x\n", false, "OK", "x"},
        {"ok \\n\\t\\\\\\q\n", true, "ok", "\n\t\\q"},
        {"\n", false, "", ""},
    };
    for (const Case& c : cases) {
        rcResult r;
        ASSERT_TRUE(feed(r, c.line)) << c.line;
        EXPECT_EQ(c.ok, r.isOk()) << c.line;
        EXPECT_EQ(c.status, r.status()) << c.line;
        EXPECT_EQ(c.value, r.value().str()) << c.line;
    }
    rcResult partial;
    EXPECT_FALSE(feed(partial, "ok no newline"));
}

TEST(rcResultTest, RoundTripsLongValues) {
    std::string value;
    for (int i = 0; i < 40000; ++i)
        value += static_cast<char>(1 + i % 255);
    rcResult sent;
    sent.set(rcResult::kOk, value);
    rcResult got;
    ASSERT_TRUE(feed(got, sent.toString()));
    EXPECT_TRUE(got.isOk());
    EXPECT_EQ(value, got.value().str());
    got.reset();
    ASSERT_TRUE(feed(got, "error x\n"));
    EXPECT_EQ("x", got.value().str());
}

}  // namespace
