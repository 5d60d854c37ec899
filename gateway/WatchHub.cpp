#include "WatchHub.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <iterator>
#include <system_error>
#include <utility>

#include "GatewayStatus.h"
#include "WatchLine.h"
#include "base/loggerBase/CoMsg.h"

namespace {

// One errno test covers a non-blocking socket's "try again"; a call that
// never waits is never interrupted.
static_assert(EAGAIN == EWOULDBLOCK, "EAGAIN and EWOULDBLOCK differ");

constexpr std::chrono::seconds kCommentEvery{15};
// A stream that ended has this long to send its last bytes and see the
// web server close.
constexpr std::chrono::seconds kCloseWait{2};
// What a stop gives all streams together for their end records.
constexpr std::chrono::milliseconds kStopWait{1000};
// The kernel's share of a stream's backlog, so that the queue's bound
// tells a stalled reader soon.
constexpr int kSendBufferBytes = 65536;
// Deliveries waiting for the hub's thread beyond this are dropped; the
// thread takes them far faster than servers send.
constexpr size_t kMaxInbox = 10000;

}  // namespace

struct WatchHub::Stream {
    Stream(uint64_t streamId, std::string owner, int request, Clock::time_point now, std::chrono::seconds lifetime)
        : id(streamId),
          user(std::move(owner)),
          requestId(request),
          endAt(now + lifetime),
          nextComment(now + kCommentEvery) {}

    const uint64_t id;
    const std::string user;
    const int requestId;
    int fd = -1;  // until activated
    const Clock::time_point endAt;
    Clock::time_point nextComment;
    Clock::time_point closeBy;  // once ending
    uint64_t nextEventId = 1;
    std::string out;           // records not yet sent
    bool ending = false;       // the end records are queued
    bool watchingOut = false;  // epoll waits for room to write
    bool gone = false;         // to be closed at the end of the thread's turn

    // Activated and not gone: its connection takes bytes.
    bool live() const { return fd >= 0 && !gone; }
    // Nothing goes after the end records: it would belong to no request.
    void queue(const std::string& text) {
        if (!ending)
            appendStdoutRecords(requestId, text.data(), text.size(), &out);
    }
    void queueEnd() {
        if (ending)
            return;
        appendEndRecords(requestId, &out);
        ending = true;
        closeBy = Clock::now() + kCloseWait;
    }
};

WatchHub::WatchHub(RequestWatchdog& watchdog)
    : epoll_(::epoll_create1(EPOLL_CLOEXEC)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      registry_(watchdog,
                [this](const std::vector<uint64_t>& streams, const std::string& text) { deliver(streams, text); }) {
    epoll_event event{};  // data 0 is the wake-up's: stream ids start at 1
    event.events = EPOLLIN;
    // Fails too when either could not be made (-1).
    ready_ = ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &event) == 0;
}

WatchHub::~WatchHub() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake();
    if (thread_.joinable())
        thread_.join();
    // Its last look at the inbox took every connection: request threads end
    // before the hub does.
    std::lock_guard<std::mutex> lock(mutex_);
    assert(activated_.empty() && "a connection handed over during the hub's end");
}

uint64_t WatchHub::open(const std::string& user, int requestId, std::chrono::seconds lifetime, size_t maxStreams,
                        size_t maxUserStreams, std::string* refusal) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ready_)
        throw std::string("Live updates are not available: no event descriptors");
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread(&WatchHub::run, this);
        } catch (const std::system_error& e) {
            throw std::string("Could not start the live updates' thread: ") + e.what();
        }
    }
    if (owners_.size() >= maxStreams) {
        *refusal = "Too many live update streams (at most " + std::to_string(maxStreams) + ")";
        return 0;
    }
    const auto mine = [&user](const std::pair<const uint64_t, std::string>& owner) { return owner.second == user; };
    if (static_cast<size_t>(std::count_if(owners_.begin(), owners_.end(), mine)) >= maxUserStreams) {
        *refusal =
            "Too many live update streams for user '" + user + "' (at most " + std::to_string(maxUserStreams) + ")";
        return 0;
    }
    owners_[++lastId_] = user;
    GatewayStatus::instance().setStreams(static_cast<int64_t>(owners_.size()));
    opened_.push_back(std::make_unique<Stream>(lastId_, user, requestId, now, lifetime));
    return lastId_;
}

void WatchHub::activate(uint64_t stream, int fd) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        activated_.emplace_back(stream, fd);
    }
    wake();
}

void WatchHub::abandon(uint64_t stream) {
    // At once, so that the user may try again at once.
    registry_.unsubscribe(stream);
    release(stream);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abandoned_.push_back(stream);
    }
    wake();
}

void WatchHub::release(uint64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    owners_.erase(id);
    GatewayStatus::instance().setStreams(static_cast<int64_t>(owners_.size()));
}

void WatchHub::deliver(const std::vector<uint64_t>& streams, const std::string& text) {
    auto shared = std::make_shared<const std::string>(text);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (delivered_.size() >= kMaxInbox) {
            CO_WARNING("Dropped a node event: %zu wait for the live updates' thread", delivered_.size());
            return;
        }
        delivered_.push_back(Delivery{streams, std::move(shared)});
    }
    wake();
}

void WatchHub::wake() {
    // Fails only when the counter is full, which wakes the thread anyway.
    ::eventfd_write(wake_.get(), 1);
}

