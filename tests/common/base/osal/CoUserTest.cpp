#include "base/osal/CoUser.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "base/osal/CoEffectiveGroupChanger.h"
#include "base/osal/CoEffectiveUserChanger.h"
#include "support/Process.h"

namespace {

using Corvane::CoEffectiveGroupChanger;
using Corvane::CoEffectiveUserChanger;
using Corvane::CoUser;

constexpr uid_t kNobody = 65534;
constexpr uid_t kDaemon = 1;
constexpr int kSkipStatus = 77;
constexpr const char* kScenarioVar = "CORVANE_COUSER_SCENARIO";

// In a child: returns the failing line, so the parent can say which check broke.
#define CHILD_CHECK(cond)                                                      \
    do {                                                                       \
        if (!(cond)) {                                                         \
            std::printf("check failed at line %d: %s\n", __LINE__, #cond);     \
            std::fflush(stdout);                                               \
            return 1;                                                          \
        }                                                                      \
    } while (0)

// ---- Scenarios run by this binary when re-executed under other ids. They
// must run before main: the ids are recorded at start-up.

// Started as a set-user-id root program invoked by nobody.
int setuidScenario() {
    CHILD_CHECK(CoUser::startRealUid() == kNobody && CoUser::startEffectiveUid() == 0);
    CHILD_CHECK(CoUser::isRootCapable(true));
    // The check leaves the process running as the invoking user.
    CHILD_CHECK(getuid() == 0 && geteuid() == kNobody);
    CHILD_CHECK(CoUser::lastEffectiveUid() == kNobody);
    {
        CoEffectiveUserChanger root(CoEffectiveUserChanger::Target::Root);
        CHILD_CHECK(root.changed() && geteuid() == 0);
    }
    CHILD_CHECK(getuid() == 0 && geteuid() == kNobody);
    CHILD_CHECK(CoUser::beRoot() && getuid() == kNobody && geteuid() == 0);
    {
        CoEffectiveUserChanger user(CoEffectiveUserChanger::Target::InvokingUser);
        CHILD_CHECK(user.changed() && geteuid() == kNobody);
    }
    CHILD_CHECK(getuid() == kNobody && geteuid() == 0);
    CHILD_CHECK(CoUser::becomeUser() && getuid() == 0 && geteuid() == kNobody);
    std::string name;
    CHILD_CHECK(CoUser::realUserName(&name) && name == "nobody");
    CHILD_CHECK(CoUser::effectiveUserName(&name) && name == "root");
    CHILD_CHECK(CoUser::currentRealUserName(&name) && name == "root");
    std::printf("ok\n");
    return 0;
}

struct RunScenarioBeforeMain {
    RunScenarioBeforeMain() {
        const char* scenario = std::getenv(kScenarioVar);
        if (!scenario)
            return;
        int status = 2;
        if (std::strcmp(scenario, "setuid") == 0)
            status = setuidScenario();
        std::fflush(stdout);
        _exit(status);
    }
} gRunScenarioBeforeMain;

// ---- Child processes

// Runs this binary again with the given ids; the scenario runs before main.
CorvaneTest::ProcessResult runSelfAs(const char* scenario, uid_t realUid, uid_t effectiveUid) {
    CorvaneTest::ProcessOptions options;
    options.env = CorvaneTest::currentEnvironment();
    options.env[kScenarioVar] = scenario;
    // Exec keeps the effective id as the saved one, as a set-user-id root
    // program would have it.
    options.beforeExec = [realUid, effectiveUid] {
        if (setresuid(realUid, effectiveUid, effectiveUid) != 0)
            _exit(kSkipStatus);
    };
    return CorvaneTest::runProcess({"/proc/self/exe"}, options);
}

class CoUserTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "identity switching needs a process running as root";
    }
};

TEST_F(CoUserTest, SetUserIdRootProgramSwitchesBetweenUserAndRoot) {
    const CorvaneTest::ProcessResult child = runSelfAs("setuid", kNobody, 0);
    if (child.exitStatus == kSkipStatus)
        GTEST_SKIP() << "could not start a child under other ids";
    EXPECT_EQ(0, child.exitStatus) << child.out << child.err;
    EXPECT_EQ("ok\n", child.out);
}

TEST_F(CoUserTest, RootChangesIdsAndPutsThemBack) {
    const int status = CorvaneTest::runInChild([] {
        CHILD_CHECK(CoUser::pushUser(0, kNobody) && getuid() == 0 && geteuid() == kNobody);
        // From one non-root id to another needs the pass through root.
        CHILD_CHECK(CoUser::pushUser(0, kDaemon) && geteuid() == kDaemon);
        CHILD_CHECK(CoUser::popUser() && getuid() == 0 && geteuid() == kNobody);
        CHILD_CHECK(CoUser::popUser() && getuid() == 0 && geteuid() == 0);
        CHILD_CHECK(CoUser::lastEffectiveUid() == kNobody);  // the pop to nobody set it last

        // Scoped changers restore only what they changed.
        {
            CoEffectiveUserChanger same(0);
            CHILD_CHECK(!same.changed());
            CHILD_CHECK(CoUser::setUserIds(0, kDaemon));  // not undone by the scope
        }
        CHILD_CHECK(geteuid() == kDaemon);
        CHILD_CHECK(CoUser::setUserIds(0, 0));
        {
            CoEffectiveUserChanger nobody(kNobody);
            CHILD_CHECK(nobody.changed() && getuid() == 0 && geteuid() == kNobody);
        }
        CHILD_CHECK(getuid() == 0 && geteuid() == 0);
        {
            CoEffectiveGroupChanger group(kNobody);
            CHILD_CHECK(group.changed() && getgid() == 0 && getegid() == kNobody);
        }
        CHILD_CHECK(getgid() == 0 && getegid() == 0);
        return 0;
    });
    EXPECT_EQ(0, status);
}

// Known names are read back by the identity scenario.
TEST_F(CoUserTest, LooksUpNamesInTheDatabases) {
    std::string name = "kept";
    // No database names id 4294967294, (uid_t)-2; the name is left as it was.
    EXPECT_FALSE(CoUser::userName(static_cast<uid_t>(-2), &name) || CoUser::groupName(static_cast<gid_t>(-2), &name));
    EXPECT_EQ("kept", name);
    EXPECT_TRUE(CoUser::groupName(0, &name) && name == "root");
}

}  // namespace
