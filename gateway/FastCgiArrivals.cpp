#include "FastCgiArrivals.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <thread>

namespace {

// Out of descriptors with none pending to give back: connections wait in
// the listener's queue meanwhile, rather than the runner spin on it.
constexpr std::chrono::milliseconds kOutOfDescriptorsPause{100};

// Milliseconds from now until when, rounded up; 0 once it has passed.
int msUntil(FastCgiArrivals::Clock::time_point when) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - FastCgiArrivals::Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

// A web server sends a kept connection's next request only after the
// answer to the last one: with no byte of it there, none is on its way.
bool nothingArriving(int fd) {
    int available;
    return ::ioctl(fd, FIONREAD, &available) != 0 || available == 0;
}

}  // namespace

FastCgiArrivals::FastCgiArrivals(int listener, std::chrono::milliseconds arrivalLimit, size_t maxPending,
                                 const std::string& webServers)
    : listener_(listener),
      arrivalLimit_(arrivalLimit),
      maxPending_(maxPending),
      peers_(webServers),
      peek_(kFastCgiMaxRecordBytes) {
    // Other processes may take from the same listener: readable is no
    // promise that a connection is still there. No listener, no set: every
    // call on them fails, and so does waitOnce().
    ::fcntl(listener_, F_SETFL, ::fcntl(listener_, F_GETFL) | O_NONBLOCK);
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener_;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, listener_, &event) != 0) {
        ::close(epoll_);
        epoll_ = -1;
    }
}

FastCgiArrivals::~FastCgiArrivals() {
    for (const Pending& pending : pending_)
        ::close(pending.fd);
    ::close(epoll_);
}

void FastCgiArrivals::keepReturned(int fd) {
    if (!accepting_ && nothingArriving(fd)) {
        ::close(fd);
        return;
    }
    keep({fd, Clock::now() + arrivalLimit_, kFastCgiHeaderBytes, true});  // epoll tells when its next request is there
}

void FastCgiArrivals::stopAccepting() {
    if (!accepting_)
        return;
    accepting_ = false;
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, listener_, nullptr);
    for (size_t i = pending_.size(); i-- > 0;)
        if (pending_[i].kept && nothingArriving(pending_[i].fd))
            drop(i);
}

FastCgiArrivals::Step FastCgiArrivals::waitOnce(const sigset_t& waitMask, Ready* ready) {
    closeLate();
    epoll_event event{};
    const int events = ::epoll_pwait(epoll_, &event, 1, waitMs(), &waitMask);
    if (events < 0 && errno != EINTR)
        return Step::Failed;
    if (events <= 0)
        return Step::Again;
    // A listener shut down hangs up, and takes no connection again.
    if (event.data.fd == listener_)
        return event.events & EPOLLHUP ? Step::Failed : acceptOne(ready);
    const auto found = std::find_if(pending_.begin(), pending_.end(),
                                    [&event](const Pending& pending) { return pending.fd == event.data.fd; });
    if (found == pending_.end())
        return Step::Again;
    const size_t index = static_cast<size_t>(found - pending_.begin());
    const FastCgiArrival arrival = look(*found);
    if (arrival == FastCgiArrival::Waiting) {
        // A peer that stopped sending before its variables ended.
        if (event.events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR))
            drop(index);
        return Step::Again;
    }
    if (arrival == FastCgiArrival::Broken) {
        drop(index);
        return Step::Again;
    }
    ready->deadline = found->deadline;
    ready->large = arrival == FastCgiArrival::Large;
    ready->fd = takeOut(index);
    return Step::Ready;
}

FastCgiArrivals::Step FastCgiArrivals::acceptOne(Ready* ready) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE) {
            if (pending_.empty())
                std::this_thread::sleep_for(kOutOfDescriptorsPause);
            else
                drop(0);  // the oldest gives its descriptor to the next
        }
        return Step::Again;  // gone already, taken by another process, or a network error of its own
    }
    if (!peers_.allow(fd)) {
        ::close(fd);
        return Step::Again;
    }
    Pending pending{fd, Clock::now() + arrivalLimit_, kFastCgiHeaderBytes, false};
    const FastCgiArrival arrival = look(pending);
    if (arrival == FastCgiArrival::Waiting) {
        keep(pending);
        return Step::Again;
    }
    if (arrival == FastCgiArrival::Broken) {
        ::close(fd);
        return Step::Again;
    }
    ready->fd = fd;
    ready->large = arrival == FastCgiArrival::Large;
    ready->deadline = pending.deadline;
    return Step::Ready;
}

FastCgiArrival FastCgiArrivals::look(Pending& pending) {
    // A record already seen in part is not copied again until it can be
    // whole; a first look, nearly always at a whole request, just copies.
    int available;
    if (pending.needBytes > kFastCgiHeaderBytes &&
        (::ioctl(pending.fd, FIONREAD, &available) != 0 || static_cast<size_t>(available) < pending.needBytes))
        return FastCgiArrival::Waiting;
    // An error or an end of stream is the caller's to see, with its event.
    const ssize_t got = ::recv(pending.fd, peek_.data(), peek_.size(), MSG_PEEK | MSG_DONTWAIT);
    if (got < static_cast<ssize_t>(pending.needBytes))
        return FastCgiArrival::Waiting;
    size_t staleBytes = 0;
    const FastCgiArrival arrival =
        scanFastCgiRecords(peek_.data(), static_cast<size_t>(got), pending.kept, &pending.needBytes, &staleBytes);
    if (staleBytes == 0)
        return arrival;
    // libfcgi would fail on them: they go, and the connection is looked at
    // afresh once the events before it are handled.
    if (::recv(pending.fd, peek_.data(), staleBytes, MSG_DONTWAIT) != static_cast<ssize_t>(staleBytes))
        return FastCgiArrival::Broken;
    pending.needBytes = kFastCgiHeaderBytes;
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
    event.data.fd = pending.fd;
    ::epoll_ctl(epoll_, EPOLL_CTL_MOD, pending.fd, &event);
    return FastCgiArrival::Waiting;
}

void FastCgiArrivals::keep(const Pending& pending) {
    if (pending_.size() >= maxPending_)
        drop(0);
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
    event.data.fd = pending.fd;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, pending.fd, &event) != 0) {
        ::close(pending.fd);
        return;
    }
    pending_.push_back(pending);
}

void FastCgiArrivals::drop(size_t index) {
    ::close(pending_[index].fd);  // leaves the epoll set with it
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(index));
}

int FastCgiArrivals::takeOut(size_t index) {
    const int fd = pending_[index].fd;
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(index));
    return fd;
}

void FastCgiArrivals::closeLate() {
    const Clock::time_point now = Clock::now();
    while (!pending_.empty() && pending_.front().deadline <= now)
        drop(0);
}

int FastCgiArrivals::waitMs() const { return pending_.empty() ? -1 : msUntil(pending_.front().deadline); }
