#include "base/rcApi/rcAPI.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>

#include "base/rcApi/rcConnectionInfo.h"
#include "base/rcApi/rcSysCalls.h"
#include "base/tcp/CoIoTcpDescriptor.h"
#include "base/threads/CoLockGuard.h"
#include "base/time/CoClock.h"

namespace Corvane {

namespace {

// A parked connection older than this is closed rather than reused: the
// server may have dropped it meanwhile.
constexpr int64_t kParkedForUs = 5 * 1000 * 1000;

struct Parked {
    std::string host;
    int port = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    int64_t sinceUs = 0;
    std::unique_ptr<CoIoTcpDescriptor> descriptor;
};

CoMutex& parkedMutex() {
    static CoMutex* const mutex = new CoMutex;  // still there for late users at exit
    return *mutex;
}

Parked& parkedSlot() {
    static Parked* const slot = new Parked;
    return *slot;
}

// The kept connection when it was left by this user for host:port and is
// fresh; the slot is emptied either way.
std::unique_ptr<CoIoTcpDescriptor> takeParked(const std::string& host, int port) {
    std::unique_ptr<CoIoTcpDescriptor> taken;
    {
        CoLockGuard guard(parkedMutex());
        Parked& slot = parkedSlot();
        if (!slot.descriptor)
            return nullptr;
        taken = std::move(slot.descriptor);
        const bool mine = slot.host == host && slot.port == port && slot.uid == ::geteuid() &&
                          slot.gid == ::getegid() && CoClock::monotonicUs() - slot.sinceUs <= kParkedForUs;
        if (!mine)
            taken.reset();  // closes, under the lock: a close does not block
    }
    // Closed by the server, or holding bytes nobody asked for: not reusable.
    if (taken && !taken->isIdle())
        taken.reset();
    return taken;
}

// Whole milliseconds until the deadline, rounded up so that a wait never
// ends just before it; 0 once it has passed.
int msUntil(int64_t deadlineUs) {
    const int64_t left = deadlineUs - CoClock::monotonicUs();
    if (left <= 0)
        return 0;
    const int64_t ms = (left + 999) / 1000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

int chunk(size_t n) { return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n); }

}  // namespace

rcAPI::rcAPI() = default;

rcAPI::~rcAPI() { disconnect(); }

std::string rcAPI::lastError() const {
    CoLockGuard guard(mutex_);
    return lastError_;
}

bool rcAPI::fail(std::string& result, const std::string& text) {
    const std::string copy = text;  // text may be result itself
    {
        CoLockGuard guard(mutex_);
        lastError_ = copy;
    }
    result = copy;
    return false;
}

bool rcAPI::failStopped(const char* method, std::string& result) {
    disconnect();
    stopped_.store(true);
    std::string text;
    {
        CoLockGuard guard(mutex_);
        if (lastError_.empty())
            lastError_ = std::string(method) + " command stopped.";
        text = lastError_;
    }
    result = text;
    return false;
}

bool rcAPI::connect(const char* host, int port, int loginTimeoutMs) {
    disconnect();
    timedOut_.store(false);
    stopped_.store(false);
    std::string ignored;
    if (!buffer_) {
        buffer_.reset(new (std::nothrow) char[kReceiveBufferBytes]);
        if (!buffer_)
            return fail(ignored, "Cannot allocate result buffer.");
    }
    if (!host || port < 0)
        return fail(ignored, CoIoDescriptor::errnoText(EINVAL));
    host_ = host;
    port_ = port;
    if (std::unique_ptr<CoIoTcpDescriptor> kept = takeParked(host_, port_)) {
        CoLockGuard guard(mutex_);
        descriptor_ = std::move(kept);
        stopRequested_.store(false);
        lastError_.clear();  // as after a login that succeeds
        return true;         // logged in when it was parked
    }
    {
        // Published before connecting, so that stop() can end the connect.
        CoLockGuard guard(mutex_);
        descriptor_ = std::make_unique<CoIoTcpDescriptor>();
        stopRequested_.store(false);
    }
    const bool connected = descriptor_->connectTo(host, port, 0, 0, kConnectTimeoutSeconds);
    if (stopRequested())
        return failStopped(rcSysCalls::CALL_LOGIN, ignored);
    if (!connected) {
        const std::string text =
            descriptor_->lastError().empty() ? CoIoDescriptor::errnoText(ENOTCONN) : descriptor_->lastError();
        disconnect();
        return fail(ignored, text);
    }
    return login(loginTimeoutMs);
}

bool rcAPI::login(int loginTimeoutMs) {
    std::string text;
    try {
        rcConnectionInfo info;
        info.fill(descriptor_.get());
        text = info.toString();
    } catch (const std::exception& e) {
        disconnect();
        return fail(text, e.what());
    }
    std::string result;
    if (exchange(0, rcSysCalls::CALL_LOGIN, text.c_str(), true, result, loginTimeoutMs))
        return true;
    // A server without a login method takes every client.
    const std::string unknown = "Unknown method: ";
    if (descriptor_ &&
        (result == unknown + rcSysCalls::CALL_LOGIN || result == unknown + "'" + rcSysCalls::CALL_LOGIN + "'.")) {
        CoLockGuard guard(mutex_);
        lastError_.clear();
        return true;
    }
    disconnect();  // lastError_ keeps the reply's text
    return false;
}

void rcAPI::disconnect() {
    std::unique_ptr<CoIoTcpDescriptor> old;
    {
        CoLockGuard guard(mutex_);
        old = std::move(descriptor_);
        stopRequested_.store(false);
    }
    buffer_.reset();
    // old closes here, outside the lock.
}

void rcAPI::park() {
    std::unique_ptr<CoIoTcpDescriptor> kept;
    {
        CoLockGuard guard(mutex_);
        kept = std::move(descriptor_);
        stopRequested_.store(false);
    }
    buffer_.reset();
    if (!kept || !kept->isIdle())
        return;
    std::unique_ptr<CoIoTcpDescriptor> previous;
    {
        CoLockGuard guard(parkedMutex());
        Parked& slot = parkedSlot();
        previous = std::move(slot.descriptor);
        slot.host = host_;
        slot.port = port_;
        slot.uid = ::geteuid();
        slot.gid = ::getegid();
        slot.sinceUs = CoClock::monotonicUs();
        slot.descriptor = std::move(kept);
    }
    // previous closes here, outside the lock.
}

void rcAPI::closeParked() {
    std::unique_ptr<CoIoTcpDescriptor> kept;
    {
        CoLockGuard guard(parkedMutex());
        kept = std::move(parkedSlot().descriptor);
    }
}

bool rcAPI::isConnected() const { return descriptor_ && descriptor_->isConnected(); }

void rcAPI::stop(const char* reason) {
    CoLockGuard guard(mutex_);
    if (!descriptor_)
        return;
    stopRequested_.store(true);
    stopped_.store(true);
    lastError_ = reason ? reason : CoIoDescriptor::errnoText(ECONNABORTED);
    descriptor_->cancel();
}

bool rcAPI::call(int objectId, const char* method, const char* args, bool sync, std::string& result, int timeoutMs) {
    timedOut_.store(false);
    stopped_.store(false);
    {
        // A stop that came before this call was meant for an earlier one.
        CoLockGuard guard(mutex_);
        stopRequested_.store(false);
        if (descriptor_)
            descriptor_->resetCancel();
    }
    foundNoConnection_.store(!isConnected());
    if (foundNoConnection_.load()) {
        disconnect();  // a socket the server has closed is of no further use
        return fail(result, "Connection not established.");
    }
    return exchange(objectId, method, args, sync, result, timeoutMs);
}

bool rcAPI::exchange(int objectId, const char* method, const char* args, bool sync, std::string& result,
                     int timeoutMs) {
    if (!method)
        method = "";
    if (stopRequested())
        return failStopped(method, result);
    if (timeoutMs < 0)
        timeoutMs = 0;
    const int64_t startUs = CoClock::monotonicUs();
    try {
        command_.set(sync, objectId, method, args);
        line_.clear();
        command_.render(line_);
        if (!sendCommand(method, result, startUs + static_cast<int64_t>(timeoutMs) * 1000, timeoutMs))
            return false;
        if (!sync) {
            result.clear();
            return true;
        }
        // A time-out of 0 still gives the reply a millisecond.
        const int readMs = timeoutMs == 0 ? 1 : timeoutMs;
        return readReply(method, result, startUs + static_cast<int64_t>(readMs) * 1000);
    } catch (const std::exception& e) {
        // Only an allocation can throw here; the stream is unusable after.
        disconnect();
        return fail(result, e.what());
    }
}

bool rcAPI::sendCommand(const char* method, std::string& result, int64_t deadlineUs, int timeoutMs) {
    const char* p = line_.data();
    size_t left = line_.size();
    // A command nearly always fits the socket buffer: the first try does not
    // wait, and the waiting writes (which watch the cancel pipe) take the
    // rest, the first of them with the whole time-out.
    int n = descriptor_->rawWrite(p, chunk(left));
    int msLeft = timeoutMs;
    bool waited = false;
    for (;;) {
        if (stopRequested())
            return failStopped(method, result);
        if (n < 0) {
            const std::string text = descriptor_->lastError();
            disconnect();
            return fail(result, text);
        }
        p += n;
        left -= static_cast<size_t>(n);
        if (left == 0)
            return true;
        if (waited) {
            msLeft = msUntil(deadlineUs);
            if (msLeft <= 0) {
                disconnect();  // half a command is on the wire: the stream is lost
                return fail(result, CoIoDescriptor::errnoText(ETIMEDOUT));
            }
        }
        n = descriptor_->writeSome(p, chunk(left), msLeft);
        waited = true;
    }
}

bool rcAPI::readReply(const char* method, std::string& result, int64_t deadlineUs) {
    reply_.reset();
    char* buf = buffer_.get();
    size_t bytes = 0;
    bool complete = false;
    int msLeft = msUntil(deadlineUs);
    while (!complete) {
        const int n = descriptor_->readSome(buf, kReceiveBufferBytes, msLeft);
        if (stopRequested())
            return failStopped(method, result);
        if (n < 0) {
            const std::string text = descriptor_->lastError();
            disconnect();
            return fail(result, text);
        }
        bytes += static_cast<size_t>(n);
        if (bytes > kMaxReplyBytes) {
            disconnect();
            return fail(result, "Reply to '" + std::string(method) + "' is longer than the limit; connection closed.");
        }
        reply_.feed(buf, static_cast<size_t>(n), &complete);  // anything after the newline is dropped
        if (complete)
            break;
        msLeft = msUntil(deadlineUs);
        if (msLeft <= 0) {
            timedOut_.store(true);
            disconnect();  // the reply may still come: it must not meet the next call
            return fail(result, CoIoDescriptor::errnoText(ETIMEDOUT));
        }
    }
    result.assign(reply_.value().data(), reply_.value().length());
    if (!reply_.isOk())
        return fail(result, result);
    return true;
}

}  // namespace Corvane
