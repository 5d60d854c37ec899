#include "base/tcp/CoIoDescriptor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/loggerBase/CoMsg.h"

namespace Corvane {

namespace {

// Blocking loops wake this often to look at the cancelled flag, which is all
// they have when the cancel pipe could not be made.
constexpr int kPollSliceMs = 1000;
constexpr size_t kMaxErrorText = 255;

int errnoOf(CoIoDescriptor::ErrorCode code) {
    switch (code) {
        case CoIoDescriptor::ErrorCode::NotConnected:
            return ENOTCONN;
        case CoIoDescriptor::ErrorCode::Aborted:
            return ECONNABORTED;
        case CoIoDescriptor::ErrorCode::Reset:
            return ECONNRESET;
        case CoIoDescriptor::ErrorCode::TimedOut:
            return ETIMEDOUT;
        case CoIoDescriptor::ErrorCode::Refused:
            return ECONNREFUSED;
        case CoIoDescriptor::ErrorCode::NoAddress:
            return ENXIO;
        default:
            return 0;
    }
}

void closeQuietly(int fd) {
    if (fd != CoIoDescriptor::INVALID_ID)
        ::close(fd);  // destruction has no one to report a failure to
}

}  // namespace

CoIoDescriptor::CoIoDescriptor(int fd) : fd_(fd) {
    int ends[2];
    // Both ends non-blocking: cancel() must never block on a full pipe and
    // draining must stop when it is empty.
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int err = errno;
        CO_ERROR("Could not create cancel pipe: %s", errnoText(err).c_str());
        return;
    }
    cancelRead_ = ends[0];
    cancelWrite_ = ends[1];
}

CoIoDescriptor::~CoIoDescriptor() {
    closeFd();
    closeQuietly(cancelRead_);
    closeQuietly(cancelWrite_);
}

bool CoIoDescriptor::resolveAsIpv6() {
    static const bool ipv6 = std::getenv("XQ_TCP_IPV6") != nullptr;
    return ipv6;
}

std::string CoIoDescriptor::errnoText(int err) {
    char buf[kMaxErrorText + 1];
    const char* text = ::strerror_r(err, buf, sizeof buf);  // GNU form: may return a static text
    std::string out(text ? text : "");
    if (out.size() > kMaxErrorText)
        out.resize(kMaxErrorText);
    return out;
}

void CoIoDescriptor::setError(ErrorCode code, int err) {
    if (code == ErrorCode::None) {
        lastError_.clear();
        return;
    }
    lastError_ = errnoText(code == ErrorCode::System ? err : errnoOf(code));
}

void CoIoDescriptor::closeFd() {
    if (fd_ == INVALID_ID)
        return;
    ::close(fd_);
    fd_ = INVALID_ID;
}

int CoIoDescriptor::rawRead(void* buf, int len) {
    if (!isValid()) {
        setError(ErrorCode::NotConnected);
        return 0;
    }
    for (;;) {
        const ssize_t n = ::recv(fd_, buf, static_cast<size_t>(len), 0);
        if (n >= 0)
            return static_cast<int>(n);
        const int err = errno;
        if (err == EINTR)
            continue;
        setError(ErrorCode::System, err);
        return -1;
    }
}

