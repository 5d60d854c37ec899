#include "CgiRequest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DriverFixture.h"

namespace {

std::vector<std::string> split(const std::string& text, const char* delimiters = ",") {
    std::vector<std::string> list;
    CgiRequest::splitString(text, list, delimiters);
    return list;
}

TEST(CgiRequestTest, SplitSkipsEmptyTokens) {
    using List = std::vector<std::string>;
    EXPECT_EQ(split("a,,b,"), (List{"a", "b"}));
    EXPECT_EQ(split(",,"), List{});
    EXPECT_EQ(split("a=1;b=2&&c=3", "&;"), (List{"a=1", "b=2", "c=3"}));
}

TEST(CgiRequestTest, PercentDecodingNeverReadsPastTheEnd) {
    const struct {
        const char* in;
        std::string out;
    } cases[] = {
        {"%41%62", "Ab"},
        {"%2f%2F", "//"},
        {"%", "%"},
        {"a%4", "a%4"},
        {"%00x", std::string("\0x", 2)},
        {"100%25", "100%"},
        {"+", "+"},
        // Not hexadecimal: the byte the digit formula gives, modulo 256.
        {"%zz", std::string(1, static_cast<char>((16 * ('z' - 32 - 55) + ('z' - 32 - 55)) & 0xff))},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CgiRequest::decode(c.in), c.out) << c.in;
}

// The query's variables come through a StringIo, as the driver's do.
CgiRequest fromQuery(const std::string& query, std::vector<std::string> args) {
    StringIo io({{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}}, "");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return CgiRequest(static_cast<int>(args.size()), argv.data(), io);
}

TEST(CgiRequestTest, ArgumentsComeFirstThenTheQuery) {
    const CgiRequest request = fromQuery("a=q&b=x+y%2Bz&Mode=m&%6Dode=n&flag&=empty",
                                         {"/srv/e=f/prog", "a=arg", "noequals", "c=1=2", "d=%41+"});
    const char* const values[][2] = {{"a", "arg:q"}, {"b", "x y+z"},  {"c", "1=2"}, {"d", "A+"},   {"Mode", "m"},
                                     {"mode", ""},   {"%6Dode", "n"}, {"flag", ""}, {"", "empty"}, {"/srv/e", ""}};
    for (const auto& v : values)
        EXPECT_EQ(request.get(v[0]), v[1]) << v[0];
    // Empty values are replaced, not joined.
    const CgiRequest repeated = fromQuery("a=&a=2&b=1&b=&c=1&c=2&c=3", {"prog"});
    EXPECT_EQ(repeated.get("a"), "2");
    EXPECT_EQ(repeated.get("b"), "1:");
    EXPECT_EQ(repeated.get("c"), "1:2:3");
}

}  // namespace
