#include "base/rcApi/rcCommand.h"

#include <gtest/gtest.h>

#include <string>

using Corvane::rcCommand;

namespace {

// Lines a client may send; the good ones come from the client tests.
TEST(rcCommandTest, ParsesOddLines) {
    struct Case {
        const char* line;
        bool sync;
        int id;
        const char* method;
        const char* args;
    };
    const Case cases[] = {
        {"\n", false, 0, "", ""},
        {"sync\n", true, 0, "", ""},
        {"sync 7\n", true, 7, "", ""},
        {"sync 7 M\n", true, 7, "M", ""},
        {"SYNC 1 M a\n", false, 1, "M", "a"},
        {"sync  3 M\n", true, 0, "3", "M"},  // two blanks: an empty id field
        {"sync x M a\n", true, 0, "M", "a"},
        {"sync 99999999999 M\n", true, 2147483647, "M", ""},
        {"sync -99999999999 M\n", true, -2147483647 - 1, "M", ""},
        {"async 5 M \\\n", false, 5, "M", ""},  // a dangling escape adds nothing
        {"async -12 M a b\\n\\tc\\\\\n", false, -12, "M", "a b\n\tc\\"},
    };
    rcCommand cmd;
    for (const Case& c : cases) {
        cmd.reset();
        const std::string line = c.line;
        size_t used = 0;
        while (used < line.size() && !cmd.addChar(line[used]))
            ++used;
        EXPECT_EQ(line.size() - 1, used) << c.line;
        EXPECT_EQ(c.sync, cmd.isSync()) << c.line;
        EXPECT_EQ(c.id, cmd.objectId()) << c.line;
        EXPECT_STREQ(c.method, cmd.method()) << c.line;
        EXPECT_STREQ(c.args, cmd.args()) << c.line;
    }
}

}  // namespace
