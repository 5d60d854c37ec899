// Internal to the gateway.
// The one thread that times what a process's requests wait for: the server
// operations of its TimeoutCorvaneServerHandles and the bodies of its
// FastCGI requests. Each watched client is stepped when it is watched and
// then at the time it names after each step (every 100 ms unless it says
// otherwise), so that a client waiting for a far deadline costs no wake-up
// until then. A request that starts while the thread is to wake earlier
// anyway does not wake it: a process answering request after request, many
// at once, starts no thread and wakes none per request. The thread starts
// with the first client and stops with the watchdog; a forgotten client's
// wake-up stays due, and only after it does the thread sleep until the
// next watch(). Thread-safe; steps run under the watchdog's lock, so that
// forget() returns only once no step of that client runs, and a step must
// never block or wait for a caller of watch() or forget().
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class RequestWatchdog {
public:
    // What the watchdog steps. step() runs on the watchdog's thread (the
    // first one on the caller of watch()), one at a time.
    class Client {
    public:
        using Clock = std::chrono::steady_clock;
        virtual void step() = 0;
        // When the next step is due, asked after each step; it may come
        // earlier. A step that is not yet needed does nothing.
        virtual Clock::time_point nextStep(Clock::time_point now) const;

    protected:
        ~Client() = default;
    };

    RequestWatchdog() = default;
    ~RequestWatchdog();
    RequestWatchdog(const RequestWatchdog&) = delete;
    RequestWatchdog& operator=(const RequestWatchdog&) = delete;

    // Takes the client's first step now and the next ones on the thread.
    // When no thread can be started the client is not stepped at all.
    void watch(Client& client);
    // Also for a client that watch() could not take.
    void forget(Client& client);

private:
    using Clock = std::chrono::steady_clock;
    struct Watched {
        Client* client;
        Clock::time_point nextStep;
    };

    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Watched> watched_;
    // When the thread wakes next by itself, also for a client forgotten
    // since; max while it waits for a client.
    Clock::time_point wakeAt_ = Clock::time_point::max();
    bool stopping_ = false;
    std::thread thread_;  // started by the first watch()
};
