// Runs a test again in a new process of this test binary, for what a test
// must not do to the process that runs all the others: settings read once
// per process, user ids, mounts. Use:
//
//     if (!CorvaneTest::inFreshProcess({{"XQ_RTMON", "1"}}))
//         return;  // the parent: the child has run the test and been checked
//     ...          // the child, with the extra environment
#pragma once

#include <map>
#include <string>

#include "support/Process.h"

namespace CorvaneTest {

// In the parent: runs the current test in a child with env added, fails the
// test when the child fails (showing its output) and skips it when the child
// skipped; returns false. In that child: returns true. result, when given,
// receives the child's output.
bool inFreshProcess(const std::map<std::string, std::string>& env = {}, ProcessResult* result = nullptr);

// For a fresh process: a mount namespace of its own whose mounts vanish
// with it. False (with errno) when the system does not allow one.
bool enterPrivateMountNamespace();

// A file system mounted on dir (made when missing) by mount(8), so that
// "-o loop" works too; unmounted again on destruction.
class ScopedMount {
public:
    ScopedMount(const std::string& source, const std::string& dir, const std::string& type,
                const std::string& options);
    ~ScopedMount();
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;

    bool mounted() const { return mounted_; }
    // What mount(8) said when it failed.
    const std::string& error() const { return error_; }

private:
    std::string dir_;
    std::string error_;
    bool mounted_;
};

}  // namespace CorvaneTest
