#include "base/rcApi/rcAppContext.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>

#include "base/loggerBase/CoMsg.h"
#include "base/tcp/CoIoDescriptor.h"
#include "base/threads/CoLockGuard.h"

namespace Corvane {

rcAppContext::rcAppContext() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        // Without the pipe a pass can only end by its time-out or an event.
        const int err = errno;
        CO_ERROR("Could not create cancel pipe: %s", CoIoDescriptor::errnoText(err).c_str());
        return;
    }
    cancelRead_ = ends[0];
    cancelWrite_ = ends[1];
}

rcAppContext::~rcAppContext() {
    if (cancelRead_ >= 0)
        ::close(cancelRead_);
    if (cancelWrite_ >= 0)
        ::close(cancelWrite_);
}

void rcAppContext::registerIOHandler(CoIoHandler* io) {
    assert(io != 0 && "io != 0");
    CoLockGuard guard(mutex_);
    if (std::find(handlers_.begin(), handlers_.end(), io) == handlers_.end())
        handlers_.push_back(io);
}

void rcAppContext::unregisterIOHandler(CoIoHandler* io) {
    CoLockGuard guard(mutex_);
    const auto it = std::find(handlers_.begin(), handlers_.end(), io);
    if (it != handlers_.end())
        handlers_.erase(it);
}

bool rcAppContext::isRegistered(const CoIoHandler* io) const {
    CoLockGuard guard(mutex_);
    return std::find(handlers_.begin(), handlers_.end(), io) != handlers_.end();
}

size_t rcAppContext::handlerCount() const {
    CoLockGuard guard(mutex_);
    return handlers_.size();
}

void rcAppContext::cancel() {
    for (;;) {
        if (cancelWrite_ >= 0 && ::write(cancelWrite_, "*", 1) == 1)
            return;
        const int err = cancelWrite_ >= 0 ? errno : EBADF;
        if (err == EINTR)
            continue;
        if (err == EAGAIN)
            return;  // the pipe is full: the next pass wakes anyway
        CO_ERROR("Could not cancel callIOHandler: %s", CoIoDescriptor::errnoText(err).c_str());
        return;
    }
}

int rcAppContext::callIOHandler(int timeoutMs) {
    ready_.clear();
    lost_.clear();
    fds_.clear();
    fds_.push_back({cancelRead_, POLLIN, 0});
    {
        CoLockGuard guard(mutex_);
        for (CoIoHandler* io : handlers_) {
            const CoIoDescriptor* d = io->getDescriptor();
            if (!d || !d->isValid()) {
                lost_.push_back(io);
                continue;
            }
            const int mask = io->getEventMask();
            short events = 0;
            if (mask & CoIoHandler::kReadEvent)
                events |= POLLIN;
            if (mask & CoIoHandler::kWriteEvent)
                events |= POLLOUT;
            if (mask & CoIoHandler::kExceptionEvent)
                events |= POLLPRI;
            ready_.push_back(io);
            fds_.push_back({d->getFd(), events, 0});
        }
    }
    // Outside the lock: descriptorLost() may register or unregister handlers.
    for (CoIoHandler* io : lost_) {
        unregisterIOHandler(io);
        io->descriptorLost();
    }

    const int rc = ::poll(fds_.data(), fds_.size(), timeoutMs < 0 ? -1 : timeoutMs);
    if (rc < 0) {
        const int err = errno;
        if (err == EINTR)
            return 0;
        CO_ERROR("Could not wait for I/O: %s", CoIoDescriptor::errnoText(err).c_str());
        return -1;
    }
    int count = rc;
    if (fds_[0].revents & POLLIN) {
        char byte;
        const ssize_t n = ::read(cancelRead_, &byte, 1);
        (void)n;  // empty already: another pass took it
        --count;
    }

    // Last registered first. A handler unregistered by an earlier one in
    // this pass is skipped: its owner may have deleted it.
    for (size_t i = ready_.size(); i-- > 0;) {
        const short revents = fds_[i + 1].revents;
        if (revents == 0)
            continue;
        CoIoHandler* io = ready_[i];
        if (!isRegistered(io))
            continue;
        const bool readable = revents & (POLLIN | POLLPRI | POLLHUP | POLLERR | POLLNVAL);
        const bool writable = revents & (POLLOUT | POLLERR | POLLHUP);
        bool keep = true;
        if (readable && (io->getEventMask() & (CoIoHandler::kReadEvent | CoIoHandler::kExceptionEvent)))
            keep = io->handleReadable();
        if (keep && writable && (io->getEventMask() & CoIoHandler::kWriteEvent))
            keep = io->handleWritable();
        if (!keep)
            unregisterIOHandler(io);
    }
    return count;
}

}  // namespace Corvane
