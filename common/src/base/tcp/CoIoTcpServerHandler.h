// Accepts TCP connections on its listening socket when the dispatcher finds
// it readable, and hands each one, wrapped in a CoIoTcpDescriptor, to the
// subclass; optionally in a child process forked per connection. Owns the
// listening descriptor. Runs on the dispatcher's thread only.
//
// Design note. With forking on, the parent closes its copy of the accepted
// socket and goes on listening; the child closes the listening socket (so a
// dispatcher there drops this handler) and serves the one connection.
#pragma once

#include <memory>

#include "base/tcp/CoIoHandler.h"
#include "base/tcp/CoIoTcpDescriptor.h"
#include "base/tcp/CoIoTcpServerDescriptor.h"

namespace Corvane {

class CoIoTcpServerHandler : public CoIoHandler {
public:
    // The listening socket is made by server().initPort().
    CoIoTcpServerHandler();

    const CoIoDescriptor* getDescriptor() const override { return &server_; }
    CoIoDescriptor* getDescriptor() override { return &server_; }
    // Accepts one connection. False only when the listening socket is no
    // longer usable (or a fork failed); a client gone before it was
    // accepted leaves the handler serving.
    bool handleReadable() override;

    // Wraps an accepted socket and passes it to newConnection().
    virtual bool wrap(int fd);
    // Starts serving a client; the descriptor is the subclass's now.
    virtual bool newConnection(std::unique_ptr<CoIoTcpDescriptor> client) = 0;
    virtual bool forkOnConnection() const { return false; }
    virtual void beforeFork() {}
    virtual void afterFork(bool inChild) { (void)inChild; }

    CoIoTcpServerDescriptor& server() { return server_; }
    const CoIoTcpServerDescriptor& server() const { return server_; }

private:
    bool forkAndServe(int fd);

    CoIoTcpServerDescriptor server_;
};

}  // namespace Corvane
