#include "base/rcApi/rcAttrStream.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
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

class rcAttrStreamTest : public ::testing::Test {
protected:
    static std::string valueOf(const rcAttrStream& s, const char* name) {
        std::string v = "<missing>";
        s.getValue(name, v);
        return v;
    }

    MessageLog::Scope log_;
};

TEST_F(rcAttrStreamTest, EmptyStreamFindsNothingAndDumpsOnlyItsFrame) {
    rcAttrStream s;
    EXPECT_EQ(0, s.count());
    EXPECT_TRUE(s.isEmpty());
    std::string str = "untouched";
    int i = 7;
    bool b = true;
    char buf[4] = "xy";
    EXPECT_FALSE(s.getValue("a", str));
    EXPECT_FALSE(s.getIntValue("a", i));
    EXPECT_FALSE(s.getBoolValue("a", b));
    EXPECT_FALSE(s.getStringValue("a", buf, sizeof buf));
    EXPECT_EQ("untouched", str);
    EXPECT_EQ(7, i);
    EXPECT_TRUE(b);
    EXPECT_STREQ("xy", buf);
    s.dump();
    const auto lines = log_->lines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("Attribute Stream Dump", lines[0].text);
    EXPECT_EQ("Attribute Stream Dump Done", lines[1].text);
    EXPECT_EQ(CoMsg::user, lines[0].level);
}

TEST_F(rcAttrStreamTest, ValuesComeBackExactly) {
    const std::vector<std::string> values = {"",          "a 1 b",    " 12 ",   "line1\nline2\n", "tab\there",
                                             "q\"uo'te=", "0 0 0 0 ", "x 3 abc", std::string(5000, 'z')};
    rcAttrStream s;
    for (size_t i = 0; i < values.size(); ++i)
        s.addStringValue(("v" + std::to_string(i)).c_str(), values[i]);
    rcAttrStream received(s.str());  // as a peer reads it
    EXPECT_EQ(static_cast<int>(values.size()), received.count());
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(values[i], valueOf(received, ("v" + std::to_string(i)).c_str())) << "value " << i;
}

TEST_F(rcAttrStreamTest, AddingANameTwiceBlanksTheFirstEntry) {
    rcAttrStream s = make({{"Name", "old"}, {"Other", "o"}, {"Name", "new"}});
    EXPECT_EQ("     3 oldOther 1 oName 3 new", s.str());
    EXPECT_EQ(2, s.count());
    EXPECT_EQ("new", valueOf(s, "Name"));
    s.addStringValue("Name", "newer");
    EXPECT_EQ(2, s.count());
    EXPECT_EQ("newer", valueOf(s, "Name"));
}

TEST_F(rcAttrStreamTest, ReaderToleratesExtraBlanksNamelessEntriesAndTextAfterDigits) {
    rcAttrStream s("a   3 xyz    2 ..b 2x ok");
    EXPECT_EQ(2, s.count());
    EXPECT_EQ("xyz", valueOf(s, "a"));
    EXPECT_EQ("ok", valueOf(s, "b"));
}

TEST_F(rcAttrStreamTest, TypedValuesEncodeByteForByteAndRoundTrip) {
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
    EXPECT_EQ(8, s.count());
    int i = 0;
    long l = 0;
    float f = 0;
    bool t = false, n = true;
    uint32_t h = 0;
    uint64_t H = 0;
    ASSERT_TRUE(s.getIntValue("i", i) && s.getLongValue("i", l) && s.getFloatValue("f", f));
    ASSERT_TRUE(s.getBoolValue("t", t) && s.getBoolValue("n", n));
    ASSERT_TRUE(s.getHex32Value("h", h) && s.getHex64Value("H", H));
    EXPECT_EQ(-42, i);
    EXPECT_EQ(-42L, l);
    EXPECT_FLOAT_EQ(1.5f, f);
    EXPECT_TRUE(t);
    EXPECT_FALSE(n);
    EXPECT_EQ(0xdeadbeefu, h);
    EXPECT_EQ(0x123456789abcdef0ull, H);
}

