#include "client/api/CorvaneServerId.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CorvaneServerIdTest, TextNamesHostWithPortOrDatabase) {
    // "host|database|port" of each text.
    const std::pair<const char*, const char*> cases[] = {
        {"h", "h||0"},
        {"srv:7549", "srv||7549"},
        {"srv:OBRAN", "srv|OBRAN|0"},
        {"h:0", "h|0|0"},
        {"h:12ab", "h||12"},
        {"a,b:1", "a,b||1"},
        {"::1", "|:1|0"},
        {"h:", "h||0"},
    };
    for (const auto& c : cases) {
        const CorvaneServerId id(c.first);
        EXPECT_EQ(std::string(id.getHost()) + "|" + id.getDatabase() + "|" + std::to_string(id.getPort()), c.second);
        EXPECT_STREQ(id.getStr(), c.first) << "the text form is the text given";
        EXPECT_TRUE(id.isValid()) << c.first;
    }
    EXPECT_FALSE(CorvaneServerId(nullptr).isValid());
    EXPECT_FALSE(CorvaneServerId("").isValid());
}

TEST(CorvaneServerIdTest, SettersRebuildTheTextAndEqualityIgnoresIt) {
    CorvaneServerId id("a:7549");
    id.setDatabase("DB");
    id.setHost("b");
    std::string texts = id.getStr();
    id.setDatabase("");
    texts += std::string(" ") + id.getStr();
    id.setPort(80);
    EXPECT_EQ(
        texts + " " + id.getStr() + " " + CorvaneServerId("", "h", 0).getStr() + " " + CorvaneServerId(9, "h").getStr(),
        "b:DB b:7549 b:80 h h:9");

    CorvaneServerId built(9, "h");
    EXPECT_TRUE(CorvaneServerId("h:9") == built);
    built.setStorageId("S1");
    EXPECT_FALSE(CorvaneServerId("h:9") == built);
}

}  // namespace
