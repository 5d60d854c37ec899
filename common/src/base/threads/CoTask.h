// A unit of work run by a CoThread. The thread owns its task and deletes it
// with itself. run() executes on the new thread; stop() is called from
// another thread to ask run() to end early and must not wait for it.
#pragma once

namespace Corvane {

class CoThread;

class CoTask {
public:
    virtual ~CoTask() = default;

    virtual void run(CoThread& thread) = 0;
    // Only asks; a task that can be told to end overrides it.
    virtual void stop(CoThread& /*thread*/) {}
};

}  // namespace Corvane