TEST_F(rcAttrStreamTest, NarrowAndUnparsableNumbersConvertAsTheCLibraryDoes) {
    const rcAttrStream s = make({{"big", "300"}, {"junk", "abc"}, {"hexNoPrefix", "ff"}});
    int8_t small = 0;
    int junk = 5;
    uint32_t hex = 0;
    ASSERT_TRUE(s.getInt8Value("big", small));
    EXPECT_EQ(44, small);  // 300 kept in 8 bits
    ASSERT_TRUE(s.getIntValue("junk", junk));
    EXPECT_EQ(0, junk);
    ASSERT_TRUE(s.getHex32Value("hexNoPrefix", hex));
    EXPECT_EQ(0xffu, hex);
}

TEST_F(rcAttrStreamTest, TypedReadersConvertOnlyTheFirst63Bytes) {
    const rcAttrStream s = make({{"cut", std::string(62, '0') + "42"}, {"fits", std::string(61, '0') + "42"}});
    int cut = 0, fits = 0;
    ASSERT_TRUE(s.getIntValue("cut", cut));
    ASSERT_TRUE(s.getIntValue("fits", fits));
    EXPECT_EQ(4, cut);
    EXPECT_EQ(42, fits);
    EXPECT_EQ(64u, valueOf(s, "cut").size());  // the raw reader is not cut
}

TEST_F(rcAttrStreamTest, StringValueIsCutToTheBuffer) {
    const rcAttrStream s = make({{"v", "abcd"}});
    for (const auto& c : {std::make_pair(4, "abc"), std::make_pair(5, "abcd"), std::make_pair(8, "abcd")}) {
        char buf[8];
        ASSERT_TRUE(s.getStringValue("v", buf, c.first));
        EXPECT_STREQ(c.second, buf) << "size " << c.first;
    }
}

TEST_F(rcAttrStreamTest, BooleanWordRule) {
    const std::vector<const char*> yes = {"1", "true", "TRUE", "True", "yes", "YES", "Yes", "on", "ON"};
    const std::vector<const char*> no = {"0", "2", "false", "FALSE", "no", "off", "", " yes", "yes ", "y"};
    for (const bool expected : {true, false})
        for (const char* word : expected ? yes : no) {
            bool b = !expected;
            ASSERT_TRUE(make({{"b", word}}).getBoolValue("b", b));
            EXPECT_EQ(expected, b) << "'" << word << "'";
        }
}

TEST_F(rcAttrStreamTest, MalformedLengthEndsReadingButKeepsEarlierEntries) {
    struct Case {
        const char* text;
        bool posted;
    };
    for (const Case& c : {Case{"a 1 xb", false}, Case{"a 1 xb 9 short", true}, Case{"a 1 xb -1 x", true},
                          Case{"a 1 xb x", true}, Case{"a 1 xb    ", true}, Case{"a 1 xb 99999999999999999999 x", true},
                          Case{"a 1 xb 2", true}}) {
        log_->clear();
        rcAttrStream s(c.text);
        EXPECT_EQ("x", valueOf(s, "a")) << c.text;
        EXPECT_EQ("<missing>", valueOf(s, "b")) << c.text;
        EXPECT_EQ(1, s.count()) << c.text;
        EXPECT_EQ(c.posted, log_->contains("Error parsing attribute stream.", CoMsg::error)) << c.text;
    }
}

