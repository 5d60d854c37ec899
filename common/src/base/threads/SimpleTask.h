// Internal to corvane_base.
// The task CoThreadMgr::createThread builds: calls a plain function with one
// opaque argument. Neither is owned; the caller keeps the argument alive
// until the thread has been waited for or cancelled.
#pragma once

#include "base/threads/CoTask.h"

namespace Corvane {

class SimpleTask : public CoTask {
public:
    typedef void (*Function)(void* arg);

    SimpleTask(Function function, void* arg) : function_(function), arg_(arg) {}

    void run(CoThread& /*thread*/) override { function_(arg_); }

private:
    Function function_;
    void* arg_;
};

}  // namespace Corvane
