#include "base/rcApi/CoStringBuilder.h"

#include <gtest/gtest.h>

#include <string>

using Corvane::CoStringBuilder;

namespace {

TEST(CoStringBuilderTest, KeepsWhatWasAssignedAndAppendedAcrossGrowth) {
    CoStringBuilder s(8);
    s.assign("1234567");
    s.append('8');
    s.append(std::string(600, 'b').data(), 600);
    EXPECT_EQ("12345678" + std::string(600, 'b'), s.c_str());
    EXPECT_EQ(608u, s.length());
    s.assign("ab");
    EXPECT_STREQ("ab", s.c_str());
    s.clear();
    EXPECT_STREQ("", s.c_str());
    CoStringBuilder copy(s);
    copy.append("xyz", 3);
    EXPECT_STREQ("xyz", copy.c_str());
    EXPECT_STREQ("", s.c_str());
}

}  // namespace
