#include "base/rcApi/rcAttrList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Corvane::rcAttrList;

namespace {

using List = rcAttrList<std::string>;
using Strings = std::vector<std::string>;

TEST(rcAttrListTest, ElementsWithBlanksDigitsAndNewlinesRoundTrip) {
    const Strings items = {"1 2 3", " ", "a\nb", "4 ", std::string(300, 'x'), "\"q\""};
    Strings out = {"stale"};
    ASSERT_TRUE(List(List(items).str()).decode(out));
    EXPECT_EQ(items, out);
}

TEST(rcAttrListTest, EmptyListsAndEmptyElementsDoNotDecode) {
    EXPECT_EQ("2 2 ab3 cde", List(Strings{"ab", "cde"}).str());
    EXPECT_EQ("1 0 ", List(Strings{""}).str());
    EXPECT_EQ("0 ", List(Strings{}).str());
    for (const Strings& items : {Strings{}, Strings{""}, Strings{"a", "", "b"}, Strings{"a", ""}}) {
        Strings out = {"stale"};
        EXPECT_FALSE(List(List(items).str()).decode(out)) << List(items).str();
        EXPECT_TRUE(out.empty());
    }
}

TEST(rcAttrListTest, RejectsMalformedTexts) {
    for (const char* bad : {"", "2", "2 ", "2 1 a", "1 1 ab", "3 1 a1 b", "1 5 abc", "1 -1 a", "1 x a", "1 1 a1",
                            "1 1 a 1", "-1 1 a", "1 99999999999999999999 a", "x 1 a"}) {
        Strings out;
        EXPECT_FALSE(List(bad).decode(out)) << "accepted: '" << bad << "'";
        EXPECT_TRUE(out.empty()) << bad;
    }
}

}  // namespace