bool WatchHub::takeInbox() {
    std::unique_lock<std::mutex> lock(mutex_);
    auto opened = std::exchange(opened_, {});
    auto delivered = std::exchange(delivered_, {});
    auto activated = std::exchange(activated_, {});
    auto abandoned = std::exchange(abandoned_, {});
    const bool stopping = stopping_;
    lock.unlock();
    for (std::unique_ptr<Stream>& stream : opened) {
        const uint64_t id = stream->id;
        streams_[id] = std::move(stream);
    }
    for (const Delivery& delivery : delivered) {
        for (const uint64_t id : delivery.streams) {
            const auto found = streams_.find(id);
            if (found == streams_.end())
                continue;
            Stream& stream = *found->second;
            stream.queue("id: " + std::to_string(stream.nextEventId++) + "\n" + *delivery.text);
        }
    }
    // A stream ends only once activated, or abandoned instead; a web server
    // that went away (-1) fails epoll_ctl.
    for (const std::pair<uint64_t, int>& connection : activated) {
        Stream& stream = *streams_.at(connection.first);
        stream.fd = connection.second;
        ::setsockopt(stream.fd, SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof kSendBufferBytes);
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.u64 = stream.id;
        if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, stream.fd, &event) != 0)
            stream.gone = true;
    }
    for (const uint64_t id : abandoned)
        close(id);
    return stopping;
}

void WatchHub::keepTime(Clock::time_point now) {
    for (auto& entry : streams_) {
        Stream& stream = *entry.second;
        if (!stream.live())
            continue;
        if (stream.ending) {
            if (now >= stream.closeBy)
                stream.gone = true;
            continue;
        }
        if (now >= stream.endAt) {
            stream.queueEnd();
        } else if (now >= stream.nextComment) {
            stream.queue(kWatchComment);
            stream.nextComment = now + kCommentEvery;
        }
    }
}

int WatchHub::msUntilNext(Clock::time_point now) const {
    Clock::time_point next = Clock::time_point::max();
    for (const auto& entry : streams_) {
        const Stream& stream = *entry.second;
        if (stream.live())
            next = std::min(next, stream.ending ? stream.closeBy : std::min(stream.endAt, stream.nextComment));
    }
    if (next == Clock::time_point::max())
        return -1;
    // Rounded up: a wake-up just before the time would only wait again.
    return static_cast<int>(
        std::chrono::ceil<std::chrono::milliseconds>(std::max(next - now, Clock::duration::zero())).count());
}

void WatchHub::send(Stream& stream) {
    if (!stream.live())
        return;
    while (!stream.out.empty()) {
        const ssize_t n = ::send(stream.fd, stream.out.data(), stream.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == -1) {
            if (errno == EAGAIN)
                break;
            stream.gone = true;  // the web server went away
            return;
        }
        stream.out.erase(0, static_cast<size_t>(n));
    }
    if (stream.out.size() > kMaxQueuedBytes) {
        CO_DEBUG("Dropped a live update stream of '%s': %zu bytes wait for its reader", stream.user.c_str(),
                 stream.out.size());
        stream.gone = true;
        return;
    }
    const bool wantOut = !stream.out.empty();
    if (wantOut != stream.watchingOut) {
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP | (wantOut ? EPOLLOUT : 0u);
        event.data.u64 = stream.id;
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, stream.fd, &event);
        stream.watchingOut = wantOut;
    }
    if (stream.ending && !wantOut) {
        // The web server closes on the end record, or on the end of our
        // side; its close ends ours. Shutting down again does nothing.
        ::shutdown(stream.fd, SHUT_WR);
    }
}

void WatchHub::read(Stream& stream) {
    // What the web server sends after the request (its end of input, an
    // abort) says nothing the stream needs; its close says it is gone.
    // One read a turn: more waiting wakes the thread again.
    char scratch[4096];
    const ssize_t n = ::recv(stream.fd, scratch, sizeof scratch, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN))
        stream.gone = true;
}

void WatchHub::close(uint64_t id) {
    const auto found = streams_.find(id);
    if (found == streams_.end())
        return;
    std::unique_ptr<Stream> stream = std::move(found->second);
    streams_.erase(found);
    registry_.unsubscribe(id);
    if (stream->fd >= 0)
        ::close(stream->fd);  // leaves the epoll set with it
    release(id);
}

void WatchHub::endAll() {
    const Clock::time_point giveUp = Clock::now() + kStopWait;
    for (auto& entry : streams_) {
        if (entry.second->live())
            entry.second->queueEnd();
    }
    for (;;) {
        std::vector<pollfd> waiting;
        for (auto& entry : streams_) {
            Stream& stream = *entry.second;
            send(stream);
            if (stream.live() && !stream.out.empty())
                waiting.push_back(pollfd{stream.fd, POLLOUT, 0});
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - Clock::now()).count();
        if (waiting.empty() || left <= 0)
            break;
        ::poll(waiting.data(), waiting.size(), static_cast<int>(left));
    }
    while (!streams_.empty())
        close(streams_.begin()->first);
}

void WatchHub::run() {
    epoll_event events[64];
    for (;;) {
        const int count =
            ::epoll_wait(epoll_.get(), events, static_cast<int>(std::size(events)), msUntilNext(Clock::now()));
        for (int i = 0; i < count; ++i) {
            const uint64_t id = events[i].data.u64;
            if (id == 0) {
                eventfd_t ignored;
                ::eventfd_read(wake_.get(), &ignored);  // back to 0
                continue;
            }
            const auto found = streams_.find(id);
            if (found == streams_.end())
                continue;
            if (events[i].events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))
                read(*found->second);
        }
        if (takeInbox()) {
            endAll();
            return;
        }
        keepTime(Clock::now());
        std::vector<uint64_t> finished;
        for (auto& entry : streams_) {
            Stream& stream = *entry.second;
            send(stream);
            if (stream.gone)
                finished.push_back(entry.first);
        }
        for (const uint64_t id : finished)
            close(id);
    }
}
