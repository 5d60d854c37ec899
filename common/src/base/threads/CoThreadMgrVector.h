// Internal to corvane_base.
// The list-based part of the thread manager: the registry of thread objects
// and what works on it (find, add, remove, uninitialise, dump).
//
// Locking: listMutex_ guards threads_ only. It is never held while a
// thread's own lock is taken, while a thread is cancelled or destroyed, or
// while posting; a thread may hold its own lock while it adds or removes
// itself here.
#pragma once

#include <vector>

#include "base/threads/CoMutex.h"
#include "base/threads/CoThreadMgr.h"

namespace Corvane {

class CoThreadMgrVector : public CoThreadMgr {
public:
    CoThread* findThread(CoThread::ThreadId id) override;
    CoThread* findThread(const char* name) override;
    void addThread(CoThread* thread) override;
    void removeThread(CoThread* thread) override;
    void uninitialise() override;
    void dump(std::ostream& out) override;

private:
    CoMutex listMutex_;               // guards threads_
    std::vector<CoThread*> threads_;  // registration order; not owned until uninitialise()
};

}  // namespace Corvane
