#include "base/env/EnvVar.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "base/env/EnvVarRegistry.h"
#include "support/Gate.h"

namespace {

using Corvane::EnvVar;
using Corvane::RegEnvVar;

// Each test declares its own records under names no module uses. An integer
// setting is its leading digits: blanks and signs are no digits.
TEST(EnvVarTest, TextRulesOfEachType) {
    const struct {
        const char* text;
        bool flag;
        int number;
    } cases[] = {{nullptr, false, 5},  // unset: the defaults
                 {"", true, 0},
                 {"0", false, 0},
                 {"false", false, 0},
                 {"FALSE", false, 0},
                 {"False", true, 0},
                 {"12abc", true, 12},
                 {"0042", true, 42},
                 {"+5", true, 0},
                 {"2147483646", true, INT_MAX - 1},
                 {"99999999999999999999", true, INT_MAX}};
    for (const auto& c : cases) {
        const std::string shown = c.text ? c.text : "<unset>";
        if (c.text)
            setenv("CO_TEST_VALUE", c.text, 1);
        EnvVar<bool> flag("CO_TEST_VALUE", false);
        EnvVar<int> number("CO_TEST_VALUE", 5);
        EnvVar<std::string> text("CO_TEST_VALUE", "dflt");
        EXPECT_EQ(c.flag, flag.getValue()) << shown;
        EXPECT_EQ(c.number, number.getValue()) << shown;
        EXPECT_STREQ(c.text ? c.text : "dflt", text.getValue()) << shown;
        EXPECT_EQ(!c.text, number.isDefault()) << shown;
        EXPECT_EQ(!c.text, text.isDefault()) << shown;
    }
    unsetenv("CO_TEST_VALUE");
}

// Settings such as the trace flag are first read by whichever thread gets
// there first; racing first reads must not free one another's copies.
TEST(EnvVarTest, FirstReadRaceFromManyThreadsIsSafe) {
    setenv("CO_TEST_RACE", "raced", 1);
    for (int round = 0; round < 5; ++round) {
        EnvVar<std::string> var("CO_TEST_RACE", "dflt");
        CorvaneTest::Gate go;
        std::atomic<int> right{0};
        std::vector<std::thread> readers;
        for (int i = 0; i < 8; ++i)
            readers.emplace_back([&] {
                if (go.wait() && std::string(var.getValue()) == "raced")
                    ++right;
            });
        go.open();
        for (std::thread& reader : readers)
            reader.join();
        EXPECT_EQ(8, right.load());
    }
    unsetenv("CO_TEST_RACE");
}

int gCallbacks = 0;
void countCallback(void*) { ++gCallbacks; }

TEST(EnvVarTest, RunTimeChangesReachEveryRegistrationOfTheName) {
    unsetenv("CO_TEST_SHARED");
    EnvVar<int> first("CO_TEST_SHARED", 1, &countCallback, nullptr);
    EnvVar<int> second("CO_TEST_SHARED", 2, &countCallback, nullptr);
    RegEnvVar<int> firstReg("moduleA.cpp", first);
    RegEnvVar<int> secondReg("moduleB.cpp", second);
    gCallbacks = 0;
    first.setValue(9);
    EXPECT_EQ(second.getValue(), 9);
    EXPECT_EQ(gCallbacks, 2);
}

}  // namespace
