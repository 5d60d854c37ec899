// Design note. SIGTERM and SIGUSR1 stay blocked in every thread but come
// to run(), which waits for them with sigwait: libfcgi's own handlers never
// run, and a stop never interrupts a request's calls. A pool thread that
// stops accepting sends SIGUSR1 to run()'s thread. On a stop, run() tells
// libfcgi (FCGX_ShutdownPending), so that no accept starts again, and sends
// the wake-up signal, which each pool thread lets in only while it waits in
// accept(), to the threads still running, every 100 ms, since one may have
// been about to wait when the last one came; the threads waiting for a turn
// are told under the pool's mutex. Lock order: none nest.
#include "FastCgiPool.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Ends a wait in accept(); unused by anything else of the gateway.
constexpr int kWakeSignal = SIGUSR2;
constexpr std::chrono::milliseconds kWakeEvery{100};
// In-flight requests end within their own limits (a minute by default);
// one that does not by then is left behind.
constexpr std::chrono::seconds kStopWait{120};

sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    return signals;
}

sigset_t wakeSignal() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, kWakeSignal);
    return signals;
}

// Interrupts the accept it arrives in, nothing more.
extern "C" void onWake(int) {}

// Which pool threads have ended, for run().
struct Threads {
    std::mutex mutex;  // guards ended
    std::condition_variable changed;
    std::vector<bool> ended;
};

}  // namespace

FastCgiPool::FastCgiPool(std::chrono::milliseconds slowAfter) : slowAfter_(slowAfter) {
    sigset_t blocked = stopSignals();
    sigaddset(&blocked, kWakeSignal);
    pthread_sigmask(SIG_BLOCK, &blocked, &previousMask_);
    // Without SA_RESTART: the accept it interrupts returns.
    struct sigaction action {};
    action.sa_handler = onWake;
    sigemptyset(&action.sa_mask);
    sigaction(kWakeSignal, &action, nullptr);
}

FastCgiPool::~FastCgiPool() { pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr); }

int FastCgiPool::accept(FCGX_Request& request, Place& place) {
    if (!takeTurn(place))
        return -1;
    const sigset_t wake = wakeSignal();
    pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
    const int accepted = FCGX_Accept_r(&request);
    pthread_sigmask(SIG_BLOCK, &wake, nullptr);
    std::lock_guard<std::mutex> lock(mutex_);
    if (accepted < 0) {
        // The process stops; a thread still waiting may find that out.
        hasRunner_ = false;
        waiting_.notify_all();
        return accepted;
    }
    busy_ = true;
    busySince_ = Clock::now();
    ++started_;
    if (watcherIdle_)
        watch_.notify_one();
    return accepted;
}

bool FastCgiPool::takeTurn(Place& place) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (hasRunner_ && place.turn_ == turn_) {
        busy_ = false;  // its request is over: straight back to accept
        return !stopping_;
    }
    unsigned long seen = started_;  // the runner's requests, as last seen
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
        if (busy_ && Clock::now() - busySince_ >= slowAfter_) {
            hasWatcher_ = false;
            place.watching_ = false;
            becomeRunner(place);
            waiting_.notify_one();  // the next watcher
            return true;
        }
        if (busy_) {
            watch_.wait_until(lock, busySince_ + slowAfter_);
        } else if (started_ != seen) {
            // Between two requests of a busy runner: look again later
            // rather than have its next request wake this thread.
            seen = started_;
            watch_.wait_for(lock, slowAfter_);
        } else {
            watcherIdle_ = true;
            watch_.wait(lock);
            watcherIdle_ = false;
        }
    }
    if (place.watching_) {
        hasWatcher_ = false;
        place.watching_ = false;
    }
    return false;
}

void FastCgiPool::becomeRunner(Place& place) {
    place.turn_ = ++turn_;
    busy_ = false;
}

void FastCgiPool::stopTurns() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    waiting_.notify_all();
    watch_.notify_all();
}

void FastCgiPool::run(int count, const std::function<void()>& serve) {
    const pthread_t waiter = pthread_self();
    Threads state;
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            state.ended.push_back(false);
        }
        try {
            threads.emplace_back([&state, i, &serve, waiter] {
                serve();
                {
                    std::lock_guard<std::mutex> lock(state.mutex);
                    state.ended[static_cast<size_t>(i)] = true;
                }
                state.changed.notify_all();
                pthread_kill(waiter, SIGUSR1);  // its accept failed: the process stops
            });
        } catch (const std::system_error&) {
            std::lock_guard<std::mutex> lock(state.mutex);
            state.ended.pop_back();
            break;  // the threads there are serve
        }
    }
    if (threads.empty()) {
        serve();
        return;
    }
    const sigset_t stop = stopSignals();
    int signal = 0;
    sigwait(&stop, &signal);
    FCGX_ShutdownPending();
    stopTurns();

    const auto giveUp = std::chrono::steady_clock::now() + kStopWait;
    std::unique_lock<std::mutex> lock(state.mutex);
    for (;;) {
        bool running = false;
        for (size_t i = 0; i < threads.size(); ++i) {
            if (!state.ended[i]) {
                running = true;
                pthread_kill(threads[i].native_handle(), kWakeSignal);
            }
        }
        if (!running)
            break;
        if (std::chrono::steady_clock::now() >= giveUp)
            std::_Exit(1);  // a request that never ends must not keep the process
        state.changed.wait_for(lock, kWakeEvery);
    }
    lock.unlock();
    for (std::thread& thread : threads)
        thread.join();
}
