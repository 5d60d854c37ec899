// Design note. SIGTERM and SIGUSR1 stay blocked in every thread but come
// to run(), which waits for them with sigtimedwait: libfcgi's own handlers
// never run, and a stop never interrupts a request's calls. A pool thread
// that stops accepting sends SIGUSR1 to run()'s thread. On a stop, run()
// sends the wake-up signal, which each pool thread lets in only while it
// waits for a connection (epoll_pwait), to the threads still running,
// every 100 ms, since one may have been about to wait when the last one
// came; the threads waiting for a turn are told under the pool's mutex.
// The same signal tells the runner that a kept connection came back, and
// tells run()'s thread when to shut down the reading side of a request
// whose variables outgrew a look. Lock order: none nest.
//
// The runner waits on one epoll set: the listener, level-triggered, and
// the pending connections, edge-triggered, so that a request trickling in
// a byte at a time wakes it once a byte rather than for as long as the
// bytes sit unread. It takes one event a wait: those it has not handled
// stay with epoll for whoever runs next. It looks at a connection's bytes
// (FIONREAD, then a peek from the start) only once enough have come for
// the record it waits for. libfcgi gets a complete connection as the
// request's descriptor, with keepConnection set, so that its finishing of
// the previous request leaves the descriptor open, and with no listening
// socket: records it fails on close the connection and FCGX_Accept_r
// returns, where it would otherwise accept a connection itself.
#include "FastCgiPool.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
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
// Out of descriptors with none pending to give back: connections wait in
// the listener's queue meanwhile, rather than the runner spin on it.
constexpr std::chrono::milliseconds kListenerPause{100};

// The records a web server sends before the body: BEGIN_REQUEST, then the
// variables as PARAMS records, ended by an empty one.
constexpr size_t kHeaderBytes = 8;
constexpr uint8_t kVersion = 1;
constexpr uint8_t kBeginRequest = 1;
constexpr uint8_t kParams = 4;
constexpr size_t kBeginBodyBytes = 8;
constexpr int kResponder = 1;
constexpr int kFilter = 3;  // the last role libfcgi answers
constexpr size_t kMaxContentBytes = 0xffff;
constexpr size_t kMaxPaddingBytes = 255;
// Web servers send a few kB of variables in one or a few records; past
// either bound the peeks of a trickled request would cost more than they
// save, and libfcgi reads it instead, under a timer.
constexpr size_t kPeekLimitBytes = 64 * 1024;
constexpr int kMaxRecords = 64;

sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    return signals;
}

// Interrupts the wait it arrives in, nothing more.
extern "C" void onWake(int) {}

// Which pool threads have ended, for run().
struct Threads {
    std::mutex mutex;  // guards ended
    std::condition_variable changed;
    std::vector<bool> ended;
};

// The addresses of a list like "10.0.0.1, ::1", as raw bytes; an IPv4
// address in IPv6 form as IPv4. Entries that are no address are left out.
std::vector<std::vector<uint8_t>> addressesOf(const std::string& list) {
    std::vector<std::vector<uint8_t>> addresses;
    size_t at = 0;
    while (at <= list.size()) {
        size_t end = list.find(',', at);
        if (end == std::string::npos)
            end = list.size();
        const size_t first = list.find_first_not_of(" \t", at);
        const size_t last = list.find_last_not_of(" \t", end == 0 ? 0 : end - 1);
        if (first < end && last != std::string::npos && last >= first) {
            const std::string text = list.substr(first, last - first + 1);
            in_addr v4{};
            in6_addr v6{};
            if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
                const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&v4);
                addresses.emplace_back(bytes, bytes + 4);
            } else if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
                const bool mapped = IN6_IS_ADDR_V4MAPPED(&v6);
                addresses.emplace_back(v6.s6_addr + (mapped ? 12 : 0), v6.s6_addr + 16);
            }
        }
        at = end + 1;
    }
    return addresses;
}

// Milliseconds from now until when, rounded up; 0 once it has passed.
int msUntil(FastCgiPool::Clock::time_point when) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - FastCgiPool::Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

}  // namespace

FastCgiPool::FastCgiPool(int listener, const Options& options)
    : listener_(listener),
      options_(options),
      checkPeers_(options.webServers.find_first_not_of(" \t,") != std::string::npos),
      webServers_(addressesOf(options.webServers)),
      peek_(kHeaderBytes + kMaxContentBytes + kMaxPaddingBytes) {
    sigset_t blocked = stopSignals();
    sigaddset(&blocked, kWakeSignal);
    pthread_sigmask(SIG_BLOCK, &blocked, &previousMask_);
    // Without SA_RESTART: the wait it interrupts returns.
    struct sigaction action {};
    action.sa_handler = onWake;
    sigemptyset(&action.sa_mask);
    sigaction(kWakeSignal, &action, nullptr);

    // Other processes may take from the same listener: readable is no
    // promise that a connection is still there.
    const int flags = ::fcntl(listener_, F_GETFL);
    if (flags >= 0)
        ::fcntl(listener_, F_SETFL, flags | O_NONBLOCK);
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener_;
    if (epoll_ >= 0 && ::epoll_ctl(epoll_, EPOLL_CTL_ADD, listener_, &event) != 0) {
        ::close(epoll_);
        epoll_ = -1;  // accept() fails: the process stops
    }
}

