// A corvane-sim process for tests: started on a free loopback port (or a
// given one) with a tree file, its calls logged to a file, stopped on
// destruction.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"

namespace CorvaneTest {

class SimProcess {
public:
    // tree: the tree file's text; options: extra command-line options;
    // beforeExec: runs in the child first (to move it into a virtual host).
    explicit SimProcess(const std::string& tree, const std::vector<std::string>& options = {}, int port = 0,
                        const std::function<void()>& beforeExec = nullptr);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // False when the process did not report a port.
    bool started() const { return port_ > 0; }
    int port() const { return port_; }
    pid_t pid() const { return process_ ? process_->pid() : -1; }
    // "127.0.0.1:PORT"
    std::string host() const;
    // The calls received so far, one "Method args" line each.
    std::vector<std::string> calls() const;
    // Calls whose line starts with method followed by a blank.
    std::vector<std::string> calls(const std::string& method) const;
    void clearCalls() const;
    // SIGTERM and wait; the wait status, -1 when already stopped.
    int stop();

    // A small tree: / with an "info" stream naming the administrators
    // demo and admin, /media with a clip, /scratch.
    static const char* demoTree();

private:
    TempDir dir_;
    std::unique_ptr<ChildProcess> process_;
    int port_ = 0;
};

}  // namespace CorvaneTest
