#include "client/api/CorvaneStr.h"

#include <gtest/gtest.h>

namespace {

TEST(CorvaneStrTest, EmptyStringsShareOneBufferAndCopiesAreIndependent) {
    const CorvaneStr empties[] = {CorvaneStr(), CorvaneStr(nullptr), CorvaneStr("")};
    for (const CorvaneStr& s : empties) {
        EXPECT_TRUE(s.isEmpty() && s.length() == 0u && s == "");
        EXPECT_EQ(s.c_str(), empties[0].c_str());  // no allocation
    }
    CorvaneStr a("hello world");
    CorvaneStr b(a);
    b = "other";
    a = a;
    EXPECT_STREQ(a.c_str(), "hello world");
    a = a.c_str() + 6;  // a tail of itself
    EXPECT_STREQ(a.c_str(), "world");
    EXPECT_TRUE(CorvaneStr("a") < CorvaneStr("b") && CorvaneStr("x") != "y");
}

}  // namespace
