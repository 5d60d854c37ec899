// Internal to the gateway.
// The threads of a FastCGI process, and how they stop. Each pool thread
// runs the serving loop (accept a request, serve it, again) until
// accepting fails; the thread that made the pool waits for a stop: SIGTERM
// or SIGUSR1 (libfcgi's stop and graceful restart), or a pool thread whose
// accept failed. Then no thread accepts again: those waiting for a
// connection are woken at once, those serving a request finish it, and
// run() returns once all have ended. Made and run by one thread, the
// process's main one.
#pragma once

#include <fcgiapp.h>
#include <signal.h>

#include <functional>

class FastCgiPool {
public:
    // Blocks the stop signals, and the wake-up of accept(), in the calling
    // thread: every thread made from now on (the pool's, the library's)
    // inherits the block, so that only run() takes a stop.
    FastCgiPool();
    ~FastCgiPool();
    FastCgiPool(const FastCgiPool&) = delete;
    FastCgiPool& operator=(const FastCgiPool&) = delete;

    // Runs serve on count threads (on this one when none can be made),
    // each until it returns, which it does once accept() fails; returns
    // after a stop, when every thread has ended.
    void run(int count, const std::function<void()>& serve);

    // FCGX_Accept_r, which a stop ends at once.
    static int accept(FCGX_Request& request);

private:
    sigset_t previousMask_;
};
