// Child processes for tests: a program run with a chosen environment,
// working directory and standard input, its output collected; a program
// left running; and a function run in a forked child. Every wait is bounded
// in time.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/LineReader.h"

namespace CorvaneTest {

struct ProcessResult {
    std::string out;
    std::string err;
    int exitStatus = -1;  // -1 when the child did not exit normally
    bool timedOut = false;
};

struct ProcessOptions {
    std::map<std::string, std::string> env;  // the child's whole environment
    std::string cwd;                         // empty: inherit
    std::string input;                       // written to standard input
    int timeoutMs = 30000;                   // the child is killed past this
    std::function<void()> beforeExec;        // runs in the child (to change its ids, say)
};

// argv[0] without a slash is looked up in this process's PATH.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options);

// This process's environment, to pass on with changes.
std::map<std::string, std::string> currentEnvironment();

// Runs body in a forked child, for changes that must stay out of this
// process (ids, namespaces). Its result is the exit status; -1 when the
// child crashed or ran past timeoutMs, and was killed then.
int runInChild(const std::function<int()>& body, int timeoutMs = 30000);

// The wait status of a forked child; a child still running after timeoutMs
// is killed first (and *timedOut set).
int waitForChild(pid_t pid, int timeoutMs = 5000, bool* timedOut = nullptr);

// A child left running (a server); killed and reaped on destruction.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads standard output until a whole line arrives; empty on time-out or end.
    std::string readLine(int timeoutMs);
    // SIGTERM, then SIGKILL if it does not exit within timeoutMs; returns the wait status.
    int stop(int timeoutMs = 5000);
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int outFd_ = -1;
    LineReader out_{-1};  // reads outFd_
};

// The path of a program built into build/bin.
std::string binPath(const std::string& name);
// A path inside the source tree.
std::string sourcePath(const std::string& relative);

}  // namespace CorvaneTest
