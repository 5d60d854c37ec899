#include "base/tcp/CoIoTcpServerHandler.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "base/env/EnvVar.h"
#include "base/env/EnvVarRegistry.h"
#include "base/loggerBase/CoMsg.h"
#include "base/tcp/CoAccept.h"

namespace Corvane {

namespace {

// Seconds both processes wait after a fork per connection; lets a debugger
// attach to the child.
EnvVar<int> gForkDelayVar("XQ_TCP_FORK_ON_CONN_DELAY", 0);
RegEnvVar<int> gForkDelayReg(__FILE__, gForkDelayVar);

void sleepAfterFork() {
    const int seconds = gForkDelayVar.getValue();
    if (seconds <= 0)
        return;
    const long long ms = static_cast<long long>(seconds) * 1000;
    timespec left = {static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace

CoIoTcpServerHandler::CoIoTcpServerHandler() : CoIoHandler(kReadEvent) {}

bool CoIoTcpServerHandler::handleReadable() {
    sockaddr_storage addr;  // large enough for IPv6
    socklen_t len = sizeof addr;
    const int fd = ::accept4(server_.getFd(), reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        CO_DEBUG("Can't accept client connection: %s.", CoIoDescriptor::errnoText(err).c_str());
        return acceptFailureOf(err) == AcceptFailure::Retry;
    }
    CO_DEBUG("Connection successful.");
    if (!forkOnConnection())
        return wrap(fd);
    return forkAndServe(fd);
}

bool CoIoTcpServerHandler::forkAndServe(int fd) {
    beforeFork();
    const pid_t pid = ::fork();
    const int err = errno;
    if (pid < 0) {
        CO_WARNING("Can't fork on client connection: %s.", CoIoDescriptor::errnoText(err).c_str());
        ::close(fd);
        return false;
    }
    sleepAfterFork();
    if (pid > 0) {
        afterFork(false);
        if (::close(fd) != 0) {
            const int closeErr = errno;
            CO_WARNING("Could not close pre-fork port in parent: %s", CoIoDescriptor::errnoText(closeErr).c_str());
        }
        return true;
    }
    afterFork(true);
    if (!server_.close()) {
        const std::string text = server_.lastError() + "\n";
        // Standard output is all the child has to tell anyone.
        const ssize_t written = ::write(1, text.data(), text.size());
        (void)written;
    }
    return wrap(fd);
}

bool CoIoTcpServerHandler::wrap(int fd) { return newConnection(std::make_unique<CoIoTcpDescriptor>(fd)); }

}  // namespace Corvane
