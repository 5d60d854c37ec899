#include "WatchHub.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

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
constexpr int kSendBufferBytes = 64 * 1024;
// Deliveries waiting for the hub's thread beyond this are dropped; the
// thread takes them far faster than servers send.
constexpr size_t kMaxInbox = 10000;
constexpr int kMaxEvents = 64;

}  // namespace

struct WatchHub::Stream {
    uint64_t id = 0;
    std::string user;
    int requestId = 0;
    int fd = -1;  // -1 until activated
    Clock::time_point endAt;
    Clock::time_point nextComment;
    Clock::time_point closeBy;  // once ending
    uint64_t nextEventId = 1;
    std::string out;  // records not yet sent, from sent on
    size_t sent = 0;
    bool ending = false;       // the end records are queued
    bool shutDown = false;     // all sent, the writing side is shut
    bool watchingOut = false;  // epoll waits for room to write
    bool gone = false;         // to be closed now

    size_t unsent() const { return out.size() - sent; }
    void queue(const std::string& text) { appendStdoutRecords(requestId, text.data(), text.size(), &out); }
    void queueEnd() {
        appendEndRecords(requestId, &out);
        ending = true;
        closeBy = Clock::now() + kCloseWait;
    }
};

WatchHub::WatchHub(RequestWatchdog& watchdog)
    : registry_(watchdog,
                [this](const std::vector<uint64_t>& streams, const std::string& text) { deliver(streams, text); }) {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (epoll_ >= 0 && wake_ >= 0) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = 0;
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event) != 0) {
            ::close(epoll_);
            epoll_ = -1;
        }
    }
}

WatchHub::~WatchHub() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake();
    if (thread_.joinable())
        thread_.join();
    for (const std::pair<uint64_t, int>& connection : activated_)
        ::close(connection.second);
    if (epoll_ >= 0)
        ::close(epoll_);
    if (wake_ >= 0)
        ::close(wake_);
}

uint64_t WatchHub::open(const std::string& user, int requestId, std::chrono::seconds lifetime, size_t maxStreams,
                        size_t maxUserStreams, std::string* refusal) {
    auto stream = std::make_unique<Stream>();
    stream->user = user;
    stream->requestId = requestId;
    const Clock::time_point now = Clock::now();
    stream->endAt = now + lifetime;
    stream->nextComment = now + kCommentEvery;
    std::lock_guard<std::mutex> lock(mutex_);
    if (epoll_ < 0 || wake_ < 0)
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
    size_t& mine = perUser_[user];
    if (mine >= maxUserStreams) {
        if (mine == 0)
            perUser_.erase(user);
        *refusal =
            "Too many live update streams for user '" + user + "' (at most " + std::to_string(maxUserStreams) + ")";
        return 0;
    }
    ++mine;
    stream->id = ++lastId_;
    owners_[lastId_] = user;
    GatewayStatus::instance().setStreams(static_cast<int64_t>(owners_.size()));
    opened_.push_back(std::move(stream));
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
    const auto owner = owners_.find(id);
    if (owner == owners_.end())
        return;
    const auto mine = perUser_.find(owner->second);
    if (mine != perUser_.end() && --mine->second == 0)
        perUser_.erase(mine);
    owners_.erase(owner);
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
    const uint64_t one = 1;
    if (::write(wake_, &one, sizeof one) < 0) {
        // Full (it never is) or gone: the thread is awake anyway.
    }
}

