// Internal to the gateway.
// The live-update streams of a FastCGI process. A watch request's thread
// opens a stream (within the process's and its user's bounds), registers
// its pairs with the registry, writes the answer's header and hands the
// web server's connection over; from then on the hub's own thread answers
// the request: an event's STDOUT record as it comes, a comment every 15 s,
// and at the stream's end (its lifetime, or the process's stop) the empty
// STDOUT and END_REQUEST records, then it closes the connection. A stream
// whose reader falls behind by more than kMaxQueuedBytes, or whose web
// server went away, is dropped at once: the others never wait for it.
//
// Design note. One thread, started with the first stream, owns every
// stream's connection (non-blocking) and buffers, and waits in epoll for
// them and for an eventfd that says the inbox has something. Every other
// thread (requests, the library's event thread) only puts messages in the
// inbox under mutex_, which also guards the counts of open streams; it is
// never held across I/O or a call into the registry, and the hub's thread
// calls the registry only through unsubscribe(), which never blocks.
// Events for a stream wait in it from its opening, so that none is lost
// while its request writes the header.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "WatchRegistry.h"
#include "base/fileUtil/CoFileDescriptor.h"

class RequestWatchdog;

class WatchHub {
public:
    // Unsent bytes beyond this drop a stream: a reader that stopped
    // reading must not make the process hold its events without end.
    static constexpr size_t kMaxQueuedBytes = 512 * 1024;

    // The watchdog outlives the hub; it bounds the registry's calls.
    explicit WatchHub(RequestWatchdog& watchdog);
    // Ends every stream with its end records and releases its pairs.
    ~WatchHub();
    WatchHub(const WatchHub&) = delete;
    WatchHub& operator=(const WatchHub&) = delete;

    WatchRegistry& registry() { return registry_; }

    // A stream for user, ending after lifetime, when the process holds
    // fewer than maxStreams and the user fewer than maxUserStreams; its id
    // (never 0). 0 with the refusal's text in *refusal when the bounds
    // refuse it. Throws a std::string when the hub can not run.
    uint64_t open(const std::string& user, int requestId, std::chrono::seconds lifetime, size_t maxStreams,
                  size_t maxUserStreams, std::string* refusal);
    // The stream's connection: from now on its bytes go out. A descriptor
    // the hub can not wait on (-1 among them) ends the stream.
    void activate(uint64_t stream, int fd);
    // The stream ends before it had a connection: its request failed. Its
    // place is free when this returns.
    void abandon(uint64_t stream);

private:
    struct Stream;
    struct Delivery {
        std::vector<uint64_t> streams;
        std::shared_ptr<const std::string> text;
    };
    using Clock = std::chrono::steady_clock;

    // From the library's event thread, through the registry.
    void deliver(const std::vector<uint64_t>& streams, const std::string& text);
    void wake();
    void run();
    // What the inbox held: applied in the order the requests made it.
    bool takeInbox();
    void keepTime(Clock::time_point now);
    void send(Stream& stream);
    void read(Stream& stream);
    void close(uint64_t id);
    // Gives the stream's place back, once.
    void release(uint64_t id);
    void endAll();
    int msUntilNext(Clock::time_point now) const;

    // Closed after the registry is gone: its handlers wake the hub until then.
    Corvane::CoFileDescriptor epoll_;
    Corvane::CoFileDescriptor wake_;  // an eventfd
    bool ready_ = false;              // epoll waits for wake_

    std::mutex mutex_;                        // guards what follows, up to the thread's own
    std::map<uint64_t, std::string> owners_;  // the streams holding a place, and their users
    uint64_t lastId_ = 0;
    std::vector<std::unique_ptr<Stream>> opened_;
    std::vector<Delivery> delivered_;
    std::vector<std::pair<uint64_t, int>> activated_;
    std::vector<uint64_t> abandoned_;
    bool stopping_ = false;
    std::thread thread_;  // started by the first open()

    // The hub's thread only.
    std::map<uint64_t, std::unique_ptr<Stream>> streams_;

    // Goes first: its handlers deliver here until it is gone.
    WatchRegistry registry_;
};