int CoIoDescriptor::rawWrite(const void* buf, int len) {
    if (!isValid()) {
        setError(ErrorCode::NotConnected);
        return -1;
    }
    if (len <= 0)
        return 0;
    for (;;) {
        // MSG_DONTWAIT: an accepted socket is blocking, and a send that
        // blocked could not be cancelled.
        const ssize_t n = ::send(fd_, buf, static_cast<size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            return static_cast<int>(n);
        if (n == 0) {
            setError(ErrorCode::Reset);
            return -1;
        }
        const int err = errno;
        if (err == EINTR)
            continue;
        if (err == EAGAIN || err == EWOULDBLOCK)
            return 0;
        setError(ErrorCode::System, err);
        return -1;
    }
}

CoIoDescriptor::Wait CoIoDescriptor::waitFor(short events, int timeoutMs, short* revents) {
    pollfd fds[2] = {{fd_, events, 0}, {cancelRead_, POLLIN, 0}};
    const nfds_t count = cancelRead_ == INVALID_ID ? 1 : 2;
    const int rc = ::poll(fds, count, timeoutMs < 0 ? 0 : timeoutMs);
    *revents = 0;
    if (rc < 0) {
        const int err = errno;
        if (err == EINTR)
            return Wait::TimedOut;  // every caller treats a signal like a time-out
        setError(ErrorCode::System, err);
        return Wait::Failed;
    }
    if (rc == 0)
        return Wait::TimedOut;
    if (fds[0].revents & POLLNVAL) {
        setError(ErrorCode::System, EBADF);
        return Wait::Failed;
    }
    *revents = fds[0].revents;
    if (count == 2 && fds[1].revents != 0) {
        consumeCancel();
        return Wait::Cancelled;
    }
    return Wait::Ready;
}

void CoIoDescriptor::consumeCancel() {
    cancelled_.store(true);
    cancelBytes_.store(0);
    drainCancelPipe();
}

void CoIoDescriptor::resetCancel() {
    // Flag first: a cancel() that has written its byte but not yet set the
    // flag sets it after this and so still ends the call that follows. Its
    // count comes after the byte too, so a byte this does not drain comes
    // with a flag set after it.
    cancelled_.store(false);
    if (cancelBytes_.exchange(0) > 0)
        drainCancelPipe();
}

void CoIoDescriptor::drainCancelPipe() {
    if (cancelRead_ == INVALID_ID)
        return;
    char sink[512];
    // Bounded: the pipe holds at most 64 KiB.
    for (int i = 0; i < 256; ++i) {
        const ssize_t n = ::read(cancelRead_, sink, sizeof sink);
        if (n == static_cast<ssize_t>(sizeof sink))
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
}

int CoIoDescriptor::peek(int* err) const {
    char c;
    for (;;) {
        const ssize_t n = ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n >= 0)
            return static_cast<int>(n);
        *err = errno;
        if (*err != EINTR)
            return -1;
    }
}

int CoIoDescriptor::readAll(void* buf, int len) {
    assert((buf || len == 0) && "buf != 0");
    if (!isValid()) {
        setError(ErrorCode::NotConnected);
        return -1;
    }
    resetCancel();
    char* p = static_cast<char*>(buf);
    int got = 0;
    while (got < len && !cancelled_.load()) {
        short revents = 0;
        const Wait wait = waitFor(POLLIN, kPollSliceMs, &revents);
        if (wait == Wait::Failed)
            return -1;
        if (wait != Wait::Ready)
            continue;  // the loop condition looks at the flag
        const int n = rawRead(p + got, len - got);
        if (n < 0)
            return -1;
        if (n == 0) {
            setError(ErrorCode::Reset);
            return -1;
        }
        got += n;
    }
    if (got < len) {
        consumeCancel();  // the flag may have ended the loop before the byte was read
        setError(ErrorCode::Aborted);
        return -1;
    }
    return len;
}

int CoIoDescriptor::writeAll(const void* buf, int len) {
    assert((buf || len == 0) && "buf != 0");
    if (!isValid()) {
        setError(ErrorCode::NotConnected);
        return -1;
    }
    resetCancel();
    const char* p = static_cast<const char*>(buf);
    int sent = 0;
    // Peer-close checks stop once the peer turns out to have stopped sending
    // with data left unread: asking again would only spin.
    bool watchPeerClose = true;
    while (sent < len && !cancelled_.load()) {
        short revents = 0;
        const short events = static_cast<short>(POLLOUT | (watchPeerClose ? POLLRDHUP : 0));
        const Wait wait = waitFor(events, kPollSliceMs, &revents);
        if (wait == Wait::Failed)
            return -1;
        if (wait != Wait::Ready)
            continue;
        if (revents & (POLLRDHUP | POLLHUP | POLLERR)) {
            int err = 0;
            const int n = peek(&err);
            if (n == 0 || ((revents & POLLHUP) && !(revents & POLLOUT))) {
                setError(ErrorCode::Reset);
                return -1;
            }
            if (n < 0 && err != EAGAIN && err != EWOULDBLOCK) {
                setError(ErrorCode::System, err);
                return -1;
            }
            watchPeerClose = false;
        }
        if (revents & POLLOUT) {
            const int n = rawWrite(p + sent, len - sent);
            if (n < 0)
                return -1;
            sent += n;
        }
    }
    if (sent < len) {
        consumeCancel();  // the flag may have ended the loop before the byte was read
        setError(ErrorCode::Aborted);
        return -1;
    }
    return len;
}

int CoIoDescriptor::readSome(void* buf, int len, int timeoutMs) {
    assert((buf || len == 0) && "buf != 0");
    if (!isValid()) {
        setError(ErrorCode::NotConnected);
        return -1;
    }
    cancelled_.store(false);
    if (len <= 0)
        return 0;
    short revents = 0;
    const Wait wait = waitFor(POLLIN, timeoutMs, &revents);
    if (wait == Wait::Failed)
        return -1;
    if (wait == Wait::TimedOut || !(revents & (POLLIN | POLLHUP | POLLERR)))
        return 0;
    const int n = rawRead(buf, len);
    if (n == 0) {
        setError(ErrorCode::Reset);
        return -1;
    }
    return n;
}

int CoIoDescriptor::writeSome(const void* buf, int len, int timeoutMs) {
    assert((buf || len == 0) && "buf != 0");
    if (!isValid()) {
        setError(ErrorCode::NotConnected);
        return -1;
    }
    cancelled_.store(false);
    short revents = 0;
    const Wait wait = waitFor(POLLOUT, timeoutMs, &revents);
    if (wait == Wait::Failed)
        return -1;
    if (wait == Wait::Cancelled) {
        setError(ErrorCode::Reset);
        return -1;
    }
    if (wait == Wait::TimedOut || !(revents & (POLLOUT | POLLHUP | POLLERR)))
        return 0;
    return rawWrite(buf, len);
}

bool CoIoDescriptor::writeStr(const char* str) {
    assert(str != 0 && "str != 0");
    const int len = static_cast<int>(std::strlen(str));
    return writeAll(str, len) == len;
}

int CoIoDescriptor::readLine(char* buff, int size) {
    assert(buff != 0 && "buff != 0");
    assert(size > 0 && "size > 0");
    int stored = 0;
    // Bounded in memory, not in time: a peer that never sends a newline is
    // ended by cancel() or by closing the connection.
    for (;;) {
        char c;
        if (readAll(&c, 1) != 1) {
            buff[stored] = '\0';
            setError(ErrorCode::Reset);
            return 0;
        }
        if (c == '\n') {
            buff[stored] = '\0';
            return stored;
        }
        if (stored < size - 1)
            buff[stored++] = c;
        else if (stored > 0)
            buff[stored - 1] = c;
    }
}

bool CoIoDescriptor::isConnected() {
    if (!isValid()) {
        setError(ErrorCode::NotConnected);
        return false;
    }
    int err = 0;
    const int n = peek(&err);
    if (n > 0)
        return true;
    if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK)) {
        // A connect still in progress (or given up after its time-out) also
        // has nothing to read; it has no peer yet.
        sockaddr_storage peer;
        socklen_t len = sizeof peer;
        if (hasPeer_ || ::getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &len) == 0) {
            hasPeer_ = true;
            return true;
        }
        setError(ErrorCode::NotConnected);
        return false;
    }
    setError(ErrorCode::Reset);
    return false;
}

