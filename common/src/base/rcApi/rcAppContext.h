// Multiplexes the I/O handlers of a server context: one dispatch pass waits
// until a registered descriptor is ready (or the cancel pipe is written, or
// the time-out passes) and calls the ready handlers.
//
// Design note. Passes run on one thread, the owner's (for the event monitor,
// its own thread); handlers are called on it and may register or unregister
// handlers while they run. cancel() may come from any thread: it only writes
// one byte to a non-blocking pipe, which wakes the waiting pass. The
// handlers are not owned. handlers_ is guarded by mutex_, which is never
// held while a handler runs.
#pragma once

#include <cstddef>
#include <vector>

#include "base/tcp/CoIoHandler.h"
#include "base/threads/CoMutex.h"

struct pollfd;

namespace Corvane {

class rcAppContext {
public:
    rcAppContext();
    virtual ~rcAppContext();
    rcAppContext(const rcAppContext&) = delete;
    rcAppContext& operator=(const rcAppContext&) = delete;

    // A handler already registered is not added twice.
    void registerIOHandler(CoIoHandler* io);
    void unregisterIOHandler(CoIoHandler* io);
    bool isRegistered(const CoIoHandler* io) const;
    size_t handlerCount() const;

    // Wakes the pass that is waiting, or the next one.
    void cancel();

    // One dispatch pass: waits up to timeoutMs (without limit when
    // negative), then calls handleReadable/handleWritable of the ready
    // handlers, the last registered first; a false result unregisters the
    // handler. Handlers whose descriptor is gone get descriptorLost() and
    // are unregistered first. Returns the number of ready descriptors, 0 on
    // time-out, cancel or signal, -1 when the wait failed.
    int callIOHandler(int timeoutMs = -1);

private:
    mutable CoMutex mutex_;  // guards handlers_
    std::vector<CoIoHandler*> handlers_;
    int cancelRead_ = -1;
    int cancelWrite_ = -1;

    // Working storage of a pass, reused to spare allocations; touched only
    // by the dispatching thread.
    std::vector<CoIoHandler*> ready_;
    std::vector<CoIoHandler*> lost_;
    std::vector<struct pollfd> fds_;
};

}  // namespace Corvane
