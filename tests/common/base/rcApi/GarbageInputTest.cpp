// Random, truncated and mutated input for every parser that reads the wire.
// Bounded in count; the point is that nothing crashes or reads out of
// bounds (run under the address sanitizer to be sure), and that what is
// parsed stays consistent.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "base/rcApi/rcAttrList.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/rcApi/rcCommand.h"
#include "base/rcApi/rcResult.h"
#include "support/MessageLog.h"

using namespace Corvane;

namespace {

constexpr int kRounds = 3000;

class GarbageInputTest : public ::testing::Test {
protected:
    // Random bytes biased towards the characters the formats care about.
    std::string randomText(size_t maxLen) {
        static const char kSpecial[] = {' ', ' ', '\n', '\\', '"', '0', '1', '9', '-', 'n', 't', '\0', '\t'};
        std::uniform_int_distribution<size_t> len(0, maxLen);
        std::uniform_int_distribution<int> byte(0, 255);
        std::uniform_int_distribution<int> pick(0, 2);
        std::string s(len(rng_), '\0');
        for (char& c : s)
            c = pick(rng_) == 0 ? static_cast<char>(byte(rng_)) : kSpecial[byte(rng_) % sizeof kSpecial];
        return s;
    }

    // A valid text with a few bytes changed, and cut at a random place.
    std::string mutate(std::string s) {
        std::uniform_int_distribution<int> byte(0, 255);
        for (int i = 0; i < 3 && !s.empty(); ++i)
            s[static_cast<size_t>(byte(rng_)) % s.size()] = static_cast<char>(byte(rng_));
        s.resize(static_cast<size_t>(byte(rng_) * 7) % (s.size() + 1));
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
        const std::string text = round % 2 ? randomText(80) : mutate(valid.str());
        rcAttrStream s(text);
        std::string v;
        int n = 0;
        char buf[8];
        s.getValue("Name", v);
        s.getIntValue("NodePort", n);
        s.getStringValue("Empty", buf, sizeof buf);
        const int count = s.count();
        rcAttrStream::ConstIterator it(s);
        rcAttrStream::Entry e;
        int seen = 0;
        while (it.next(e)) {
            ASSERT_LE(e.nameLen + e.valueLen, text.size());
            ++seen;
        }
        EXPECT_EQ(count, seen);
        (void)s.prettyString(5);
        EXPECT_TRUE(s == rcAttrStream(text));
        // Writing to a damaged stream must not crash either; what reads
        // back depends on the damage (a length may swallow the new entry).
        s.addStringValue("Name", "fresh");
        s.getValue("Name", v);
    }
}

TEST_F(GarbageInputTest, StringListsSurviveAnyText) {
    const std::string valid = rcAttrList<std::string>(std::vector<std::string>{"a b", "1 2 3", "x"}).str();
    for (int round = 0; round < kRounds; ++round) {
        const std::string text = round % 2 ? randomText(40) : mutate(valid);
        std::vector<std::string> items;
        if (rcAttrList<std::string>(text).decode(items)) {
            // Whatever decodes encodes back to the same text but for the
            // number formatting, which a peer may pad.
            std::vector<std::string> again;
            ASSERT_TRUE(rcAttrList<std::string>(rcAttrList<std::string>(items).str()).decode(again));
            EXPECT_EQ(items, again);
        }
    }
}

TEST_F(GarbageInputTest, CommandAndReplyParsersSurviveAnyBytes) {
    rcCommand sent;
    sent.set(true, 3, "SetMetaData", "a\nb\\c \"d\"");
    rcResult sentReply;
    sentReply.set(rcResult::kError, "Unknown method: x\ty");
    for (int round = 0; round < kRounds; ++round) {
        const std::string a = round % 2 ? randomText(120) : mutate(sent.toString());
        const std::string b = round % 2 ? randomText(120) : mutate(sentReply.toString());
        rcCommand cmd;
        rcResult reply;
        for (char c : a) {
            if (cmd.addChar(c)) {
                (void)cmd.objectId();
                (void)cmd.isSync();
                // Rendering what was parsed and parsing it again is stable.
                const std::string line = cmd.toString();
                rcCommand again;
                size_t used = 0;
                while (used < line.size() && !again.addChar(line[used]))
                    ++used;
                EXPECT_STREQ(cmd.args(), again.args());
                cmd.reset();
            }
        }
        for (char c : b) {
            if (reply.addChar(c)) {
                (void)reply.isOk();
                (void)reply.value().str();
                reply.reset();
            }
        }
    }
}

// The socket readers feed whole blocks; they must parse exactly what
// character-by-character feeding parses, wherever the blocks are cut.
TEST_F(GarbageInputTest, BlockFeedingParsesLikeCharacterFeeding) {
    std::uniform_int_distribution<size_t> cut(1, 40);
    for (int round = 0; round < kRounds; ++round) {
        const std::string text = randomText(200);
        std::vector<std::string> byChar, byBlock;
        rcCommand a, b;
        rcResult ra, rb;
        std::vector<std::string> resultsByChar, resultsByBlock;
        for (char c : text) {
            if (a.addChar(c)) {
                byChar.push_back(std::string(a.mode()) + "|" + a.method() + "|" + std::to_string(a.objectId()) + "|" +
                                 a.argValue().str());
                a.reset();
            }
            if (ra.addChar(c)) {
                resultsByChar.push_back(ra.status() + "|" + ra.value().str());
                ra.reset();
            }
        }
        for (size_t pos = 0; pos < text.size();) {
            const size_t n = std::min(cut(rng_), text.size() - pos);
            for (size_t used = 0; used < n;) {
                bool complete = false;
                used += b.feed(text.data() + pos + used, n - used, &complete);
                if (complete) {
                    byBlock.push_back(std::string(b.mode()) + "|" + b.method() + "|" + std::to_string(b.objectId()) +
                                      "|" + b.argValue().str());
                    b.reset();
                }
            }
            for (size_t used = 0; used < n;) {
                bool complete = false;
                used += rb.feed(text.data() + pos + used, n - used, &complete);
                if (complete) {
                    resultsByBlock.push_back(rb.status() + "|" + rb.value().str());
                    rb.reset();
                }
            }
            pos += n;
        }
        ASSERT_EQ(byChar, byBlock);
        ASSERT_EQ(resultsByChar, resultsByBlock);
    }
}

}  // namespace