FastCgiPool::~FastCgiPool() {
    for (const Pending& pending : pending_)
        ::close(pending.fd);
    for (const int fd : returned_)
        ::close(fd);
    if (largeFd_ >= 0)
        ::close(largeFd_);
    if (epoll_ >= 0)
        ::close(epoll_);
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

int FastCgiPool::accept(FCGX_Request& request, Place& place) {
    request.listen_sock = -1;
    giveBack(place, request.ipcFd);
    request.ipcFd = -1;
    if (!takeTurn(place))
        return -1;
    for (;;) {
        bool large = false;
        const int fd = nextConnection(&large);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (fd < 0) {
                // The process stops; a thread still waiting may find that out.
                hasRunner_ = false;
                waiting_.notify_all();
                return -1;
            }
            busy_ = true;
            busySince_ = Clock::now();
            ++started_;
            if (watcherIdle_)
                watch_.notify_one();
        }
        request.ipcFd = fd;
        request.keepConnection = 1;
        const int accepted = FCGX_Accept_r(&request);
        if (large)
            endLargeRead();
        if (accepted >= 0)
            return accepted;
        // libfcgi failed on the records and closed the connection.
        if (!takeTurn(place))
            return -1;
    }
}

void FastCgiPool::giveBack(const Place& place, int kept) {
    if (kept < 0)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stopping_) {
            returned_.push_back(kept);
            if (hasRunner_ && place.turn_ != turn_)
                pthread_kill(runner_, kWakeSignal);
            return;
        }
    }
    ::close(kept);
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
        if (busy_ && Clock::now() - busySince_ >= options_.slowAfter) {
            hasWatcher_ = false;
            place.watching_ = false;
            becomeRunner(place);
            waiting_.notify_one();  // the next watcher
            return true;
        }
        if (busy_) {
            watch_.wait_until(lock, busySince_ + options_.slowAfter);
        } else if (started_ != seen) {
            // Between two requests of a busy runner: look again later
            // rather than have its next request wake this thread.
            seen = started_;
            watch_.wait_for(lock, options_.slowAfter);
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
    runner_ = pthread_self();
}

void FastCgiPool::stopTurns() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        hasWaiter_ = false;
        cutLargeReadLocked(true);
    }
    waiting_.notify_all();
    watch_.notify_all();
}

int FastCgiPool::nextConnection(bool* large) {
    if (epoll_ < 0)
        return -1;
    sigset_t waitMask;
    pthread_sigmask(SIG_BLOCK, nullptr, &waitMask);
    sigdelset(&waitMask, kWakeSignal);
    for (;;) {
        if (!takeReturned())
            return -1;
        closeLate();
        if (listenerPaused_ && Clock::now() >= listenerPausedUntil_)
            pauseListener(false);
        epoll_event event{};
        const int events = ::epoll_pwait(epoll_, &event, 1, waitMs(), &waitMask);
        if (events < 0 && errno != EINTR)
            return -1;
        if (events <= 0)
            continue;
        if (event.data.fd == listener_) {
            int complete = -1;
            if (!acceptOne(&complete, large))
                return -1;
            if (complete >= 0)
                return complete;
            continue;
        }
        const auto found = std::find_if(pending_.begin(), pending_.end(),
                                         [&event](const Pending& pending) { return pending.fd == event.data.fd; });
        if (found == pending_.end())
            continue;
        const size_t index = static_cast<size_t>(found - pending_.begin());
        const Arrival arrival = look(*found);
        if (arrival == Arrival::Waiting) {
            // A peer that stopped sending before its variables ended.
            if (event.events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR))
                drop(index);
        } else if (arrival == Arrival::Broken) {
            drop(index);
        } else {
            const Clock::time_point deadline = found->deadline;
            const int fd = handOn(takeOut(index), arrival, deadline, large);
            if (fd >= 0)
                return fd;
        }
    }
}

bool FastCgiPool::takeReturned() {
    std::vector<int> returned;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_)
            return false;
        returned.swap(returned_);
    }
    const Clock::time_point deadline = Clock::now() + options_.arrivalLimit;
    for (const int fd : returned)
        keep({fd, deadline, kHeaderBytes, true});  // epoll tells when its next request is there
    return true;
}

