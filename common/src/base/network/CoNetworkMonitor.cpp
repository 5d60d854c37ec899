// Design: one process-wide state (observer list and the running platform
// implementation) under one monitor lock. The monitor thread calls trigger()
// after a change; trigger() holds the monitor lock while it calls the active
// observers, in registration order. The implementation starts, under the
// lock, once the layer is initialised and someone observes: a process that
// never watches interfaces (a CGI reading one account file) does not pay
// for a thread and a routing socket. uninit() takes the implementation out under the lock but stops
// it after releasing it: the thread may be waiting for that lock in
// trigger(), and stopping joins the thread.
//
// Exit: programs forget their last CoNetwork::uninit. An exit handler,
// registered after the thread manager exists and so run before the
// manager's own, stops the monitor as the last uninit would; the manager
// never finds the thread running. The state itself is never destroyed, so
// an observer or a late uninit in another static destructor still finds it.
#include "base/network/CoNetworkMonitor.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <memory>
#include <vector>

#include "base/loggerBase/CoMsg.h"
#include "base/network/CoNetworkMonitorImpl.h"
#include "base/threads/CoLockGuard.h"
#include "base/threads/CoMutex.h"
#include "base/threads/CoThread.h"
#include "base/threads/CoThreadMgr.h"

namespace Corvane {

namespace {

struct MonitorState {
    CoMutex mutex;             // guards the two fields below and every Observer::active_
    bool initialised = false;  // between CoNetwork's first init and last uninit
    std::unique_ptr<CoNetworkMonitorImpl> impl;
    std::vector<CoNetworkMonitor::Observer*> observers;  // registration order
};

MonitorState& state() {
    static MonitorState* const monitorState = new MonitorState;
    return *monitorState;
}

// Under s.mutex.
void startWhenWanted(MonitorState& s, void (*trigger)()) {
    if (s.impl || !s.initialised || s.observers.empty())
        return;
    s.impl = CoNetworkMonitorImpl::create(trigger);
    s.impl->start();
}

}  // namespace

CoNetworkMonitor::Observer::Observer() {
    MonitorState& s = state();
    CoLockGuard guard(s.mutex);
    s.observers.push_back(this);
    startWhenWanted(s, &CoNetworkMonitor::trigger);
}

CoNetworkMonitor::Observer::~Observer() {
    MonitorState& s = state();
    CoLockGuard guard(s.mutex);
    s.observers.erase(std::remove(s.observers.begin(), s.observers.end(), this), s.observers.end());
}

void CoNetworkMonitor::Observer::activate() {
    MonitorState& s = state();
    CoLockGuard guard(s.mutex);
    active_ = true;
}

void CoNetworkMonitor::Observer::deactivate() {
    MonitorState& s = state();
    CoLockGuard guard(s.mutex);  // a trigger in progress holds it until its calls end
    active_ = false;
}

void CoNetworkMonitor::init() {
    CoThreadMgr::instance();  // registers its exit handler before ours
    static const bool stopsAtExit = std::atexit(&CoNetworkMonitor::uninit) == 0;
    (void)stopsAtExit;
    MonitorState& s = state();
    CoLockGuard guard(s.mutex);
    assert(!s.impl && "_impl == 0");
    s.initialised = true;
    startWhenWanted(s, &CoNetworkMonitor::trigger);
}

void CoNetworkMonitor::uninit() {
    std::unique_ptr<CoNetworkMonitorImpl> impl;
    {
        MonitorState& s = state();
        CoLockGuard guard(s.mutex);
        s.initialised = false;
        impl.swap(s.impl);
    }
    if (!impl)
        return;
    impl->stop();
    impl.reset();  // closes the routing socket
}

void CoNetworkMonitor::trigger() {
    CO_DEBUG("Network topology changed");
    MonitorState& s = state();
    CoLockGuard guard(s.mutex);
    for (Observer* observer : s.observers)
        if (observer->active_)
            observer->callback();
}

void CoNetworkMonitorImpl::execute(void* impl) {
    assert(impl && "impl");
    static_cast<CoNetworkMonitorImpl*>(impl)->run();
}

void CoNetworkMonitorImpl::start() {
    assert(!thread_ && "!thread_");
    thread_.reset(&CoThreadMgr::createThread("CoNetworkMonitor Thread", &CoNetworkMonitorImpl::execute, this, false));
}

void CoNetworkMonitorImpl::stop() {
    if (!thread_)
        return;
    wake();
    thread_->wait();
    thread_.reset();
}

}  // namespace Corvane
