// Runs a test again in a new process of this test binary, for what a test
// must not do to the process that runs all the others: settings read once
// per process, libraries loaded, network namespaces.
#pragma once

#include <map>
#include <string>

#include "support/Process.h"

namespace CorvaneTest {

// In the parent: runs the current test in a child with env added, fails
// the test when the child fails and skips it when the child skipped, and
// returns false. In that child: returns true. result gets the child's output.
//     if (!inFreshProcess({{"XQ_RTMON", "1"}})) return;
bool inFreshProcess(const std::map<std::string, std::string>& env = {}, ProcessResult* result = nullptr);

}  // namespace CorvaneTest
