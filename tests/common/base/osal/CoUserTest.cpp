#include "base/osal/CoUser.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "base/osal/CoEffectiveUserChanger.h"
#include "support/Process.h"

namespace {

using Corvane::CoEffectiveUserChanger;
using Corvane::CoUser;

constexpr uid_t kNobody = 65534;

// In a child: returns the failing line, so the parent can say which check broke.
#define CHILD_CHECK(cond)                                                  \
    do {                                                                   \
        if (!(cond)) {                                                     \
            std::printf("check failed at line %d: %s\n", __LINE__, #cond); \
            std::fflush(stdout);                                           \
            return 1;                                                      \
        }                                                                  \
    } while (0)

// The plugin loader and thread start-up raise the effective id to root for
// a scope; the scope puts back only what it changed.
TEST(CoUserTest, RootChangerRestoresOnlyWhatItChanged) {
    if (geteuid() != 0)
        GTEST_SKIP() << "identity switching needs a process running as root";
    const int status = CorvaneTest::runInChild([] {
        {
            CoEffectiveUserChanger same(CoEffectiveUserChanger::Target::Root);
            CHILD_CHECK(!same.changed());
            CHILD_CHECK(CoUser::setUserIds(0, kNobody));  // not undone by the scope
        }
        CHILD_CHECK(getuid() == 0 && geteuid() == kNobody);
        {
            CoEffectiveUserChanger root(CoEffectiveUserChanger::Target::Root);
            CHILD_CHECK(root.changed() && getuid() == 0 && geteuid() == 0);
        }
        CHILD_CHECK(getuid() == 0 && geteuid() == kNobody);
        return 0;
    });
    EXPECT_EQ(0, status);
}

TEST(CoUserTest, LooksUpNamesInTheDatabases) {
    std::string name = "kept";
    // No database names id 4294967294, (uid_t)-2; the name is left as it was.
    EXPECT_FALSE(CoUser::userName(static_cast<uid_t>(-2), &name) || CoUser::groupName(static_cast<gid_t>(-2), &name));
    EXPECT_EQ("kept", name);
    EXPECT_TRUE(CoUser::groupName(0, &name) && name == "root");
}

}  // namespace