bool FastCgiPool::acceptOne(int* complete, bool* large) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == EBADF || err == EINVAL || err == ENOTSOCK || err == EFAULT)
            return false;  // no listener to take connections from
        if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
            if (pending_.empty())
                pauseListener(true);
            else
                drop(0);  // the oldest gives its descriptor to the next
        }
        return true;  // gone already, taken by another process, or a network error of its own
    }
    if (!peerAllowed(fd)) {
        ::close(fd);
        return true;
    }
    Pending pending{fd, Clock::now() + options_.arrivalLimit, kHeaderBytes, false};
    const Arrival arrival = look(pending);
    if (arrival == Arrival::Waiting) {
        keep(pending);
    } else if (arrival == Arrival::Broken) {
        ::close(fd);
    } else {
        *complete = handOn(fd, arrival, pending.deadline, large);
    }
    return true;
}

int FastCgiPool::handOn(int fd, Arrival arrival, Clock::time_point deadline, bool* large) {
    if (arrival == Arrival::Large) {
        if (!startLargeRead(fd, deadline)) {
            ::close(fd);
            return -1;
        }
        *large = true;
    }
    return fd;
}

FastCgiPool::Arrival FastCgiPool::look(Pending& pending) {
    int available = 0;
    if (::ioctl(pending.fd, FIONREAD, &available) != 0)
        return Arrival::Broken;
    if (available <= 0 || static_cast<size_t>(available) < pending.needBytes)
        return Arrival::Waiting;
    const ssize_t got = ::recv(pending.fd, peek_.data(), std::min(static_cast<size_t>(available), peek_.size()),
                               MSG_PEEK | MSG_DONTWAIT);
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Arrival::Waiting : Arrival::Broken;
    size_t staleBytes = 0;
    const Arrival arrival = scan(peek_.data(), static_cast<size_t>(got), pending.kept, &pending.needBytes, &staleBytes);
    if (staleBytes == 0)
        return arrival;
    // libfcgi would fail on them: they go, and the connection is looked at
    // afresh once the events before it are handled.
    if (::recv(pending.fd, peek_.data(), staleBytes, MSG_DONTWAIT) != static_cast<ssize_t>(staleBytes))
        return Arrival::Broken;
    pending.needBytes = kHeaderBytes;
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
    event.data.fd = pending.fd;
    ::epoll_ctl(epoll_, EPOLL_CTL_MOD, pending.fd, &event);
    return Arrival::Waiting;
}

// Complete only when libfcgi reads these records and no more before
// FCGX_Accept_r returns: a begin of a role it serves, then that request's
// variables to their end. Whatever else it may wait on (records of other
// requests, management records, a role it refuses) is Broken, except that
// on a kept connection whole records of the request before, which its
// application left unread, come first: staleBytes of them.
FastCgiPool::Arrival FastCgiPool::scan(const uint8_t* bytes, size_t size, bool kept, size_t* needBytes,
                                       size_t* staleBytes) {
    size_t at = 0;
    int requestId = -1;
    for (int records = 0; records <= kMaxRecords; ++records) {
        if (at + kHeaderBytes > kPeekLimitBytes) {
            // Large only once the bytes are there: a header announcing a
            // large record is no reason to take a thread yet.
            *needBytes = kPeekLimitBytes;
            return size >= kPeekLimitBytes && *staleBytes == 0 ? Arrival::Large : Arrival::Waiting;
        }
        if (size < at + kHeaderBytes) {
            *needBytes = at + kHeaderBytes;
            return Arrival::Waiting;
        }
        const uint8_t* header = bytes + at;
        const int type = header[1];
        const int id = header[2] << 8 | header[3];
        const size_t length = static_cast<size_t>(header[4] << 8 | header[5]);
        const size_t end = at + kHeaderBytes + length + header[6];
        if (header[0] != kVersion)
            return Arrival::Broken;
        if (requestId < 0 && type != kBeginRequest) {
            if (!kept || id == 0)
                return Arrival::Broken;
            if (size < end) {
                *needBytes = end;
                return Arrival::Waiting;
            }
            *staleBytes = at = end;
            continue;
        }
        if (*staleBytes > 0)
            return Arrival::Waiting;
        if (requestId < 0) {
            if (id == 0 || length != kBeginBodyBytes)
                return Arrival::Broken;
            if (size < end) {
                *needBytes = end;
                return Arrival::Waiting;
            }
            const int role = header[kHeaderBytes] << 8 | header[kHeaderBytes + 1];
            if (role < kResponder || role > kFilter)
                return Arrival::Broken;
            requestId = id;
        } else {
            if (type != kParams || id != requestId)
                return Arrival::Broken;
            if (length == 0) {
                if (size < end) {
                    *needBytes = end;
                    return Arrival::Waiting;
                }
                return Arrival::Complete;
            }
        }
        at = end;
    }
    return *staleBytes > 0 ? Arrival::Waiting : Arrival::Large;
}

