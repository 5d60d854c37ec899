#include "base/rcApi/rcCommand.h"

#include <gtest/gtest.h>

#include <string>

using Corvane::rcCommand;

namespace {

// Feeds text; returns how many characters were consumed when the command
// completed, or -1 when it did not.
int feed(rcCommand& cmd, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (cmd.addChar(text[i]))
            return static_cast<int>(i + 1);
    }
    return -1;
}

TEST(rcCommandTest, RendersTheCommandLine) {
    rcCommand cmd;
    cmd.set(true, 0, "_ping", "");
    EXPECT_EQ("sync 0 _ping \n", cmd.toString());
    cmd.set(false, -12, "GetMetaData", "a b\n\tc\\");
    EXPECT_EQ("async -12 GetMetaData a b\\n\\tc\\\\\n", cmd.toString());
}

TEST(rcCommandTest, ParsesWhatItRenders) {
    rcCommand sent;
    const std::string args = "\"node id\" stream\nline2\ttab\\back  two blanks ";
    sent.set(true, 42, "SetMetaData", args.c_str());
    const std::string line = sent.toString();
    rcCommand got;
    EXPECT_EQ(static_cast<int>(line.size()), feed(got, line));
    EXPECT_TRUE(got.isSync());
    EXPECT_STREQ("sync", got.mode());
    EXPECT_EQ(42, got.objectId());
    EXPECT_STREQ("SetMetaData", got.method());
    EXPECT_EQ(args, got.args());
}

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
    };
    for (const Case& c : cases) {
        rcCommand cmd;
        ASSERT_GT(feed(cmd, c.line), 0) << c.line;
        EXPECT_EQ(c.sync, cmd.isSync()) << c.line;
        EXPECT_EQ(c.id, cmd.objectId()) << c.line;
        EXPECT_STREQ(c.method, cmd.method()) << c.line;
        EXPECT_STREQ(c.args, cmd.args()) << c.line;
    }
}

TEST(rcCommandTest, ResetStartsANewCommand) {
    rcCommand cmd;
    ASSERT_EQ(9, feed(cmd, "sync 1 A\nsync 2 B x\n"));
    cmd.reset();
    ASSERT_GT(feed(cmd, "sync 2 B x\n"), 0);
    EXPECT_STREQ("B", cmd.method());
    EXPECT_EQ(2, cmd.objectId());
    EXPECT_STREQ("x", cmd.args());
}

}  // namespace
