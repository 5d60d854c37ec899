// Runs a test again in a new process of this test binary, for what a test
// must not do to the process that runs all the others: settings read once
// per process, user ids, mounts.
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

// For a fresh process: a mount namespace of its own; its mounts vanish with it.
bool enterPrivateMountNamespace();

// A file system mounted on dir (made when missing) by mount(8), so that
// "-o loop" works too; unmounted on destruction.
class ScopedMount {
public:
    ScopedMount(const std::string& source, const std::string& dir, const std::string& type,
                const std::string& options);
    ~ScopedMount();
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;

    bool mounted() const { return result_.exitStatus == 0; }
    const std::string& error() const { return result_.err; }

private:
    std::string dir_;
    ProcessResult result_;
};

}  // namespace CorvaneTest
