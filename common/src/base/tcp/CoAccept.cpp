#include "base/tcp/CoAccept.h"

#include <sys/socket.h>

#include <cerrno>

#include "base/loggerBase/CoMsg.h"
#include "base/tcp/CoIoDescriptor.h"

namespace Corvane {

AcceptFailure acceptFailureOf(int err) {
    if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR || err == ECONNABORTED || err == EPROTO)
        return AcceptFailure::Retry;
    if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM)
        return AcceptFailure::BackOff;
    return AcceptFailure::Fatal;
}

bool acceptPass(int listenFd, int maxConnections, const std::string& where, const std::function<void(int fd)>& take) {
    for (int i = 0; i < maxConnections; ++i) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            take(fd);
            continue;
        }
        const int err = errno;
        switch (acceptFailureOf(err)) {
            case AcceptFailure::Retry:
                return true;
            case AcceptFailure::BackOff:
                CO_ERROR("Can't accept client connection on %s: %s", where.c_str(),
                         CoIoDescriptor::errnoText(err).c_str());
                return true;
            case AcceptFailure::Fatal:
                break;
        }
        CO_ERROR("Listening socket on %s failed: %s", where.c_str(), CoIoDescriptor::errnoText(err).c_str());
        return false;
    }
    return true;
}

}  // namespace Corvane
