// Runs a test again in a new process of this test binary, for what a test
// must not do to the process that runs all the others: settings read once
// per process, libraries loaded, network namespaces. Header-only, so that
// every test binary can use it.
#pragma once

#include <cstdlib>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "support/Process.h"

namespace CorvaneTest {

// In the parent: runs the current test in a child with env added, fails
// the test when the child fails and skips it when the child skipped, and
// returns false. In that child: returns true. result gets the child's output.
//     if (!inFreshProcess({{"XQ_RTMON", "1"}})) return;
inline bool inFreshProcess(const std::map<std::string, std::string>& env = {}, ProcessResult* result = nullptr) {
    constexpr const char* kChildVar = "CORVANE_FRESH_PROCESS_TEST";
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(info->test_suite_name()) + "." + info->name();
    const char* running = std::getenv(kChildVar);
    if (running && name == running)
        return true;
    ProcessOptions options;
    options.env = currentEnvironment();
    for (const auto& entry : env)
        options.env[entry.first] = entry.second;
    options.env[kChildVar] = name;
    const ProcessResult child = runProcess({"/proc/self/exe", "--gtest_filter=" + name}, options);
    EXPECT_EQ(0, child.exitStatus) << "child:\n" << child.out << child.err;
    if (result)
        *result = child;
    const size_t skipped = child.out.find("Skipped\n");
    if (child.exitStatus == 0 && skipped != std::string::npos)  // GTEST_SKIP returns: in a void lambda
        [&] { GTEST_SKIP() << child.out.substr(skipped + 8, child.out.find('\n', skipped + 8) - skipped - 8); }();
    return false;
}

}  // namespace CorvaneTest
