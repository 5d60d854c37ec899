#include "client/api/CorvaneStr.h"

#include <gtest/gtest.h>

#include "client/api/CorvaneStrList.h"

namespace {

TEST(CorvaneStrTest, EmptyStringsShareOneBufferAndCopiesAreIndependent) {
    const CorvaneStr empties[] = {CorvaneStr(), CorvaneStr(nullptr), CorvaneStr("")};
    for (const CorvaneStr& s : empties) {
        EXPECT_TRUE(s.isEmpty() && s.length() == 0u && s == "");
        EXPECT_FALSE(s == static_cast<const char*>(nullptr));
        EXPECT_EQ(s.c_str(), empties[0].c_str());  // no allocation
    }
    CorvaneStr a("hello world");
    EXPECT_NE(a.c_str(), empties[0].c_str());
    CorvaneStr b(a);
    b = "other";
    a = a;
    EXPECT_STREQ(a.c_str(), "hello world");
    a = a.c_str() + 6;  // a tail of itself
    a.reallocBuff(100);
    EXPECT_STREQ(a.c_str(), "world");
    EXPECT_TRUE(CorvaneStr("a") < CorvaneStr("b"));
    EXPECT_TRUE(CorvaneStr("x") != "y");
    a.freeBuff();
    a.freeBuff();
    EXPECT_TRUE(a.isEmpty());
}

TEST(CorvaneStrListTest, AppendResizeAndCompare) {
    CorvaneStrList list;
    list.append("a");
    list.append(nullptr);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_STREQ(list.getStr(1), "");
    CorvaneStrList copy(list);
    EXPECT_TRUE(copy == list);
    copy.resize(4);
    EXPECT_EQ(copy.size(), 4u);
    EXPECT_FALSE(copy == list);
    copy.resize(1);
    EXPECT_STREQ(copy.getStr(0), "a");
}

}  // namespace
