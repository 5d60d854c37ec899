// Internal to the gateway.
// The threads of a FastCGI process, and how they stop. Each pool thread
// runs the serving loop (accept a request, serve it, again) until
// accepting fails; the thread that made the pool waits for a stop: SIGTERM
// or SIGUSR1 (libfcgi's stop and graceful restart), or a pool thread whose
// accept failed. Then no thread accepts again: those waiting for a
// connection are woken at once, those serving a request finish it, and
// run() returns once all have ended. Made and run by one thread, the
// process's main one; accept() is thread-safe.
//
// One pool thread at a time takes connections, and goes on taking them
// while its requests end quickly; the others wait. A request busy for
// longer than a few milliseconds (a slow server, a withheld body) hands
// the turn to a waiting thread, so that it holds the others up by that
// long at most. Were every thread waiting in accept(), each connection
// would wake a sleeping thread while the one just finished went to sleep,
// and the requests of a process would queue on the call lock of their
// server's one shared connection: three context switches a request
// instead of one or two.
#pragma once

#include <fcgiapp.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

class FastCgiPool {
public:
    // A request of a local server ends within a fraction of this, even on
    // a busy machine; a slow one holds the next connection back this long.
    static constexpr std::chrono::milliseconds kSlowAfter{2};

    // Blocks the stop signals, and the wake-up of accept(), in the calling
    // thread: every thread made from now on (the pool's, the library's)
    // inherits the block, so that only run() takes a stop. A request busy
    // for slowAfter hands the turn on.
    explicit FastCgiPool(std::chrono::milliseconds slowAfter = kSlowAfter);
    ~FastCgiPool();
    FastCgiPool(const FastCgiPool&) = delete;
    FastCgiPool& operator=(const FastCgiPool&) = delete;

    // Runs serve on count threads (on this one when none can be made),
    // each until it returns, which it does once accept() fails; returns
    // after a stop, when every thread has ended.
    void run(int count, const std::function<void()>& serve);

    // A pool thread's place in the turn to take connections. Each thread
    // keeps its own for as long as it serves.
    class Place {
        friend class FastCgiPool;
        uint64_t turn_ = 0;  // the last turn it took; the runner's is turn_
        bool watching_ = false;
    };

    // Waits for place's turn, then FCGX_Accept_r; ends the request place
    // served before. A stop ends either wait at once: -1.
    int accept(FCGX_Request& request, Place& place);

private:
    using Clock = std::chrono::steady_clock;

    bool takeTurn(Place& place);
    void becomeRunner(Place& place);
    void stopTurns();

    sigset_t previousMask_;
    const std::chrono::milliseconds slowAfter_;

    std::mutex mutex_;  // guards what follows
    // The threads waiting for a turn; one of them, the watcher, waits on
    // watch_ instead, for the runner's request to become slow.
    std::condition_variable waiting_;
    std::condition_variable watch_;
    uint64_t turn_ = 0;       // the runner's turn; each new runner takes the next
    bool hasRunner_ = false;  // a thread holds turn_
    bool busy_ = false;       // the runner serves a request, since busySince_
    Clock::time_point busySince_;
    unsigned long started_ = 0;  // requests the runners took
    bool hasWatcher_ = false;
    bool watcherIdle_ = false;  // the watcher sleeps until the runner's next request
    bool stopping_ = false;
};
