// Design note. Threads: run()'s thread waits for a stop; the pool threads
// each serve one request at a time; among them one runner waits for
// connections and one watcher for the runner's request to become slow;
// the rest wait for a turn. The stop signals (TERM, QUIT, USR1, HUP) stay
// blocked in every thread but come to run(), which waits for them with
// sigtimedwait:
// libfcgi's own handlers never run, and a stop never interrupts a
// request's calls. A pool thread that stops accepting sends SIGUSR1 to
// run()'s thread. On a stop, run() starts the drain and sends the wake-up
// signal, which each pool thread lets in only while it waits for a
// connection (epoll_pwait), to the threads still running, every 100 ms,
// since one may have been about to wait when the last one came. The
// runner drops the listener, serves what is left, and once no connection
// is pending, returned or held by a thread, ends the drain; the threads
// waiting for a turn are told under the pool's mutex; a request that ends
// in the drain is seen at the next of those wake-ups. The same signal
// tells the runner that a kept connection came back, and tells run()'s
// thread when to shut down the reading side of a request whose variables
// outgrew a look.
// Order: a thread takes connections only while it holds the turn, and the
// turns go to one thread after another, never two at once; requests of
// one connection are served one after another. Locks: mutex_, and in run()
// the threads' own; neither is taken while the other is held.
//
// libfcgi gets a complete connection as the request's descriptor, with
// keepConnection set, so that its finishing of the previous request leaves
// the descriptor open, and with no listening socket: records it fails on
// close the connection and FCGX_Accept_r returns, where it would otherwise
// accept a connection itself.
#include "FastCgiPool.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Ends a wait in accept() or run(); unused by anything else of the gateway.
constexpr int kWakeSignal = SIGUSR2;
constexpr std::chrono::milliseconds kWakeEvery{100};
// In-flight requests end within their own limits (a minute by default);
// one that does not by then is left behind.
constexpr std::chrono::seconds kStopWait{120};
sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGTERM, SIGQUIT, SIGUSR1, SIGHUP})
        sigaddset(&signals, signal);
    return signals;
}

// From now until when, none once it has passed, as sigtimedwait takes it.
timespec timeUntil(std::chrono::steady_clock::time_point when) {
    timespec wait{};
    const auto left = std::max(when - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration::zero());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    wait.tv_sec = static_cast<time_t>(seconds.count());
    wait.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count());
    return wait;
}

// Interrupts the wait it arrives in, nothing more.
extern "C" void onWake(int) {}

// Which pool threads have ended, for run().
struct Threads {
    std::mutex mutex;  // guards ended and stopTaken
    std::condition_variable changed;
    std::vector<bool> ended;
    bool stopTaken = false;  // run() no longer waits for a signal
};

}  // namespace

FastCgiPool::FastCgiPool(int listener, const Options& options)
    : fcgi_(fastCgiLibrary()),
      options_(options),
      arrivals_(listener, options.arrivalLimit, options.maxPending, options.webServers) {
    sigset_t blocked = stopSignals();
    sigaddset(&blocked, kWakeSignal);
    pthread_sigmask(SIG_BLOCK, &blocked, &previousMask_);
    // Every pool thread inherits this thread's mask.
    pthread_sigmask(SIG_BLOCK, nullptr, &waitMask_);
    sigdelset(&waitMask_, kWakeSignal);
    // No flags, so no SA_RESTART: the wait it interrupts returns.
    struct sigaction action {};
    action.sa_handler = onWake;
    sigaction(kWakeSignal, &action, nullptr);
}

FastCgiPool::~FastCgiPool() {
    // Kept ones that came back while a failed listener stopped the runner.
    for (const int fd : returned_)
        ::close(fd);
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

bool FastCgiPool::accept(FCGX_Request& request, Place& place) {
    giveBack(place, request.ipcFd);
    request.ipcFd = -1;
    if (!takeTurn(place))
        return false;
    for (;;) {
        bool large = false;
        const int fd = nextConnection(&large);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (fd == -1) {
                // The process stops: the threads still waiting end too.
                hasRunner_ = false;
                stopping_ = true;
                waiting_.notify_all();
                watch_.notify_all();
                return false;
            }
            busy_ = true;
            busySince_ = Clock::now();
            ++requestsTaken_;
            ++inFlight_;
            place.serving_ = true;
            if (watcherIdle_)
                watch_.notify_one();
        }
        request.ipcFd = fd;
        request.keepConnection = true;
        const bool accepted = fcgi_->accept(&request) >= 0;
        if (large)
            endLargeRead();
        if (accepted)
            return true;
        // libfcgi failed on the records and closed the connection.
        giveBack(place, -1);
        if (!takeTurn(place))
            return false;
    }
}

void FastCgiPool::giveBack(Place& place, int kept) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (place.serving_)
            --inFlight_;
        if (kept == -1)
            return;  // libfcgi closed it, or it was handed over
        if (!stopping_) {
            // The runner takes it, woken from its wait (this thread's own
            // next wait, when it is the runner).
            returned_.push_back(kept);
            pthread_kill(runner_, kWakeSignal);
            return;
        }
    }
    ::close(kept);
}

