#include "base/rcApi/rcResult.h"

#include <gtest/gtest.h>

#include <string>

using Corvane::rcResult;

namespace {

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
        {"ok no newline", false, nullptr, nullptr},
    };
    rcResult r;
    for (const Case& c : cases) {
        r.reset();
        bool complete = false;
        for (const char* p = c.line; *p && !complete; ++p)
            complete = r.addChar(*p);
        ASSERT_EQ(c.status != nullptr, complete) << c.line;
        if (!complete)
            continue;
        EXPECT_EQ(c.ok, r.isOk()) << c.line;
        EXPECT_EQ(c.status, r.status()) << c.line;
        EXPECT_EQ(c.value, r.value().str()) << c.line;
    }
}

}  // namespace
