#include "base/threads/CoThreadMgr.h"

#include <atomic>
#include <cassert>
#include <cstdlib>

#include "base/loggerBase/CoMsg.h"
#include "base/threads/CoThreadMgrPthread.h"
#include "base/threads/SimpleTask.h"

namespace Corvane {

namespace {

// Set once the manager exists. The pid callback reads it here rather than
// through instance(): installing the callback calls it, and that happens
// while instance() is still initialising.
std::atomic<CoThreadMgr*> gManager{nullptr};

int currentThreadPid() { return static_cast<int>(gManager.load()->getCurrentThreadId()); }

void uninitialiseAtExit() { CoThreadMgr::instance().uninitialise(); }

CoThreadMgr* startManager() {
    // Never deleted: threads and exit handlers may still reach it while
    // the process ends.
    CoThreadMgr* mgr = new CoThreadMgrPthread(CoThreadMgrPthread::initialThreadId());
    // The initial thread's own object; registered, so the manager owns it.
    mgr->createThread(nullptr, "Main Thread", CoThread::MAIN_THREAD, CoThread::POLICY_TS, CoThread::PRIORITY_MIN, -1,
                      true);
    std::atexit(&uninitialiseAtExit);
    gManager.store(mgr);
    CoMsg::setPIDCallback(&currentThreadPid);
    return mgr;
}

}  // namespace

CoThreadMgr& CoThreadMgr::instance() {
    static CoThreadMgr* const mgr = startManager();
    return *mgr;
}

CoThread& CoThreadMgr::createThread(const char* name, void (*fn)(void*), void* arg, bool quiet) {
    CoThread* handle = instance().createThread(new SimpleTask(fn, arg), name, CoThread::NEW_THREAD, CoThread::POLICY_TS,
                                               CoThread::PRIORITY_MIN, -1, quiet);
    assert(handle != 0 && "handle != 0");
    handle->start();
    return *handle;
}

}  // namespace Corvane
