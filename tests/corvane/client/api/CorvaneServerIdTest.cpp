#include "client/api/CorvaneServerId.h"

#include <gtest/gtest.h>

namespace {

TEST(CorvaneServerIdTest, TextNamesHostWithPortOrDatabase) {
    const struct {
        const char* text;
        const char* host;
        const char* database;
        int port;
    } cases[] = {
        {"h", "h", "", 0},          {"srv:7549", "srv", "", 7549}, {"srv:OBRAN", "srv", "OBRAN", 0},
        {"h:0", "h", "0", 0},       {"h:12ab", "h", "", 12},       {"a,b:1", "a,b", "", 1},
        {"::1", "", ":1", 0},       {"h:", "h", "", 0},
    };
    for (const auto& c : cases) {
        const CorvaneServerId id(c.text);
        EXPECT_STREQ(id.getHost(), c.host) << c.text;
        EXPECT_STREQ(id.getDatabase(), c.database) << c.text;
        EXPECT_EQ(id.getPort(), c.port) << c.text;
        EXPECT_STREQ(id.getStr(), c.text) << "the text form is the text given";
        EXPECT_TRUE(id.isValid());
    }
    EXPECT_FALSE(CorvaneServerId(nullptr).isValid());
    EXPECT_FALSE(CorvaneServerId("").isValid());
}

TEST(CorvaneServerIdTest, SettersRebuildTheTextForm) {
    CorvaneServerId id("a:7549");
    id.setPort(80);
    EXPECT_STREQ(id.getStr(), "a:80");
    id.setDatabase("DB");
    EXPECT_STREQ(id.getStr(), "a:DB");
    id.setHost("b");
    EXPECT_STREQ(id.getStr(), "b:DB");
    EXPECT_STREQ(CorvaneServerId("DB", "h", 0).getStr(), "h:DB");
    EXPECT_STREQ(CorvaneServerId("", "h", 0).getStr(), "h");
    EXPECT_STREQ(CorvaneServerId(0, "h").getStr(), "h");
    EXPECT_STREQ(CorvaneServerId(9, "h").getStr(), "h:9");
}

TEST(CorvaneServerIdTest, EqualityIgnoresTheTextFormButNotTheStorage) {
    CorvaneServerId parsed("h:9");
    CorvaneServerId built(9, "h");
    EXPECT_TRUE(parsed == built);
    built.setStorageId("S1");
    EXPECT_FALSE(parsed == built);
    CorvaneServerId copy = built;
    EXPECT_TRUE(copy == built);
    EXPECT_STREQ(copy.getStorageId(), "S1");
}

}  // namespace
