// Internal to the gateway.
// The threads of a FastCGI process, the connections they take, and how
// they stop. Each pool thread runs the serving loop (accept a request,
// serve it, again) until accepting fails; the thread that made the pool
// waits for a stop: SIGTERM or SIGUSR1 (libfcgi's stop and graceful
// restart), or a pool thread whose accept failed. Then no thread accepts
// again: those waiting for a connection are woken at once, those serving a
// request finish it, and run() returns once all have ended. Made and run
// by one thread, the process's main one; accept() is thread-safe.
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
//
// The thread whose turn it is accepts connections itself and keeps those
// whose request has not arrived up to the end of its variables aside,
// watching them beside the listening socket: a client that connects and
// sends nothing, or a byte, holds no thread. Only a connection whose
// records are all there goes to libfcgi, which reads them without
// waiting. One that takes longer than arrivalLimit is closed, and so is
// the oldest one when maxPending wait; a connection whose records break
// the order a web server sends them in is closed at once. A kept
// connection (the web server asked for it) waits there for its next
// request too.
#pragma once

#include <fcgiapp.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

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
        size_t maxPending = kMaxPending;
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

    // A pool thread's place in the turn to take connections. Each thread
    // keeps its own for as long as it serves.
    class Place {
        friend class FastCgiPool;
        uint64_t turn_ = 0;  // the last turn it took; the runner's is turn_
        bool watching_ = false;
    };

    // Waits for place's turn and for a connection whose request has
    // arrived, then reads the request with FCGX_Accept_r. request was
    // finished (FCGX_Finish_r) since the last call; the connection it
    // kept, if any, waits for its next request. A stop ends either wait at
    // once: -1.
    int accept(FCGX_Request& request, Place& place);

private:
    // A connection whose request has not arrived yet.
    struct Pending {
        int fd;
        Clock::time_point deadline;
        size_t needBytes;  // what must be there before it is worth a look
        bool kept;         // it carried a request before
    };
    enum class Arrival { Waiting, Complete, Large, Broken };

    bool takeTurn(Place& place);
    void becomeRunner(Place& place);
    void stopTurns();
    int nextConnection(bool* large);
    bool takeReturned();
    bool acceptOne(int* complete, bool* large);
    Arrival look(Pending& pending);
    static Arrival scan(const uint8_t* bytes, size_t size, bool kept, size_t* needBytes, size_t* staleBytes);
    int handOn(int fd, Arrival arrival, Clock::time_point deadline, bool* large);
    bool peerAllowed(int fd) const;
    void giveBack(const Place& place, int kept);
    void keep(const Pending& pending);
    void pauseListener(bool paused);
    void drop(size_t index);
    int takeOut(size_t index);
    void closeLate();
    int waitMs() const;
    bool startLargeRead(int fd, Clock::time_point deadline);
    void endLargeRead();
    void cutLargeReadLocked(bool always);
    void waitForStop();

    sigset_t previousMask_;
    const int listener_;
    const Options options_;
    const bool checkPeers_;                         // webServers names any
    std::vector<std::vector<uint8_t>> webServers_;  // raw addresses, 4 or 16 bytes
    int epoll_ = -1;  // the listener and the pending connections

    // The runner's alone; the next runner's once the turn passed.
    std::deque<Pending> pending_;  // oldest first
    std::vector<uint8_t> peek_;
    Clock::time_point listenerPausedUntil_{};
    bool listenerPaused_ = false;

    std::mutex mutex_;  // guards what follows
    // The threads waiting for a turn; one of them, the watcher, waits on
    // watch_ instead, for the runner's request to become slow.
    std::condition_variable waiting_;
    std::condition_variable watch_;
    uint64_t turn_ = 0;       // the runner's turn; each new runner takes the next
    bool hasRunner_ = false;  // a thread holds turn_
    pthread_t runner_{};      // that thread, while hasRunner_
    bool busy_ = false;       // the runner serves a request, since busySince_
    Clock::time_point busySince_;
    unsigned long started_ = 0;  // requests the runners took
    bool hasWatcher_ = false;
    bool watcherIdle_ = false;  // the watcher sleeps until the runner's next request
    bool stopping_ = false;
    std::vector<int> returned_;  // kept connections for the runner to take
    // The one connection whose variables outgrew a look, while libfcgi
    // reads them: a copy of its descriptor, for run()'s thread to shut its
    // reading side down at largeDeadline_.
    int largeFd_ = -1;
    Clock::time_point largeDeadline_;
    bool largeCut_ = false;  // its reading side is shut down
    bool hasWaiter_ = false;  // run()'s thread, waiter_, times that read
    pthread_t waiter_{};
};
