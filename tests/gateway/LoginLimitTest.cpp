// The request's CORVANE_LOGIN_TIMEOUT reaches the server handles of its
// modes: a server that accepts and never answers the login fails the
// request after it, above or below the library's default of 5 s.
#include <gtest/gtest.h>

#include <string>

#include "DriverFixture.h"
#include "support/LoopbackListener.h"

namespace {

class LoginLimitTest : public DriverFixture {
protected:
    CorvaneTest::ProcessResult read(const std::string& loginMs, const std::string& requestMs) const {
        return run({"mode=getMetadata", "host=127.0.0.1:" + std::to_string(silent_.port()), "nodeId=/",
                    "streamName=info"},
                   {{"CORVANE_LOGIN_TIMEOUT", loginMs},
                    {"CORVANE_REQUEST_TIMEOUT", requestMs},
                    {"XQ_CVC_BROWSE_TIMEOUT", "60000"}});
    }

    CorvaneTest::LoopbackListener silent_{64};  // never accepts
};

TEST_F(LoginLimitTest, SettingBoundsTheLoginOfEveryHandle) {
    EXPECT_EQ(read("200", "60000").out, error("Connection timed out"));
    // Longer than the default: the request's deadline comes first.
    EXPECT_EQ(read("60000", "6500").out, error("Request took longer than 6500 ms"));
}

}  // namespace