bool FastCgiPool::peerAllowed(int fd) const {
    if (!checkPeers_)
        return true;
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0)
        return false;
    const uint8_t* address = nullptr;
    size_t length = 4;
    if (peer.ss_family == AF_INET) {
        address = reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr);
    } else if (peer.ss_family == AF_INET6) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_addr;
        const bool mapped = IN6_IS_ADDR_V4MAPPED(&v6);
        address = v6.s6_addr + (mapped ? 12 : 0);
        length = mapped ? 4 : 16;
    } else {
        return true;  // a socket file: the file's permissions decide
    }
    for (const std::vector<uint8_t>& allowed : webServers_)
        if (allowed.size() == length && std::memcmp(allowed.data(), address, length) == 0)
            return true;
    return false;
}

void FastCgiPool::keep(const Pending& pending) {
    if (pending_.size() >= options_.maxPending && !pending_.empty())
        drop(0);
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
    event.data.fd = pending.fd;
    if (options_.maxPending == 0 || ::epoll_ctl(epoll_, EPOLL_CTL_ADD, pending.fd, &event) != 0) {
        ::close(pending.fd);
        return;
    }
    pending_.push_back(pending);
}

void FastCgiPool::drop(size_t index) {
    ::close(pending_[index].fd);  // leaves the epoll set with it
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(index));
}

int FastCgiPool::takeOut(size_t index) {
    const int fd = pending_[index].fd;
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(index));
    return fd;
}

void FastCgiPool::closeLate() {
    const Clock::time_point now = Clock::now();
    while (!pending_.empty() && pending_.front().deadline <= now)
        drop(0);
}

void FastCgiPool::pauseListener(bool paused) {
    epoll_event event{};
    event.events = paused ? 0u : static_cast<uint32_t>(EPOLLIN);
    event.data.fd = listener_;
    ::epoll_ctl(epoll_, EPOLL_CTL_MOD, listener_, &event);
    listenerPaused_ = paused;
    listenerPausedUntil_ = Clock::now() + kListenerPause;
}

int FastCgiPool::waitMs() const {
    if (pending_.empty())
        return listenerPaused_ ? msUntil(listenerPausedUntil_) : -1;
    const Clock::time_point first = pending_.front().deadline;
    return msUntil(listenerPaused_ ? std::min(first, listenerPausedUntil_) : first);
}

bool FastCgiPool::startLargeRead(int fd, Clock::time_point deadline) {
    std::lock_guard<std::mutex> lock(mutex_);
    // One at a time: they are rare, and many would hold as many threads.
    if (largeFd_ >= 0 || stopping_)
        return false;
    largeFd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (largeFd_ < 0)
        return false;
    largeDeadline_ = deadline;
    largeCut_ = false;
    if (hasWaiter_)
        pthread_kill(waiter_, kWakeSignal);
    return true;
}

void FastCgiPool::endLargeRead() {
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fd = largeFd_;
        largeFd_ = -1;
    }
    ::close(fd);
}

void FastCgiPool::cutLargeReadLocked(bool always) {
    if (largeFd_ >= 0 && !largeCut_ && (always || Clock::now() >= largeDeadline_)) {
        ::shutdown(largeFd_, SHUT_RD);  // the socket's, through the copy: libfcgi's read returns
        largeCut_ = true;
    }
}

void FastCgiPool::run(int count, const std::function<void()>& serve) {
    const pthread_t waiter = pthread_self();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hasWaiter_ = true;
        waiter_ = waiter;
    }
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
        {
            // Nothing times a large read then: it waits for its peer.
            std::lock_guard<std::mutex> lock(mutex_);
            hasWaiter_ = false;
        }
        serve();
        return;
    }
    waitForStop();
    stopTurns();

    const auto giveUp = Clock::now() + kStopWait;
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
        if (Clock::now() >= giveUp)
            std::_Exit(1);  // a request that never ends must not keep the process
        state.changed.wait_for(lock, kWakeEvery);
    }
    lock.unlock();
    for (std::thread& thread : threads)
        thread.join();
}

void FastCgiPool::waitForStop() {
    sigset_t signals = stopSignals();
    sigaddset(&signals, kWakeSignal);
    for (;;) {
        bool timed = false;
        Clock::time_point deadline;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            timed = largeFd_ >= 0 && !largeCut_;
            deadline = largeDeadline_;
        }
        int signal = -1;
        if (timed) {
            const auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
            timespec wait{};
            wait.tv_sec = static_cast<time_t>(seconds.count());
            wait.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count());
            signal = sigtimedwait(&signals, nullptr, &wait);
        } else {
            signal = sigwaitinfo(&signals, nullptr);
        }
        if (signal == SIGTERM || signal == SIGUSR1)
            return;
        std::lock_guard<std::mutex> lock(mutex_);
        cutLargeReadLocked(false);
    }
}