TEST_F(rcAttrStreamTest, ReadingInWrittenOrderTouchesOneEntryEach) {
    rcAttrStream s;
    const int n = 40;
    for (int i = 0; i < n; ++i)
        s.addIntValue(("Key" + std::to_string(i)).c_str(), i);
    rcAttrStream received(s.str());
    for (int i = 0; i < n; ++i) {
        int v = -1;
        ASSERT_TRUE(received.getIntValue(("Key" + std::to_string(i)).c_str(), v));
        EXPECT_EQ(i, v);
    }
    EXPECT_EQ(static_cast<size_t>(n), received.cursorSteps());

    // Any other order still finds everything, only slower.
    rcAttrStream reversed(s.str());
    for (int i = n - 1; i >= 0; --i) {
        int v = -1;
        ASSERT_TRUE(reversed.getIntValue(("Key" + std::to_string(i)).c_str(), v));
        EXPECT_EQ(i, v);
    }
    EXPECT_GT(reversed.cursorSteps(), static_cast<size_t>(n));

    // A miss reads every entry once and leaves the cursor where it was.
    std::string v;
    const size_t before = received.cursorSteps();
    EXPECT_FALSE(received.getValue("Absent", v));
    EXPECT_EQ(before + n, received.cursorSteps());
    EXPECT_TRUE(received.getValue("Key0", v));
}

TEST_F(rcAttrStreamTest, EqualityIgnoresOrderAndNamelessEntries) {
    const rcAttrStream a = make({{"x", "1"}, {"y", "two"}});
    const rcAttrStream b = make({{"y", "two"}, {"x", "1"}});
    const rcAttrStream c = make({{"x", "old"}, {"y", "two"}, {"x", "1"}});  // leaves a nameless entry behind
    const rcAttrStream d = make({{"x", "1"}, {"y", "twO"}});
    const rcAttrStream e = make({{"x", "1"}});
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(a == c);
    EXPECT_TRUE(c == b);
    EXPECT_TRUE(a != d);
    EXPECT_TRUE(a != e);
    EXPECT_TRUE(e != a);
    EXPECT_TRUE(rcAttrStream() == rcAttrStream("  0 "));
}

TEST_F(rcAttrStreamTest, IteratorReadsItsSnapshotAndRemovesFromItsOwner) {
    rcAttrStream s = make({{"a", "1"}, {"b", "2"}});
    rcAttrStream::Iterator it(s);
    s.addStringValue("c", "3");  // not seen by the iterator
    ASSERT_TRUE(it.find("b"));
    it.remove();
    EXPECT_EQ("a 1 1  1 2c 1 3", s.str());
    EXPECT_EQ(2, s.count());
    rcAttrStream::Entry e;
    EXPECT_FALSE(it.next(e));

    rcAttrStream::ConstIterator all(s);
    std::string names;
    while (all.next(e))
        names.append(e.name, e.nameLen);
    EXPECT_EQ("ac", names);
}

TEST_F(rcAttrStreamTest, PrettyStringCutsLongValuesAndFlattensLines) {
    const rcAttrStream s = make({{"a", "short"}, {"b", "0123456789abc"}, {"c", "x\ny\tz\r"}});
    EXPECT_EQ("a='short' b='0123456...' c='x y z '", s.prettyString(10));
    EXPECT_EQ("a='...' b='...' c='...'", s.prettyString(0));  // counts as 3
    s.prettyDump(10);
    const auto lines = log_->lines();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("Attribute Stream Pretty Dump", lines[0].text);
    EXPECT_EQ("a='short' b='0123456...' c='x y z '", lines[1].text);
    EXPECT_EQ("Attribute Stream Pretty Dump Done", lines[2].text);
}

TEST_F(rcAttrStreamTest, DumpPostsEachEntry) {
    rcAttrStream s("a 2 hi  3 oldb 0 ");
    s.dump();
    const auto lines = log_->lines();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("'a': 'hi'", lines[1].text);
    EXPECT_EQ("'b': ''", lines[2].text);
}

TEST_F(rcAttrStreamTest, NameWithABlankIsAProgrammingError) {
    rcAttrStream s;
    EXPECT_DEATH(s.addStringValue("bad name", "v"), "");
}

}  // namespace
