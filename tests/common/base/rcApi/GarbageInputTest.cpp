// Random, truncated and mutated input for every parser that reads the wire.
// Bounded in count; the point is that nothing crashes or reads out of
// bounds (run under the address sanitizer to be sure), and that what is
// parsed stays consistent.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "base/rcApi/rcAttrStream.h"
#include "base/rcApi/rcCommand.h"
#include "base/rcApi/rcResult.h"
#include "support/MessageLog.h"

using namespace Corvane;

namespace {

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
        return std::string(c.mode()) + "|" + c.method() + "|" + std::to_string(c.objectId()) + "|" +
               c.argValue().str();
    };
    const auto resultText = [](const rcResult& r) { return r.status() + "|" + r.value().str(); };
    for (int round = 0; round < kRounds; ++round) {
        const std::string text = garbage(round, valid, 200);
        ASSERT_EQ(parse<rcCommand>(text, nullptr, commandText), parse<rcCommand>(text, &rng_, commandText));
        ASSERT_EQ(parse<rcResult>(text, nullptr, resultText), parse<rcResult>(text, &rng_, resultText));
    }
}

}  // namespace
