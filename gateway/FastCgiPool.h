// Internal to the gateway.
// The threads of a FastCGI process: which of them takes the next
// connection, and how they stop. Each pool thread runs the serving loop
// (ask accept() for a request, serve it, again) until accept() fails; the
// thread that made the pool waits in run() for a stop: SIGTERM, SIGQUIT,
// SIGUSR1 or SIGHUP, or a pool thread whose accept() failed. Then the pool
// takes no new connection but still serves every one it took: requests in
// progress end, connections whose request is on its way get it within
// their arrival limit, and kept ones with none on its way are closed. Once
// none is left, accept() fails for every thread, and run() returns once
// all have ended. Made and run by one thread, the process's main one;
// accept() is thread-safe. The pool owns the
// connections waiting for a request (FastCgiArrivals) and those handed
// back between two requests; a connection it hands out belongs to the
// request until the next accept() takes it back.
//
// One pool thread at a time, the runner, takes connections, and goes on
// taking them while its requests end quickly; the others wait. A request
// busy for longer than a few milliseconds (a slow server, a withheld body)
// hands the turn to a waiting thread, so that it holds the others up by
// that long at most. Were every thread waiting for connections, each one
// would wake a sleeping thread while the one just finished went to sleep,
// and the requests of a process would queue on the call lock of their
// server's one shared connection: three context switches a request
// instead of one or two. A kept connection (the web server asked for it)
// goes back to the runner to wait for its next request.
#pragma once

#include <fcgiapp.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "FastCgiArrivals.h"
#include "FastCgiLibrary.h"

class FastCgiPool {
public:
    using Clock = std::chrono::steady_clock;

    // A request of a local server ends within a fraction of this, even on
    // a busy machine; a slow one holds the next connection back this long.
    static constexpr std::chrono::milliseconds kSlowAfter{2};
    // Far more connections than a web server opens at once while their
    // records are on their way, and far fewer than the descriptors a
    // process may hold.
    static constexpr size_t kMaxPending = 128;

    struct Options {
        // A request busy this long hands the turn on.
        std::chrono::milliseconds slowAfter = kSlowAfter;
        // How long a connection may take, from its acceptance, to send its
        // request's variables.
        std::chrono::milliseconds arrivalLimit{30000};
        // The peers a TCP listener takes connections from, addresses
        // separated by commas (FCGI_WEB_SERVER_ADDRS); empty for any.
        std::string webServers;
        size_t maxPending = kMaxPending;  // at least 1
    };

    // Takes connections on listener, which it makes non-blocking. Blocks
    // the stop signals, and the wake-up of accept(), in the calling
    // thread: every thread made from now on (the pool's, the library's)
    // inherits the block, so that only run() takes a stop.
    FastCgiPool(int listener, const Options& options);
    ~FastCgiPool();
    FastCgiPool(const FastCgiPool&) = delete;
    FastCgiPool& operator=(const FastCgiPool&) = delete;

    // Runs serve on count threads (on this one when none can be made),
    // each until it returns, which it does once accept() fails; returns
    // after a stop, when every thread has ended.
    void run(int count, const std::function<void()>& serve);
    // The signal that stopped run(); SIGUSR1 when a pool thread did.
    int stopSignal() const { return stopSignal_; }

    // A pool thread's place in the turn to take connections. Each thread
    // keeps its own for as long as it serves.
    class Place {
        friend class FastCgiPool;
        // The turn it took last; it runs while that is runnerTurn_.
        uint64_t takenTurn_ = 0;
        bool watching_ = false;  // it is the pool's watcher
        // It took a connection: each later accept(), and each read libfcgi
        // fails, gives one back.
        bool serving_ = false;
    };

    // Waits for place's turn and for a connection whose request has
    // arrived, then reads the request with FCGX_Accept_r. request was made
    // on no listening socket (-1), and finished (FCGX_Finish_r) since the
    // last call; the connection it kept, if any, waits for its next
    // request. Once a stop has served what was taken, either wait ends at
    // once: false, and place is done. libfcgi is loaded (the caller saw
    // fastCgiLibrary() succeed).
    bool accept(FCGX_Request& request, Place& place);

private:
    bool takeTurn(Place& place);
    void becomeRunner(Place& place);
    void startDrain();
    int nextConnection(bool* large);
    bool takeReturned();
    void giveBack(Place& place, int kept);
    bool startLargeRead(int fd, Clock::time_point deadline);
    void endLargeRead();
    void cutLargeReadLocked();
    int waitForStop();

    sigset_t previousMask_;
    // The pool threads' mask with the wake-up let in: theirs while they
    // wait for a connection.
    sigset_t waitMask_;
    int stopSignal_ = 0;  // run()'s thread only
    const FastCgiLibrary* const fcgi_;
    const Options options_;
    // The runner's alone; the next runner's once the turn passed.
    FastCgiArrivals arrivals_;

    std::mutex mutex_;  // guards what follows
    // The threads waiting for a turn; one of them, the watcher, waits on
    // watch_ instead, for the runner's request to become slow.
    std::condition_variable waiting_;
    std::condition_variable watch_;
    uint64_t runnerTurn_ = 0;  // the runner's turn; each new runner takes the next
    bool hasRunner_ = false;   // a thread holds runnerTurn_
    pthread_t runner_{};       // that thread, while hasRunner_
    bool busy_ = false;        // the runner serves a request, since busySince_
    Clock::time_point busySince_;
    uint64_t requestsTaken_ = 0;  // by all runners so far
    bool hasWatcher_ = false;
    bool watcherIdle_ = false;  // the watcher sleeps until the runner's next request
    bool draining_ = false;  // a stop came: serve what was taken, take nothing new
    bool stopping_ = false;  // nothing is left to serve: every thread ends
    size_t inFlight_ = 0;    // connections pool threads hold, kept ones in returned_ aside
    std::vector<int> returned_;  // kept connections for the runner to take
    // The one connection whose variables outgrew a look, while libfcgi
    // reads them: a copy of its descriptor, for run()'s thread to shut its
    // reading side down at largeDeadline_.
    int largeFd_ = -1;
    Clock::time_point largeDeadline_;
    bool largeTimed_ = false;     // it runs, its reading side not shut down yet
    bool hasStopWaiter_ = false;  // run()'s thread, stopWaiter_, times that read
    pthread_t stopWaiter_{};
};
