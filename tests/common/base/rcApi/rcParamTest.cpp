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
const rcParam::Decl kMixed[] = {{&rcParamInt::TYPE, "i"},
                                {&rcParamBool::TYPE, "b"},
                                {&rcParamFloat::TYPE, "f"},
                                {&rcParamLong::TYPE, "l"},
                                {nullptr, nullptr}};

std::vector<std::string> texts(const rcParam::Decl* decls, const char* args) {
    rcParam::Array array(decls, args);
    std::vector<std::string> out;
    for (size_t i = 0; i < array.size(); ++i)
        out.push_back(array[i].toString());
    return out;
}

using Strings = std::vector<std::string>;

TEST(rcParamTest, ConversionsFollowTheCLibraryAndTheWordRule) {
    rcParamFloat f;
    f.fromString("1.5");
    EXPECT_EQ("1.500000", f.toString());
    rcParamBool b;
    b.fromString("on");
    EXPECT_TRUE(b.getBool());
    EXPECT_EQ("true", b.toString());
    b.fromString("2");
    EXPECT_FALSE(b.getBool());
    rcParamInt i;
    i.fromString("-17xyz");
    EXPECT_EQ(-17, i.getInt());
    i.fromString("junk");
    EXPECT_EQ("0", i.toString());
    rcParamLong l;
    l.fromString(std::string("123456"));
    EXPECT_EQ(123456L, l.getLong());
    // The base ignores what its type does not hold.
    rcParamString s;
    s.setInt(5);
    EXPECT_EQ(0, s.getInt());
    EXPECT_EQ("", s.toString());
}

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
        {kThreeStrings, "\"\" b", {"", "b", ""}},
        {kThreeStrings, "\"unclosed b c", {"unclosed b c", "", ""}},
        {kMixed, "42 yes 2.25 -7 extra", {"42", "true", "2.250000", "-7"}},
        {rcMethod::dudParamList_, "ignored", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, texts(c.decls, c.args)) << "args: '" << c.args << "'";
    EXPECT_EQ((Strings{"", ""}), texts(kTwoStrings, nullptr));
}

struct Calls {
    void* object = nullptr;
    std::string arg;
};

bool echo(void* object, const rcMethod& method, const rcParam::Array& args, rcParam& result) {
    Calls* calls = static_cast<Calls*>(method.context());
    calls->object = object;
    calls->arg = args[0].toString();
    if (calls->arg == "fail") {
        method.setErrorText("refused '" + calls->arg + "'");
        return false;
    }
    result.fromString("got " + calls->arg);
    return true;
}

TEST(rcParamTest, MethodInvocationReturnsResultOrErrorText) {
    Calls calls;
    int target = 0;
    const rcMethod method(&calls, "Echo", &echo, &rcParamString::TYPE, kOneString);
    std::string out;
    EXPECT_TRUE(method.invoke(&target, "hello world", out));
    EXPECT_EQ("got hello world", out);
    EXPECT_EQ(&target, calls.object);
    EXPECT_FALSE(method.invoke(nullptr, "fail", out));
    EXPECT_EQ("refused 'fail'", out);
    EXPECT_EQ(nullptr, calls.object);

    // A void result answers an empty text.
    const rcMethod voidMethod(&calls, "Void", &echo, &rcParamVoid::TYPE, kOneString);
    EXPECT_TRUE(voidMethod.invoke(nullptr, "x", out));
    EXPECT_EQ("", out);
}

}  // namespace
