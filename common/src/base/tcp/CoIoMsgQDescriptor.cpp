#include "base/tcp/CoIoMsgQDescriptor.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/loggerBase/CoMsg.h"

namespace Corvane {

namespace {

constexpr const char* kLoopbackAddress = "127.0.0.1";

}  // namespace

CoIoMsgQDescriptor::CoIoMsgQDescriptor() : CoIoDescriptor(INVALID_ID) {}

CoIoMsgQDescriptor::CoIoMsgQDescriptor(int fd) : CoIoDescriptor(fd) {}

int CoIoMsgQDescriptor::getBufSize() {
    static const int size = [] {
        const char* text = std::getenv("XQ_MSGQ_BUFSIZE");
        return text ? static_cast<int>(std::strtol(text, nullptr, 10)) : 0;
    }();
    return size;
}

bool CoIoMsgQDescriptor::open(const std::string& path) {
    close();
    clearError();
    path_ = path;

    sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    // A cut path would name another file; refuse it instead.
    if (path.size() >= sizeof addr.sun_path || path.find('\0') != std::string::npos) {
        setError(ErrorCode::System, ENAMETOOLONG);
        CO_DEBUG("Could not connect to socket pipe file '%s': %s", path.c_str(), lastError().c_str());
        return false;
    }
    std::memcpy(addr.sun_path, path.data(), path.size());

    // Non-blocking, like the TCP connections: connect must not wait on a
    // listener that does not accept.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        const int err = errno;
        setError(ErrorCode::System, err);
        CO_DEBUG("Could not create socket: %s", lastError().c_str());
        return false;
    }
    setFd(fd);
    const int bufSize = getBufSize();
    if (bufSize > 0) {
        setSendBufferSize(bufSize);
        setReceiveBufferSize(bufSize);
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        setError(ErrorCode::System, err);
        CO_DEBUG("Could not connect to socket pipe file '%s': %s", path.c_str(), lastError().c_str());
        closeFd();
        return false;
    }
    return true;
}

bool CoIoMsgQDescriptor::getSocketIP(std::string& ip) {
    ip = kLoopbackAddress;
    return true;
}

bool CoIoMsgQDescriptor::getPeerIP(std::string& ip) {
    ip = kLoopbackAddress;
    return true;
}

}  // namespace Corvane
