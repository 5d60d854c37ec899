#include "client/api/CorvaneRawDataClientConnection.h"

#include <sys/socket.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/env/EnvVar.h"
#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoMsg.h"
#include "base/tcp/CoIoMsgQDescriptor.h"
#include "base/tcp/CoIoTcpDescriptor.h"
#include "base/threads/CoLockGuard.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneDaemonInfoMgr.h"

namespace {

// Waits are cut into slices so that the idle time-out is counted.
constexpr int kSliceMs = 1000;
// The most one socket call is given.
constexpr size_t kMaxChunk = INT_MAX;

constexpr char kReadFailed[] = "Cannot read data on socket: ";

int chunkOf(size_t left) { return static_cast<int>(left > kMaxChunk ? kMaxChunk : left); }

[[noreturn]] void throwText(const std::string& text) { throw Corvane::CoException(text.c_str(), __LINE__, __FILE__); }

}  // namespace

CorvaneRawDataClientConnection::CorvaneRawDataClientConnection(CorvaneDaemonInfoMgr& owner) : owner_(owner) {}

CorvaneRawDataClientConnection::~CorvaneRawDataClientConnection() = default;

int CorvaneRawDataClientConnection::bufferSize() {
    static const int size = [] {
        const char* text = std::getenv("QM_CORVANE_TCP_BUF_SIZE");
        const int value = Corvane::leadingDigits(text);
        return value > 0 ? value : 0;
    }();
    return size;
}

void CorvaneRawDataClientConnection::install(std::unique_ptr<Corvane::CoIoDescriptor> descriptor, bool local) {
    std::unique_ptr<Corvane::CoIoDescriptor> old;
    {
        Corvane::CoLockGuard guard(mutex_);
        old = std::move(descriptor_);
        descriptor_ = std::move(descriptor);
        local_ = local;
    }
    // old closes here, outside the lock.
}

void CorvaneRawDataClientConnection::close() { install(nullptr, false); }

bool CorvaneRawDataClientConnection::isConnected() const {
    Corvane::CoLockGuard guard(mutex_);
    return descriptor_ != nullptr;
}

void CorvaneRawDataClientConnection::connect() {
    CorvaneDaemonInfo info;
    if (!owner_.getDaemonInfo(info))
        throwText(owner_.lastError());
    const bool local = info.isLocal();
    const int port = info.getFramePort() > 0 ? info.getFramePort() : kDefaultFramePort;
    std::string lastError;
    bool any = false;
    for (int i = 0; i < 5; ++i) {
        const std::string address = info.getFrameIP(i);
        if (address.empty())
            break;
        any = true;
        close();
        if (local) {
            // A server on this host is reached without the network stack.
            const std::string path = info.getMsgQName();
            auto msgq = std::make_unique<Corvane::CoIoMsgQDescriptor>();
            if (msgq->open(path)) {
                install(std::move(msgq), true);
                return;
            }
            CO_WARNING("Could not connect to socket pipe file '%s': %s", path.c_str(), msgq->lastError().c_str());
        }
        auto tcp = std::make_unique<Corvane::CoIoTcpDescriptor>();
        Corvane::CoIoTcpDescriptor* raw = tcp.get();
        install(std::move(tcp), false);  // from here on interrupt() reaches the connect
        if (raw->connectTo(address.c_str(), port, bufferSize(), bufferSize(), kConnectTimeoutSeconds)) {
            if (!raw->setNonBlocking(false))
                CO_WARNING("Couldn't set socket as blocking: %s", raw->lastError().c_str());
            return;
        }
        lastError = raw->lastError();
    }
    close();
    throwText(any ? lastError : "No data interface found");
}

void CorvaneRawDataClientConnection::fail(const std::string& text) {
    close();
    throwText(text);
}

void CorvaneRawDataClientConnection::readExactly(void* buffer, size_t size) {
    if (!descriptor_)
        connect();
    Corvane::CoIoDescriptor* d = descriptor_.get();  // only this thread replaces it
    char* p = static_cast<char*>(buffer);
    size_t left = size;
    int idleMs = 0;
    while (left > 0) {
        // What has arrived is taken without a wait, which would cost a
        // poll per chunk of a large frame; only an empty socket is waited
        // on, through the descriptor, which also watches for interrupts.
        const ssize_t got = ::recv(d->getFd(), p, left, MSG_DONTWAIT);
        const int err = errno;
        if (d->cancelled())
            fail("Operation aborted.");
        if (got > 0) {
            p += got;
            left -= static_cast<size_t>(got);
            idleMs = 0;
            continue;
        }
        // A peer that closes, orderly or not, reads as a reset, whatever
        // part of the reply it sent.
        if (got == 0)
            fail(kReadFailed + Corvane::CoIoDescriptor::errnoText(ECONNRESET));
        if (err == EINTR)
            continue;
        if (err != EAGAIN && err != EWOULDBLOCK)
            fail(kReadFailed + Corvane::CoIoDescriptor::errnoText(err));
        const int n = d->readSome(p, chunkOf(left), kSliceMs);
        if (n > 0) {
            p += n;
            left -= static_cast<size_t>(n);
            idleMs = 0;
        } else if (n == 0) {
            if (d->cancelled())
                fail("Operation aborted.");
            idleMs += kSliceMs;
            if (idleMs >= kIdleTimeoutMs)
                fail(kReadFailed + Corvane::CoIoDescriptor::errnoText(ETIMEDOUT));
        } else {
            fail(kReadFailed + d->lastError());
        }
    }
}

void CorvaneRawDataClientConnection::writeExactly(const void* data, size_t size) {
    if (!descriptor_)
        connect();
    Corvane::CoIoDescriptor* d = descriptor_.get();
    const char* p = static_cast<const char*>(data);
    size_t left = size;
    int idleMs = 0;
    while (left > 0) {
        // writeSome, unlike writeAll, keeps an interrupt made just before it.
        const int n = d->writeSome(p, chunkOf(left), kSliceMs);
        if (n > 0) {
            p += n;
            left -= static_cast<size_t>(n);
            idleMs = 0;
        } else if (n == 0) {
            idleMs += kSliceMs;
            if (idleMs >= kIdleTimeoutMs)
                fail(Corvane::CoIoDescriptor::errnoText(ETIMEDOUT));
        } else {
            fail(d->cancelled() ? "Operation aborted." : d->lastError());
        }
    }
}

void CorvaneRawDataClientConnection::beginOperation() {
    if (descriptor_)
        descriptor_->resetCancel();
}

void CorvaneRawDataClientConnection::interrupt() {
    Corvane::CoLockGuard guard(mutex_);
    if (descriptor_)
        descriptor_->cancel();
}