bool WatchHub::takeInbox() {
    std::vector<std::unique_ptr<Stream>> opened;
    std::vector<Delivery> delivered;
    std::vector<std::pair<uint64_t, int>> activated;
    std::vector<uint64_t> abandoned;
    bool stopping = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        opened.swap(opened_);
        delivered.swap(delivered_);
        activated.swap(activated_);
        abandoned.swap(abandoned_);
        stopping = stopping_;
    }
    for (std::unique_ptr<Stream>& stream : opened) {
        const uint64_t id = stream->id;
        streams_[id] = std::move(stream);
    }
    for (const Delivery& delivery : delivered) {
        for (const uint64_t id : delivery.streams) {
            const auto found = streams_.find(id);
            if (found == streams_.end() || found->second->ending || found->second->gone)
                continue;
            Stream& stream = *found->second;
            stream.queue("id: " + std::to_string(stream.nextEventId++) + "\n" + *delivery.text);
        }
    }
    for (const std::pair<uint64_t, int>& connection : activated) {
        const auto found = streams_.find(connection.first);
        if (found == streams_.end()) {
            ::close(connection.second);
            continue;
        }
        Stream& stream = *found->second;
        stream.fd = connection.second;
        ::setsockopt(stream.fd, SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof kSendBufferBytes);
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.u64 = stream.id;
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, stream.fd, &event) != 0)
            stream.gone = true;
    }
    for (const uint64_t id : abandoned)
        close(id);
    return stopping;
}

void WatchHub::keepTime(Clock::time_point now) {
    for (auto& entry : streams_) {
        Stream& stream = *entry.second;
        if (stream.fd < 0 || stream.gone)
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
        if (stream.fd < 0)
            continue;
        next = std::min(next, stream.ending ? stream.closeBy : std::min(stream.endAt, stream.nextComment));
    }
    if (next == Clock::time_point::max())
        return -1;
    if (next <= now)
        return 0;
    // Rounded up: a wake-up just before the time would only wait again.
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1);
}

void WatchHub::send(Stream& stream) {
    if (stream.fd < 0 || stream.gone)
        return;
    while (stream.unsent() > 0) {
        const ssize_t n =
            ::send(stream.fd, stream.out.data() + stream.sent, stream.unsent(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            stream.sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EAGAIN)
            break;
        stream.gone = true;  // the web server went away
        return;
    }
    if (stream.unsent() == 0) {
        stream.out.clear();
        stream.sent = 0;
    } else if (stream.sent >= kMaxQueuedBytes) {
        stream.out.erase(0, stream.sent);  // keeps the buffer from growing by what went out
        stream.sent = 0;
    }
    if (stream.unsent() > kMaxQueuedBytes) {
        CO_DEBUG("Dropped a live update stream of '%s': %zu bytes wait for its reader", stream.user.c_str(),
                 stream.unsent());
        stream.gone = true;
        return;
    }
    const bool wantOut = stream.unsent() > 0;
    if (wantOut != stream.watchingOut) {
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP | (wantOut ? EPOLLOUT : 0u);
        event.data.u64 = stream.id;
        ::epoll_ctl(epoll_, EPOLL_CTL_MOD, stream.fd, &event);
        stream.watchingOut = wantOut;
    }
    if (stream.ending && !wantOut && !stream.shutDown) {
        // The web server closes on the end record; its close ends ours.
        ::shutdown(stream.fd, SHUT_WR);
        stream.shutDown = true;
    }
}

void WatchHub::read(Stream& stream) {
    // What the web server sends after the request (its end of input, an
    // abort) says nothing the stream needs; its close says it is gone.
    char scratch[4096];
    for (int i = 0; i < 16; ++i) {
        const ssize_t n = ::recv(stream.fd, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n > 0)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        stream.gone = true;
        return;
    }
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
    std::vector<pollfd> waiting;
    for (auto& entry : streams_) {
        Stream& stream = *entry.second;
        if (stream.fd >= 0 && !stream.gone && !stream.ending)
            stream.queueEnd();
    }
    for (;;) {
        waiting.clear();
        for (auto& entry : streams_) {
            Stream& stream = *entry.second;
            send(stream);
            if (stream.fd >= 0 && !stream.gone && stream.unsent() > 0)
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
    epoll_event events[kMaxEvents];
    for (;;) {
        const int count = ::epoll_wait(epoll_, events, kMaxEvents, msUntilNext(Clock::now()));
        for (int i = 0; i < count; ++i) {
            const uint64_t id = events[i].data.u64;
            if (id == 0) {
                uint64_t ignored;
                while (::read(wake_, &ignored, sizeof ignored) > 0) {
                }
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