bool FastCgiPool::takeTurn(Place& place) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (hasRunner_ && place.takenTurn_ == runnerTurn_) {
        busy_ = false;  // its request is over: straight back to accept
        return !stopping_;
    }
    uint64_t requestsSeen = requestsTaken_;
    while (!stopping_) {
        if (!hasRunner_) {
            hasRunner_ = true;
            becomeRunner(place);
            return true;
        }
        if (!hasWatcher_) {
            hasWatcher_ = true;
            place.watching_ = true;
        }
        if (!place.watching_) {
            waiting_.wait(lock);
            continue;
        }
        if (busy_ && Clock::now() - busySince_ >= options_.slowAfter) {
            hasWatcher_ = false;
            place.watching_ = false;
            becomeRunner(place);
            waiting_.notify_one();  // the next watcher
            return true;
        }
        if (busy_) {
            watch_.wait_until(lock, busySince_ + options_.slowAfter);
        } else if (requestsTaken_ != requestsSeen) {
            // Between two requests of a busy runner: look again later
            // rather than have its next request wake this thread.
            requestsSeen = requestsTaken_;
            watch_.wait_for(lock, options_.slowAfter);
        } else {
            watcherIdle_ = true;
            watch_.wait(lock);
            watcherIdle_ = false;
        }
    }
    return false;  // stopping_ stays: no thread watches or waits again
}

void FastCgiPool::becomeRunner(Place& place) {
    place.takenTurn_ = ++runnerTurn_;
    busy_ = false;
    runner_ = pthread_self();
}

void FastCgiPool::startDrain() {
    std::lock_guard<std::mutex> lock(mutex_);
    draining_ = true;
    // run()'s thread times a large read from its drain loop.
    hasStopWaiter_ = false;
}

int FastCgiPool::nextConnection(bool* large) {
    for (;;) {
        if (!takeReturned())
            return -1;
        FastCgiArrivals::Ready ready;
        const FastCgiArrivals::Step step = arrivals_.waitOnce(waitMask_, &ready);
        if (step == FastCgiArrivals::Step::Failed)
            return -1;
        if (step == FastCgiArrivals::Step::Again)
            continue;
        if (!ready.large)
            return ready.fd;
        if (startLargeRead(ready.fd, ready.deadline)) {
            *large = true;
            return ready.fd;
        }
        ::close(ready.fd);
    }
}

bool FastCgiPool::takeReturned() {
    std::unique_lock<std::mutex> lock(mutex_);
    std::vector<int> returned;
    returned.swap(returned_);
    const bool draining = draining_;
    lock.unlock();
    if (draining)
        arrivals_.stopAccepting();
    for (const int fd : returned)
        arrivals_.keepReturned(fd);
    if (!draining || arrivals_.hasPending())
        return true;
    // Nothing left on its way here: the drain ends once no thread holds a
    // connection either (a kept one comes back, with a wake-up, to be seen).
    lock.lock();
    return !returned_.empty() || inFlight_ > 0;
}

bool FastCgiPool::startLargeRead(int fd, Clock::time_point deadline) {
    std::lock_guard<std::mutex> lock(mutex_);
    // One at a time: they are rare, and many would hold as many threads.
    if (largeFd_ != -1)
        return false;
    largeFd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (largeFd_ == -1)
        return false;  // out of descriptors: refused as a second one is
    largeDeadline_ = deadline;
    largeTimed_ = true;
    if (hasStopWaiter_)
        pthread_kill(stopWaiter_, kWakeSignal);
    return true;
}

void FastCgiPool::endLargeRead() {
    std::lock_guard<std::mutex> lock(mutex_);
    ::close(largeFd_);
    largeFd_ = -1;
    largeTimed_ = false;
}

void FastCgiPool::cutLargeReadLocked() {
    if (largeTimed_ && Clock::now() >= largeDeadline_) {
        ::shutdown(largeFd_, SHUT_RD);  // the socket's, through the copy: libfcgi's read returns
        largeTimed_ = false;
    }
}

void FastCgiPool::run(int count, const std::function<void()>& serve) {
    const pthread_t waiter = pthread_self();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hasStopWaiter_ = true;
        stopWaiter_ = waiter;
    }
    Threads state;
    state.ended.resize(static_cast<size_t>(count));  // those of threads never made are never looked at
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        try {
            threads.emplace_back([&state, i, &serve, waiter] {
                serve();
                std::unique_lock<std::mutex> lock(state.mutex);
                state.ended[static_cast<size_t>(i)] = true;
                const bool stopTaken = state.stopTaken;
                lock.unlock();
                state.changed.notify_all();
                // Its accept failed: the process stops. Once run() took a
                // stop, a signal would outlive it, and end the next program.
                if (!stopTaken)
                    pthread_kill(waiter, SIGUSR1);
            });
        } catch (const std::system_error&) {
            break;  // the threads there are serve
        }
    }
    if (threads.empty()) {
        {
            // Nothing times a large read then: it waits for its peer.
            std::lock_guard<std::mutex> lock(mutex_);
            hasStopWaiter_ = false;
        }
        serve();
        return;
    }
    stopSignal_ = waitForStop();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.stopTaken = true;
    }
    startDrain();

    const auto giveUp = Clock::now() + kStopWait;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            cutLargeReadLocked();
        }
        std::unique_lock<std::mutex> lock(state.mutex);
        bool running = false;
        for (size_t i = 0; i < threads.size(); ++i) {
            if (!state.ended[i]) {
                running = true;
                pthread_kill(threads[i].native_handle(), kWakeSignal);
            }
        }
        if (!running)
            break;
        if (Clock::now() >= giveUp)
            std::_Exit(EXIT_FAILURE);  // a request that never ends must not keep the process
        state.changed.wait_for(lock, kWakeEvery);
    }
    for (std::thread& thread : threads)
        thread.join();
}

int FastCgiPool::waitForStop() {
    sigset_t signals = stopSignals();
    sigaddset(&signals, kWakeSignal);
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        cutLargeReadLocked();
        const bool timed = largeTimed_;
        const timespec wait = timeUntil(largeDeadline_);
        lock.unlock();
        const int signal = timed ? sigtimedwait(&signals, nullptr, &wait) : sigwaitinfo(&signals, nullptr);
        if (signal != -1 && signal != kWakeSignal)
            return signal;
    }
}
