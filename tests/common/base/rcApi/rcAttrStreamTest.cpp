#include "base/rcApi/rcAttrStream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/loggerBase/CoMsg.h"
#include "support/MessageLog.h"

using Corvane::CoMsg;
using Corvane::rcAttrStream;
using CorvaneTest::MessageLog;

namespace {

// A stream of string entries added in the order given.
rcAttrStream make(std::initializer_list<std::pair<const char*, std::string>> items) {
    rcAttrStream s;
    for (const auto& item : items)
        s.addStringValue(item.first, item.second);
    return s;
}

std::string valueOf(const rcAttrStream& s, const char* name) {
    std::string v = "<missing>";
    s.getValue(name, v);
    return v;
}

TEST(rcAttrStreamTest, ValuesComeBackExactly) {
    const std::vector<std::string> values = {"",          "a 1 b",    " 12 ",    "line1\nline2\n",      "tab\there",
                                             "q\"uo'te=", "0 0 0 0 ", "x 3 abc", std::string(5000, 'z')};
    rcAttrStream s;
    for (size_t i = 0; i < values.size(); ++i)
        s.addStringValue(("v" + std::to_string(i)).c_str(), values[i]);
    rcAttrStream received(s.str());  // as a peer reads it
    EXPECT_EQ(static_cast<int>(values.size()), received.count());
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(values[i], valueOf(received, ("v" + std::to_string(i)).c_str())) << "value " << i;
    EXPECT_EQ(values.size(), received.cursorSteps());  // read in order: one step each
    int i = 7;  // a miss leaves the output alone
    EXPECT_FALSE(received.getIntValue("absent", i) || i != 7);
    EXPECT_TRUE(rcAttrStream().isEmpty());
    // Only tools use the pretty form: one smoke line, posted between its frame.
    MessageLog::Scope log;
    make({{"a", "short"}, {"b", "0123456789abc"}, {"c", "x\ny\tz\r"}}).prettyDump(10);
    EXPECT_EQ((std::vector<std::string>{"Attribute Stream Pretty Dump", "a='short' b='0123456...' c='x y z '",
                                        "Attribute Stream Pretty Dump Done"}),
              log->texts(CoMsg::user));
}

TEST(rcAttrStreamTest, TypedValuesEncodeByteForByteAndConvertAsTheCLibraryDoes) {
    rcAttrStream s;
    s.addStringValue("Name", "my host");
    s.addStringValue("e", "");
    s.addIntValue("i", -42);
    s.addFloatValue("f", 1.5f);
    s.addBoolValue("t", true);
    s.addBoolValue("n", false);
    s.addHex32Value("h", 0xdeadbeefu);
    s.addHex64Value("H", 0x123456789abcdef0ull);
    EXPECT_EQ("Name 7 my hoste 0 i 3 -42f 3 1.5t 1 1n 1 0h 10 0xdeadbeefH 18 0x123456789abcdef0", s.str());
    // Numbers convert from their first 63 bytes only; the raw reader is not cut.
    s.addStringValue("cut", std::string(62, '0') + "42");
    s.addStringValue("fits", std::string(61, '0') + "42");
    s.addStringValue("big", "300");
    s.addStringValue("junk", "abc");
    s.addStringValue("ff", "ff");
    int i = 0, cut = 0, fits = 0, junk = 5;
    long l = 0;
    float f = 0;
    uint32_t h = 0, hex = 0;
    uint64_t H = 0;
    int8_t small = 0;
    ASSERT_TRUE(s.getIntValue("i", i) && s.getLongValue("i", l) && s.getFloatValue("f", f) && s.getHex32Value("h", h) &&
                s.getHex64Value("H", H) && s.getHex32Value("ff", hex) && s.getIntValue("cut", cut) &&
                s.getIntValue("fits", fits) && s.getIntValue("junk", junk) && s.getInt8Value("big", small));
    // 300 is kept in 8 bits.
    EXPECT_EQ(std::make_tuple(-42, -42L, 1.5f, 0xdeadbeefu, 0x123456789abcdef0ull, 0xffu, 4, 42, 0, 44),
              std::make_tuple(i, l, f, h, H, hex, cut, fits, junk, static_cast<int>(small)));
    EXPECT_EQ(64u, valueOf(s, "cut").size());
    char buf[8];
    ASSERT_TRUE(s.getStringValue("Name", buf, 4) && !s.getStringValue("absent", buf, sizeof buf));
    EXPECT_STREQ("my ", buf);
    // Booleans by the word rule.
    const std::pair<const char*, bool> words[] = {{"1", true},     {"true", true}, {"TRUE", true}, {"Yes", true},
                                                  {"on", true},    {"0", false},   {"2", false},   {"false", false},
                                                  {" yes", false}, {"y", false}};
    for (const auto& w : words) {
        bool b = !w.second;
        ASSERT_TRUE(make({{"b", w.first}}).getBoolValue("b", b));
        EXPECT_EQ(w.second, b) << "'" << w.first << "'";
    }
}

TEST(rcAttrStreamTest, MalformedLengthEndsReadingButKeepsEarlierEntries) {
    MessageLog::Scope log;
    rcAttrStream tolerated("a   3 xyz    2 ..b 2x ok");  // extra blanks, nameless entries, text after digits
    EXPECT_EQ(2, tolerated.count());
    EXPECT_EQ("xyz", valueOf(tolerated, "a"));
    EXPECT_EQ("ok", valueOf(tolerated, "b"));
    struct Case {
        const char* text;
        bool posted;
    };
    for (const Case& c :
         {Case{"a 1 xb", false}, Case{"a 1 xb 9 short", true}, Case{"a 1 xb -1 x", true}, Case{"a 1 xb x", true},
          Case{"a 1 xb    ", true}, Case{"a 1 xb 99999999999999999999 x", true}, Case{"a 1 xb 2", true}}) {
        log->clear();
        rcAttrStream s(c.text);
        EXPECT_EQ("x", valueOf(s, "a")) << c.text;
        EXPECT_EQ("<missing>", valueOf(s, "b")) << c.text;
        EXPECT_EQ(1, s.count()) << c.text;
        EXPECT_EQ(c.posted, log->contains("Error parsing attribute stream.", CoMsg::error)) << c.text;
    }
}

// An iterator blanks in its owner only the entry it has just found.
TEST(rcAttrStreamTest, IteratorRemovesOnlyWhatItHasJustFound) {
    rcAttrStream s = make({{"a", "1"}, {"b", "2"}});
    rcAttrStream::Iterator it(s);
    ASSERT_TRUE(it.find("b"));
    it.reset(s);
    it.remove();  // started over: nothing found yet
    ASSERT_TRUE(it.find("b") && !it.find("a"));
    it.remove();  // the miss forgot b
    EXPECT_EQ(2, s.count());
    it.reset(s);
    ASSERT_TRUE(it.find("a"));
    it.remove();
    EXPECT_EQ("  1 1b 1 2", s.str());
    ASSERT_TRUE(it.find("b"));
    s.assign("x 1 1y 1 2");
    it.remove();  // the text it found b in is gone
    EXPECT_EQ("x 1 1y 1 2", s.str());
}

// Adding a name twice blanks the first entry; equality ignores order and
// such nameless entries.
TEST(rcAttrStreamTest, AddingANameTwiceBlanksTheFirstEntryWhichEqualityIgnores) {
    rcAttrStream s = make({{"Name", "old"}, {"Other", "o"}, {"Name", "new"}});
    EXPECT_EQ("     3 oldOther 1 oName 3 new", s.str());
    EXPECT_EQ(2, s.count());
    s.addStringValue("Name", "newer");
    EXPECT_EQ(2, s.count());
    EXPECT_EQ("newer", valueOf(s, "Name"));
    const rcAttrStream a = make({{"x", "1"}, {"y", "two"}});
    EXPECT_TRUE(a == make({{"y", "two"}, {"x", "1"}}));
    EXPECT_TRUE(a == make({{"x", "old"}, {"y", "two"}, {"x", "1"}}));  // leaves a nameless entry behind
    EXPECT_TRUE(a != make({{"x", "1"}, {"y", "twO"}}));
    EXPECT_TRUE(a != make({{"x", "1"}}));
    EXPECT_TRUE(make({{"x", "1"}}) != a);
    EXPECT_TRUE(rcAttrStream() == rcAttrStream("  0 "));
}

}  // namespace
