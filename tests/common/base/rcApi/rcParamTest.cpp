#include "base/rcApi/rcParam.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/rcApi/rcMethod.h"

using namespace Corvane;

namespace {

const rcParam::Decl kOneString[] = {{&rcParamString::TYPE, "text"}, {nullptr, nullptr}};
const rcParam::Decl kTwoStrings[] = {{&rcParamString::TYPE, "a"}, {&rcParamString::TYPE, "b"}, {nullptr, nullptr}};
const rcParam::Decl kThreeStrings[] = {
    {&rcParamString::TYPE, "a"}, {&rcParamString::TYPE, "b"}, {&rcParamString::TYPE, "c"}, {nullptr, nullptr}};
const rcParam::Decl kMixed[] = {{&rcParamInt::TYPE, "i"},   {&rcParamBool::TYPE, "b"}, {&rcParamFloat::TYPE, "f"},
                                {&rcParamLong::TYPE, "l"}, {nullptr, nullptr}};

using Strings = std::vector<std::string>;

// Numbers convert as the C library does, booleans by the word rule.
TEST(rcParamTest, ArgumentTextIsSplitAmongParameters) {
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

}  // namespace