bool CoIoDescriptor::isIdle() const {
    int err = 0;
    return isValid() && peek(&err) < 0 && (err == EAGAIN || err == EWOULDBLOCK);
}

bool CoIoDescriptor::close() {
    if (!isValid())
        return true;
    const int rc = ::close(fd_);
    const int err = errno;
    fd_ = INVALID_ID;
    // No retry on EINTR: Linux has released the descriptor already, and a
    // second close could hit one another thread just opened.
    if (rc == 0 || err == EINTR || err == EBADF || err == ENOENT)
        return true;
    setError(ErrorCode::System, err);
    return false;
}

bool CoIoDescriptor::getSocketIP(std::string&) {
    assert(false && "false");
    return false;
}

bool CoIoDescriptor::getPeerIP(std::string&) {
    assert(false && "false");
    return false;
}

void CoIoDescriptor::cancel() {
    // The byte goes first: resetCancel() clears the flag before it drains,
    // so a cancel racing with it is either forgotten whole or still ends the
    // call that follows (by the flag, by the byte, or both).
    for (;;) {
        if (::write(cancelWrite_, "*", 1) == 1) {
            cancelBytes_.fetch_add(1);
            break;
        }
        const int err = errno;
        if (err == EINTR)
            continue;
        if (err != EAGAIN && err != EWOULDBLOCK)  // full: a cancel is waiting already
            CO_ERROR("Could not cancel callIOHandler: %s", errnoText(err).c_str());
        break;
    }
    cancelled_.store(true);
}

namespace {

bool setIntOption(int fd, int level, int name, int value, int* err) {
    if (::setsockopt(fd, level, name, &value, sizeof value) == 0)
        return true;
    *err = errno;
    return false;
}

}  // namespace

bool CoIoDescriptor::setReceiveBufferSize(int sizeBytes) {
    int err = 0;
    if (setIntOption(fd_, SOL_SOCKET, SO_RCVBUF, sizeBytes, &err))
        return true;
    setError(ErrorCode::System, err);
    CO_DEBUG("Can't set socket option: '%s'.", lastError_.c_str());
    return false;
}

bool CoIoDescriptor::setSendBufferSize(int sizeBytes) {
    int err = 0;
    if (setIntOption(fd_, SOL_SOCKET, SO_SNDBUF, sizeBytes, &err))
        return true;
    setError(ErrorCode::System, err);
    CO_DEBUG("Can't set socket option: '%s'.", lastError_.c_str());
    return false;
}

bool CoIoDescriptor::setReuseAddress(bool on) {
    int err = 0;
    if (setIntOption(fd_, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0, &err))
        return true;
    setError(ErrorCode::System, err);
    CO_DEBUG("Can't set socket option: '%s'.", lastError_.c_str());
    return false;
}

}  // namespace Corvane
