#include "common/base/fileUtil/FreshProcess.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace CorvaneTest {

namespace {

constexpr const char* kChildVar = "CORVANE_FRESH_PROCESS_TEST";

std::string currentTestName() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

void checkChild(const ProcessResult& child) {
    EXPECT_EQ(0, child.exitStatus) << "child:\n" << child.out << child.err;
    const size_t skipped = child.out.find("Skipped\n");
    if (child.exitStatus == 0 && skipped != std::string::npos) {
        const size_t start = skipped + 8;
        GTEST_SKIP() << child.out.substr(start, child.out.find('\n', start) - start);
    }
}

}  // namespace

bool inFreshProcess(const std::map<std::string, std::string>& env, ProcessResult* result) {
    const std::string name = currentTestName();
    const char* running = std::getenv(kChildVar);
    if (running && name == running)
        return true;
    ProcessOptions options;
    options.env = currentEnvironment();
    for (const auto& entry : env)
        options.env[entry.first] = entry.second;
    options.env[kChildVar] = name;
    const ProcessResult child = runProcess({"/proc/self/exe", "--gtest_filter=" + name}, options);
    checkChild(child);
    if (result)
        *result = child;
    return false;
}

}  // namespace CorvaneTest
