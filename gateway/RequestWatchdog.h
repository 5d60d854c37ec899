// Internal to the gateway.
// The one thread that times what a process's requests wait for: the server
// operations of its TimeoutCorvaneServerHandles and the bodies of its
// FastCGI requests. Each watched client gets a step every 100 ms from the
// moment it is watched, as if it had a watchdog thread of its own; a
// process that answers request after request, many at once, then does not
// start and end a thread per request. The thread starts with the first
// client, sleeps while none is watched, and stops with the watchdog.
// Thread-safe; steps run under the watchdog's lock, so that forget()
// returns only once no step of that client runs, and a step must never
// block or wait for a caller of watch() or forget().
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
        virtual void step() = 0;

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
    // When the thread wakes next by itself; max while it waits for a client.
    Clock::time_point wakeAt_ = Clock::time_point::max();
    bool stopping_ = false;
    std::thread thread_;  // started by the first watch()
};
