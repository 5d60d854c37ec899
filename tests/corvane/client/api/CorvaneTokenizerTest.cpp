#include "client/api/CorvaneTokenizer.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "base/loggerBase/CoMsg.h"
#include "client/api/CorvaneLocale.h"
#include "support/MessageLog.h"

namespace {

// The tokens of text; the input must come back whole.
std::vector<std::string> tokens(std::string text, char separator = ',') {
    const std::string original = text;
    std::vector<std::string> out;
    CorvaneTokenizer tokenizer(&text[0], separator);
    for (const char* token = tokenizer.next(); token && out.size() < 100; token = tokenizer.next())
        out.push_back(token);
    EXPECT_EQ(text, original);
    return out;
}

TEST(CorvaneTokenizerTest, KeepsEmptyTokensAndRestoresTheInput) {
    using V = std::vector<std::string>;
    const std::pair<const char*, V> cases[] = {
        {"a,,b", {"a", "", "b"}}, {"a,", {"a", ""}}, {",", {"", ""}}, {"abc", {"abc"}}, {"", {}}};
    for (const auto& c : cases)
        EXPECT_EQ(tokens(c.first), c.second) << c.first;
    EXPECT_EQ(tokens("x y", ' '), (V{"x", "y"}));
}

// Runs body in the named LC_CTYPE locale, skipping when the machine lacks it.
class CorvaneLocaleTest : public ::testing::Test {
protected:
    void TearDown() override { std::setlocale(LC_CTYPE, "C"); }
    bool use(const char* name) { return std::setlocale(LC_CTYPE, name) != nullptr; }
    std::vector<std::string> warnings() const { return log_->texts(); }

    CorvaneTest::MessageLog::Scope log_{Corvane::CoMsg::warning};
};

TEST_F(CorvaneLocaleTest, CLocaleReplacesWhatItCanNotShow) {
    ASSERT_TRUE(use("C"));
    std::string text = "caf\xc3\xa9!";
    corvaneUtf8ToLocale(text);
    EXPECT_EQ(text, "caf?!");
    EXPECT_EQ(warnings(), (std::vector<std::string>{"Cannot convert Unicode character 0xe9 to locale C",
                                                    "Source UTF8: c3 a9 21 00"}));

    text = "ok\xff tail";
    corvaneUtf8ToLocale(text);
    EXPECT_EQ(text, "ok");
    EXPECT_EQ(warnings().back(), "Invalid UTF8 character in string: ff 20 74 61");

    // Cut short at the end: the padding reads as continuation bytes and never shows.
    text = "a\xe2\x82";
    corvaneUtf8ToLocale(text);
    EXPECT_EQ(text.find('\0'), std::string::npos);
    EXPECT_EQ(text.substr(0, 1), "a");

    EXPECT_EQ(corvaneLocaleToUtf8("plain"), "plain");
    EXPECT_EQ(corvaneLocaleToUtf8("x\xe9y"), "x?");
}

// A UTF-8 codeset spelt otherwise than "UTF-8" is converted through the C
// library: valid text comes back the same, invalid text is cut.
TEST_F(CorvaneLocaleTest, Utf8LocaleSpeltOtherwiseIsConverted) {
    if (!use("C.utf8"))
        GTEST_SKIP() << "the C.utf8 spelling is not available";
    const std::string original = "caf\xc3\xa9 \xe2\x82\xac";
    std::string text = original;
    corvaneUtf8ToLocale(text);
    EXPECT_EQ(text, original);
    EXPECT_EQ(corvaneLocaleToUtf8((original + "\xff").c_str()), original + "?");
    EXPECT_EQ(warnings().back().rfind("Invalid character for locale C.utf8: ff", 0), 0u) << warnings().back();
}

}  // namespace
