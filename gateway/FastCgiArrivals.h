// Internal to the gateway.
// The connections of a FastCGI listener whose request has not arrived yet:
// takes them from the listener and watches them, beside it, in one epoll
// set until the records that open a request are all there, so that a
// client that connects and sends nothing, or a byte, holds no thread. A
// connection that takes longer than its arrival limit is closed, and so is
// the oldest one when maxPending wait; one whose records break the order a
// web server sends them in is closed at once. After stopAccepting() the
// connections already taken still arrive, each within its limit, but a
// kept one with no request on its way is closed. Owns the epoll set and the
// connections in it, not the listener. Used by one thread at a time (the
// pool's runner); the next runner takes over what it left.
//
// The listener is level-triggered and the connections edge-triggered, so
// that a request trickling in a byte at a time wakes the runner once a
// byte rather than for as long as the bytes sit unread. Each wait takes
// one event: those it has not handled stay with epoll for the next wait. A
// connection's bytes are looked at (FIONREAD, then a peek from the start)
// only once enough have come for the record it waits for.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "FastCgiPeers.h"
#include "FastCgiRecords.h"

class FastCgiArrivals {
public:
    using Clock = std::chrono::steady_clock;

    // A connection whose request's records are there: the caller owns fd.
    struct Ready {
        int fd = -1;
        bool large = false;  // its variables go past a look: libfcgi waits for the rest
        Clock::time_point deadline;
    };
    enum class Step { Ready, Again, Failed };

    // Takes connections on listener, which it makes non-blocking, from the
    // peers webServers lists (all when empty). A connection has
    // arrivalLimit from its acceptance to send its request's variables;
    // maxPending is at least 1.
    FastCgiArrivals(int listener, std::chrono::milliseconds arrivalLimit, size_t maxPending,
                    const std::string& webServers);
    ~FastCgiArrivals();
    FastCgiArrivals(const FastCgiArrivals&) = delete;
    FastCgiArrivals& operator=(const FastCgiArrivals&) = delete;

    // Watches fd, a connection that carried a request before, for its next
    // one, with a fresh arrival limit. Takes fd over.
    void keepReturned(int fd);

    // Takes no more connections from the listener (a stop), and closes the
    // kept connections that have no request on their way.
    void stopAccepting();
    // True while a connection taken waits for its request.
    bool hasPending() const { return !pending_.empty(); }

    // Waits for one event, with waitMask as the signal mask meanwhile (a
    // signal let in ends the wait), or for the next connection's deadline,
    // and handles it. Ready fills *ready; Again when nothing is ready yet;
    // Failed when the listener or the set is gone or was never there.
    Step waitOnce(const sigset_t& waitMask, Ready* ready);

private:
    // A connection whose request has not arrived yet.
    struct Pending {
        int fd;
        Clock::time_point deadline;
        size_t needBytes;  // what must be there before it is worth a look
        bool kept;         // it carried a request before
    };

    Step acceptOne(Ready* ready);
    FastCgiArrival look(Pending& pending);
    void keep(const Pending& pending);
    void drop(size_t index);
    int takeOut(size_t index);
    void closeLate();
    int waitMs() const;

    const int listener_;
    const std::chrono::milliseconds arrivalLimit_;
    const size_t maxPending_;
    const FastCgiPeers peers_;
    int epoll_ = -1;               // the listener and the pending connections
    std::deque<Pending> pending_;  // oldest first
    std::vector<uint8_t> peek_;
    bool accepting_ = true;
};
