#include "base/rcApi/CoStringBuilder.h"

#include <gtest/gtest.h>

#include <string>

using Corvane::CoStringBuilder;

namespace {

TEST(CoStringBuilderTest, GrowsByWholeMultiplesOfItsCapacity) {
    CoStringBuilder assigned;
    assigned.assign(std::string(600, 'a'));
    EXPECT_EQ(768u, assigned.capacity());
    EXPECT_EQ(std::string(600, 'a'), assigned.c_str());

    CoStringBuilder appended;
    for (int i = 0; i < 255; ++i)
        appended.append('x');
    EXPECT_EQ(256u, appended.capacity());
    appended.append('y');
    EXPECT_EQ(512u, appended.capacity());
    EXPECT_EQ(std::string(255, 'x') + "y", appended.c_str());

    CoStringBuilder block;
    block.append("0123456789", 10);
    block.append(std::string(600, 'b').data(), 600);
    EXPECT_EQ(1024u, block.capacity());  // factor (256 + 600 + 1) / 256 + 1
    EXPECT_EQ(610u, block.length());
}

TEST(CoStringBuilderTest, AssignShorterKeepsCapacityAndClearEmpties) {
    CoStringBuilder s(8);
    s.assign("1234567");
    EXPECT_EQ(8u, s.capacity());
    s.assign("12345678");
    EXPECT_EQ(16u, s.capacity());
    s.assign("ab");
    EXPECT_EQ(16u, s.capacity());
    EXPECT_STREQ("ab", s.c_str());
    s.clear();
    EXPECT_STREQ("", s.c_str());
    CoStringBuilder copy(s);
    copy.append("xyz", 3);
    EXPECT_STREQ("xyz", copy.c_str());
    EXPECT_STREQ("", s.c_str());
}

}  // namespace
