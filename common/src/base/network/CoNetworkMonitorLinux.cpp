// Design: the monitor thread waits in poll() on the routing socket and on a
// wake pipe. wake() sets the stop flag and writes one byte to the pipe;
// stop() then joins the thread, so the thread always ends between
// datagrams, outside every lock. Without a pipe the wait has a short
// time-out after which the flag is read. The thread allows cancellation
// only while it waits, so that even a last-resort cancel can never leave a
// lock held. If the socket could not be opened or bound, the thread waits on
// the pipe alone: no spinning, no log flood.
#include "base/network/CoNetworkMonitorImpl.h"

#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/loggerBase/CoMsg.h"
#include "base/network/CoNetlink.h"
#include "base/threads/CoThread.h"

namespace Corvane {

namespace {

// How often a thread with no wake pipe looks at its stop flag.
constexpr int kNoPipePollMs = 200;

class CoNetworkMonitorLinux : public CoNetworkMonitorImpl {
public:
    explicit CoNetworkMonitorLinux(Callback callback);
    ~CoNetworkMonitorLinux() override;

    void run() override;

private:
    void wake() override;

    // Receives one datagram; true when it reports a change, or when the
    // kernel dropped notifications and the picture must be read again.
    bool receive();

    int socket_ = -1;  // routing socket, -1 when none
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};
};

CoNetworkMonitorLinux::CoNetworkMonitorLinux(Callback callback) : CoNetworkMonitorImpl(callback) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead_ = fds[0];
        wakeWrite_ = fds[1];
    } else {
        const int err = errno;
        CO_ERROR("Could not create control pipe: %s", std::strerror(err));
    }

    socket_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (socket_ < 0) {
        const int err = errno;
        CO_ERROR("Could not create netlink socket: %s", std::strerror(err));
        return;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_pid = 0;  // the kernel picks the port id
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
    if (bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int err = errno;
        CO_ERROR("Could not bind netlink socket: %s", std::strerror(err));
        close(socket_);
        socket_ = -1;
    }
}

CoNetworkMonitorLinux::~CoNetworkMonitorLinux() {
    stop();
    if (socket_ >= 0 && close(socket_) != 0) {
        const int err = errno;
        CO_ERROR("Could not close netlink socket: %s", std::strerror(err));
    }
    if (wakeRead_ >= 0)
        close(wakeRead_);
    if (wakeWrite_ >= 0)
        close(wakeWrite_);
}

void CoNetworkMonitorLinux::wake() {
    stopping_.store(true);
    // Without a pipe the poll time-out brings the thread to the flag.
    if (wakeWrite_ < 0)
        return;
    const char byte = 'x';
    const ssize_t written = write(wakeWrite_, &byte, 1);
    (void)written;  // a full pipe already holds a wake
}

bool CoNetworkMonitorLinux::receive() {
    alignas(nlmsghdr) char buffer[CoNetlink::kNotificationBufferSize];
    sockaddr_nl sender{};
    socklen_t senderSize = sizeof sender;
    const ssize_t received =
        recvfrom(socket_, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&sender), &senderSize);
    if (received < 0) {
        const int err = errno;
        if (err == EINTR || err == EAGAIN || err == EWOULDBLOCK)
            return false;
        CO_ERROR("Could not receive from netlink: %s", std::strerror(err));
        return err == ENOBUFS;  // notifications were lost
    }
    if (sender.nl_pid != 0)
        return false;  // only the kernel reports topology
    return CoNetlink::isTopologyChange(buffer, static_cast<size_t>(received));
}

void CoNetworkMonitorLinux::run() {
    int old = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old);
    pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, &old);
    int watched = socket_;
    const int timeoutMs = wakeRead_ >= 0 ? -1 : kNoPipePollMs;
    while (!stopping_.load()) {
        pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {watched, POLLIN, 0}};  // poll skips a descriptor of -1
        pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &old);
        const int ready = poll(fds, 2, timeoutMs);
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old);
        if (ready < 0) {
            const int err = errno;
            if (err == EINTR)
                continue;
            CO_ERROR("Could not wait for netlink: %s", std::strerror(err));
            return;
        }
        if (fds[0].revents != 0 || stopping_.load())
            return;  // stop() asked
        if (fds[1].revents & POLLNVAL) {
            watched = -1;
            continue;
        }
        if (fds[1].revents != 0 && receive())
            callback_();
    }
}

}  // namespace

std::unique_ptr<CoNetworkMonitorImpl> CoNetworkMonitorImpl::create(Callback callback) {
    return std::make_unique<CoNetworkMonitorLinux>(callback);
}

}  // namespace Corvane
