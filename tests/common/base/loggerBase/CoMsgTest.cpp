#include "base/loggerBase/CoMsg.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/env/EnvVar.h"
#include "base/env/EnvVarRegistry.h"
#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoLastErrLogger.h"

namespace {

using Corvane::CoMsg;

// Keeps what reaches the router, formatted as the default router would.
struct CapturingRouter : CoMsg::Router {
    void route(const CoMsg::Record& record) override {
        char line[2200];
        CoMsg::formatRecord(record, line, sizeof line);
        lines.push_back(line);
        levels.push_back(record.level);
        files.push_back(record.file);
    }
    std::vector<std::string> lines;
    std::vector<int> levels;
    std::vector<std::string> files;
};

void setMsgLevelVariable(const char* value) {
    Corvane::EnvVarRegistryImp& registry = Corvane::EnvVarRegistryImp::getInstance();
    const std::vector<int> found = registry.find("XQ_MSG_LEVEL", Corvane::EnvVarRegistry::kFieldName, true);
    ASSERT_EQ(found.size(), 1u);
    registry.getEnvVar(found[0])->dynSetValue(std::string(value));
}

// Tests the router mechanism itself, so it puts its own router in place of
// whatever the process had, and that one back afterwards.
class CoMsgTest : public ::testing::Test {
protected:
    // Starts from the state it leaves behind, with its own router in place.
    void SetUp() override {
        TearDown();
        CoMsg::setRouter(&router_);
    }
    void TearDown() override {
        CoMsg::setRouter(previous_);
        setMsgLevelVariable("");
        CoMsg::setVerbose(false);
    }
    CapturingRouter router_;
    CoMsg::Router* const previous_ = CoMsg::getRouter();
};

TEST_F(CoMsgTest, LevelNamesAreExactTheVariableOverridesTheDefaultAndLastErrorsIgnoreIt) {
    const struct {
        const char* name;
        int level;
    } cases[] = {{"user", 0}, {"error", 1}, {"warn", 2}, {"notice", 3}, {"debug", 4}, {"WARN", -1}, {"warning", -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(CoMsg::levelFromString(c.name), c.level) << c.name;
        if (c.level >= 0) {
            EXPECT_STREQ(CoMsg::levelToString(c.level), c.name);
        }
    }

    // The level follows the variable; the default level applies only while it is empty.
    EXPECT_EQ(CoMsg::getLevel(), CoMsg::notice);
    CoMsg::setDefaultLevel(CoMsg::user);
    EXPECT_EQ(CoMsg::getLevel(), CoMsg::user);

    setMsgLevelVariable("debug");
    EXPECT_EQ(CoMsg::getLevel(), CoMsg::debugging);
    CoMsg::setDefaultLevel(CoMsg::user);  // what library start-up does
    EXPECT_EQ(CoMsg::getLevel(), CoMsg::debugging);

    // An unknown name silences everything, user messages included.
    setMsgLevelVariable("WARN");
    EXPECT_EQ(CoMsg::getLevel(), -1);
    CO_USER("hidden");
    EXPECT_TRUE(router_.lines.empty());

    // The last error logger remembers and routes whatever the level.
    Corvane::CoLastErrLogger logger;
    setMsgLevelVariable("nonsense");  // level -1
    CO_LAST_ERR(logger).postError("failed on '%s'", "eth0");
    EXPECT_EQ(logger.lastError(), "failed on 'eth0'");
    ASSERT_EQ(router_.lines.size(), 1u);
    EXPECT_EQ(router_.lines[0], "failed on 'eth0'\n");
    EXPECT_EQ(router_.files[0], "CoMsgTest.cpp");

    logger.setSilentMode(true);
    CO_LAST_ERR(logger).postError("quiet %d", 2);
    EXPECT_EQ(logger.lastError(), "quiet 2");
    EXPECT_EQ(router_.lines.size(), 1u);
}

TEST_F(CoMsgTest, MessagesArePostedAtOrBelowTheLevelAsBareTrimmedCutOrVerboseLines) {
    CoMsg::setLevel(CoMsg::warning);
    CO_DEBUG("d");
    CO_NOTICE("n");
    CO_WARNING("w");
    CO_ERROR("e");
    CO_USER("u");
    EXPECT_EQ(router_.lines, (std::vector<std::string>{"w\n", "e\n", "u\n"}));
    EXPECT_EQ(router_.levels, (std::vector<int>{2, 1, 0}));

    // A bare line drops trailing white space; a long text is cut.
    CO_USER("text \t\n\n ");
    EXPECT_EQ(router_.lines.back(), "text\n");
    const std::string huge(5000, 'x');
    CO_USER("%s", huge.c_str());
    EXPECT_EQ(router_.lines.back(), std::string(2047, 'x') + "\n");

    // A verbose line carries level, pid, location and time.
    int (*const previous)() = CoMsg::pidCallback();
    EXPECT_EQ(4242, CoMsg::setPIDCallback([] { return 4242; }));
    CoMsg::setVerbose(true);
    CO_ERROR("boom  ");
    CoMsg::setPIDCallback(previous);
    EXPECT_THAT(router_.lines.back(),
                ::testing::MatchesRegex("\\[error\\] 4242 CoMsgTest\\.cpp:[0-9]+ [0-9]{2}/[0-9]{2}/[0-9]{2}:"
                                        "[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} boom\n"));

    // A record without a line number is written bare even when verbose.
    CoMsg::Record record{"bare ", "f.cpp", "", 0, 0, CoMsg::user, 0, 0};
    char out[64];
    CoMsg::formatRecord(record, out, sizeof out);
    EXPECT_STREQ(out, "bare\n");
}

Corvane::CoException raised(const char* text, const char* detail) {
    try {
        Corvane::CoException(42, "/src/File.cpp").raise(text, "%s", detail);
    } catch (const Corvane::CoException& e) {
        return e;
    }
    ADD_FAILURE() << "raise did not throw";
    return Corvane::CoException(0, "");
}

// What is the text and the detail is separate; the file name, an overlong
// text and an overlong detail are cut.
TEST(CoExceptionTest, TextDetailAndFileNameAreKeptApartAndCutToTheirBuffers) {
    const auto caught = raised("Cannot allocate memory", "Unable to allocate 12 bytes.");
    EXPECT_STREQ(caught.what(), "Cannot allocate memory");
    EXPECT_STREQ(caught.detail(), "Unable to allocate 12 bytes.");
    EXPECT_EQ(caught.line(), 42);
    EXPECT_EQ(std::strlen(Corvane::CoException("text", 1, std::string(300, 'p').c_str()).file()), 127u);
    // No room for a detail: it is dropped, never written past the buffer.
    for (size_t length : {1599u, 1600u, 5000u}) {
        const auto e = raised(std::string(length, 't').c_str(), "detail");
        EXPECT_EQ(std::string(1599, 't'), e.what()) << length;
        EXPECT_STREQ("", e.detail()) << length;
    }
    const auto e = raised("t", std::string(3000, 'd').c_str());
    EXPECT_STREQ(e.what(), "t");
    EXPECT_EQ(std::strlen(e.detail()), 1600u - 3u);
}

TEST(CoStackDumpTest, PrintsAtMostTheAskedNumberOfFrames) {
    ::testing::internal::CaptureStdout();
    Corvane::CoStackDump(3);
    const std::string out = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(out.rfind("Obtained 3 stack frames.\n", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4);
}

}  // namespace
