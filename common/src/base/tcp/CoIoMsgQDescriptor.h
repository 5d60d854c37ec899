// A local stream socket connected to a socket file: the message-queue path
// to a server on the same host. Owns its socket like every CoIoDescriptor:
// one thread uses it at a time and any thread may call cancel().
#pragma once

#include <string>

#include "base/tcp/CoIoDescriptor.h"

namespace Corvane {

class CoIoMsgQDescriptor : public CoIoDescriptor {
public:
    CoIoMsgQDescriptor();
    // Takes ownership of a connected local socket.
    explicit CoIoMsgQDescriptor(int fd);

    // Connects to the socket file at path, closing any earlier connection.
    // Does not wait: a listener with a full queue fails the call.
    bool open(const std::string& path);

    // Local sockets have no address; they count as the loopback one.
    bool getSocketIP(std::string& ip) override;
    bool getPeerIP(std::string& ip) override;

    const std::string& getPath() const { return path_; }

    // XQ_MSGQ_BUFSIZE, read once: when positive, the send and receive buffer
    // size of every connection opened.
    static int getBufSize();

private:
    std::string path_;
};

}  // namespace Corvane
