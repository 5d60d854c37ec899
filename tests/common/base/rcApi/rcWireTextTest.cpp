// The text forms on the wire: command and reply lines, escaping, argument
// splitting and counted lists (the good lines come from the client tests);
// then random, truncated and mutated input for every parser that reads the
// wire. That is bounded in count; the point is that nothing crashes or reads
// out of bounds (run under the address sanitizer to be sure), and that what
// is parsed stays consistent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "base/rcApi/CoStringBuilder.h"
#include "base/rcApi/rcAttrList.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/rcApi/rcCommand.h"
#include "base/rcApi/rcMethod.h"
#include "base/rcApi/rcParam.h"
#include "base/rcApi/rcResult.h"
#include "base/rcApi/rcValue.h"
#include "support/MessageLog.h"

using namespace Corvane;

namespace {

using Strings = std::vector<std::string>;

TEST(rcWireTextTest, CommandParsesOddLines) {
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

TEST(rcWireTextTest, ResultParsesReplies) {
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

// Escaping as such is checked with the commands and replies that carry it.
TEST(rcWireTextTest, ValueEscapingRoundTripsEveryByteAndStopsAtNulAndQuotes) {
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
    EXPECT_EQ("bare", rcValue::unquote("bare"));
}

const rcParam::Decl kOneString[] = {{&rcParamString::TYPE, "text"}, {nullptr, nullptr}};
const rcParam::Decl kTwoStrings[] = {{&rcParamString::TYPE, "a"}, {&rcParamString::TYPE, "b"}, {nullptr, nullptr}};
const rcParam::Decl kThreeStrings[] = {
    {&rcParamString::TYPE, "a"}, {&rcParamString::TYPE, "b"}, {&rcParamString::TYPE, "c"}, {nullptr, nullptr}};
const rcParam::Decl kMixed[] = {{&rcParamInt::TYPE, "i"},
                                {&rcParamBool::TYPE, "b"},
                                {&rcParamFloat::TYPE, "f"},
                                {&rcParamLong::TYPE, "l"},
                                {nullptr, nullptr}};

// A length the text cannot grow by is refused before anything is copied.
TEST(rcWireTextTest, StringBuilderRefusesALengthItCannotHold) {
    CoStringBuilder text;
    text.append("kept", 4);
    EXPECT_ANY_THROW(text.append("", SIZE_MAX - 2));
    // No allocation can give this; the sanitizers' allocators would stop
    // the process instead of failing.
#ifndef CORVANE_SANITIZER
    EXPECT_ANY_THROW(text.append("", SIZE_MAX / 4));
#endif
    EXPECT_EQ(text.str(), "kept");
}

// Numbers convert as the C library does, booleans by the word rule.
TEST(rcWireTextTest, ParamArgumentTextIsSplitAmongParameters) {
    struct Case {
        const rcParam::Decl* decls;
        const char* args;
        Strings expected;
    };
    const Case cases[] = {
        {kOneString, "a b c", {"a b c"}},
        {kOneString, "\"quoted\" \\n", {"\"quoted\" \\n"}},
        {kTwoStrings, "a b c", {"a", "b"}},
        {kTwoStrings, "\"x y\" z", {"x y", "z"}},
        {kTwoStrings, "a\\\"b c", {"a\\\"b", "c"}},
        {kTwoStrings, "\"say \\\"hi\\\"\" z", {"say \\\"hi\\\"", "z"}},
        {kTwoStrings, "a  b", {"a", ""}},
        {kTwoStrings, "a", {"a", ""}},
        {kTwoStrings, "a ", {"a", ""}},
        {kTwoStrings, "", {"", ""}},
        {kTwoStrings, nullptr, {"", ""}},
        {kThreeStrings, "\"\" b", {"", "b", ""}},
        {kThreeStrings, "\"unclosed b c", {"unclosed b c", "", ""}},
        {kMixed, "42 yes 2.25 -7 extra", {"42", "true", "2.250000", "-7"}},
        {rcMethod::dudParamList_, "ignored", {}},
    };
    for (const Case& c : cases) {
        rcParam::Array array(c.decls, c.args);
        Strings got;
        for (size_t i = 0; i < array.size(); ++i)
            got.push_back(array[i].toString());
        EXPECT_EQ(c.expected, got) << "args: '" << (c.args ? c.args : "<null>") << "'";
    }
}

using List = rcAttrList<std::string>;

// Blanks, digits and newlines in elements round-trip; empty lists, empty
// elements and malformed texts do not decode.
TEST(rcWireTextTest, ListRoundTripsAndRefusesEmptyOrMalformedText) {
    const Strings items = {"1 2 3", " ", "a\nb", "4 ", std::string(300, 'x'), "\"q\""};
    Strings out = {"stale"};
    ASSERT_TRUE(List(List(items).str()).decode(out));
    EXPECT_EQ(items, out);
    EXPECT_EQ("2 2 ab3 cde", List(Strings{"ab", "cde"}).str());
    EXPECT_EQ("1 0 ", List(Strings{""}).str());
    EXPECT_EQ("0 ", List(Strings{}).str());
    for (const char* bad :
         {"0 ", "1 0 ", "3 1 a0 1 b", "2 1 a0 ", "", "2", "2 ", "2 1 a", "1 1 ab", "3 1 a1 b", "1 5 abc", "1 -1 a",
          "1 x a", "1 1 a1", "1 1 a 1", "-1 1 a", "1 99999999999999999999 a", "x 1 a"}) {
        out = {"stale"};
        EXPECT_FALSE(List(bad).decode(out)) << "accepted: '" << bad << "'";
        EXPECT_TRUE(out.empty()) << bad;
    }
}

// ---- garbage

constexpr int kRounds = 3000;

class GarbageInputTest : public ::testing::Test {
protected:
    // Odd rounds: random bytes biased towards the characters the formats
    // care about. Even rounds: valid with a few bytes changed, cut short.
    std::string garbage(int round, std::string valid, size_t maxLen) {
        static const char kSpecial[] = {' ', ' ', '\n', '\\', '"', '0', '1', '9', '-', 'n', 't', '\0', '\t'};
        std::uniform_int_distribution<int> byte(0, 255);
        if (round % 2 == 0) {
            for (int i = 0; i < 3 && !valid.empty(); ++i)
                valid[static_cast<size_t>(byte(rng_)) % valid.size()] = static_cast<char>(byte(rng_));
            valid.resize(static_cast<size_t>(byte(rng_) * 7) % (valid.size() + 1));
            return valid;
        }
        std::string s(static_cast<size_t>(byte(rng_)) % (maxLen + 1), '\0');
        for (char& c : s)
            c = byte(rng_) % 3 == 0 ? static_cast<char>(byte(rng_)) : kSpecial[byte(rng_) % sizeof kSpecial];
        return s;
    }

    // At debug level, so that every message about bad input is formatted.
    CorvaneTest::MessageLog::Scope log_;
    std::mt19937 rng_{20240613};
};

TEST_F(GarbageInputTest, AttributeStreamsSurviveAnyText) {
    rcAttrStream valid;
    valid.addStringValue("Name", "my host 1 2");
    valid.addIntValue("NodePort", 7549);
    valid.addStringValue("Empty", "");
    valid.addStringValue("Name", "replaced");
    for (int round = 0; round < kRounds; ++round) {
        const std::string text = garbage(round, valid.str(), 80);
        rcAttrStream s(text);
        std::string v;
        int n = 0;
        char buf[8];
        s.getValue("Name", v);
        s.getIntValue("NodePort", n);
        s.getStringValue("Empty", buf, sizeof buf);
        rcAttrStream::ConstIterator it(s);
        rcAttrStream::Entry e;
        int seen = 0;
        while (it.next(e)) {
            ASSERT_LE(e.nameLen + e.valueLen, text.size());
            ++seen;
        }
        EXPECT_EQ(s.count(), seen);
        (void)s.prettyString(5);
        EXPECT_TRUE(s == rcAttrStream(text));
        // Writing to a damaged stream must not crash either.
        s.addStringValue("Name", "fresh");
        s.getValue("Name", v);
    }
}

// What a parser reads from text, fed in blocks cut at random (no cuts: by
// the character).
template <typename Parser, typename Show>
std::vector<std::string> parse(const std::string& text, std::mt19937* cuts, Show show) {
    Parser parser;
    std::vector<std::string> out;
    std::uniform_int_distribution<size_t> cut(1, 40);
    for (size_t pos = 0; pos < text.size();) {
        const size_t n = cuts ? std::min(cut(*cuts), text.size() - pos) : 1;
        bool complete = false;
        size_t used = cuts ? parser.feed(text.data() + pos, n, &complete) : (complete = parser.addChar(text[pos]), 1);
        if (complete) {
            out.push_back(show(parser));
            parser.reset();
        }
        if (used == 0)
            return {"<stuck at " + std::to_string(pos) + ">"};
        pos += used;
    }
    return out;
}

// The socket readers feed whole blocks; they must parse exactly what
// character-by-character feeding parses, wherever the blocks are cut.
TEST_F(GarbageInputTest, BlockFeedingParsesLikeCharacterFeeding) {
    rcCommand sent;
    sent.set(true, 3, "SetMetaData", "a\nb\\c \"d\"");
    rcResult reply;
    reply.set(rcResult::kError, "Unknown method: x\ty");
    const std::string valid = sent.toString() + reply.toString() + sent.toString();
    const auto commandText = [](const rcCommand& c) {
        return std::string(c.mode()) + "|" + c.method() + "|" + std::to_string(c.objectId()) + "|" + c.argValue().str();
    };
    const auto resultText = [](const rcResult& r) { return r.status() + "|" + r.value().str(); };
    for (int round = 0; round < kRounds; ++round) {
        const std::string text = garbage(round, valid, 200);
        ASSERT_EQ(parse<rcCommand>(text, nullptr, commandText), parse<rcCommand>(text, &rng_, commandText));
        ASSERT_EQ(parse<rcResult>(text, nullptr, resultText), parse<rcResult>(text, &rng_, resultText));
    }
}

}  // namespace
