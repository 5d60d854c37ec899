// Internal to corvane_sim.
// One listening socket on a loopback address (127.0.0.1 or ::1) that hands
// every accepted connection to a server context. The stand-in server uses
// two of these instead of the context's own listener, which would listen
// on every interface. Owns its socket; runs on the dispatching thread.
#pragma once

#include <memory>
#include <string>

#include "base/tcp/CoIoDescriptor.h"
#include "base/tcp/CoIoHandler.h"

namespace Corvane {
class rcServerContext;
}

namespace CorvaneSim {

class SimListener : public Corvane::CoIoHandler {
public:
    // Listens on address:port (port 0: the system picks). Null with *error
    // set, and *errnoValue the failing call's errno, when that fails.
    static std::unique_ptr<SimListener> open(Corvane::rcServerContext& server, const char* address, int port,
                                             std::string* error, int* errnoValue);

    const Corvane::CoIoDescriptor* getDescriptor() const override { return &socket_; }
    Corvane::CoIoDescriptor* getDescriptor() override { return &socket_; }
    // Accepts what is waiting; false only when the socket itself failed.
    bool handleReadable() override;

    int port() const { return port_; }

private:
    SimListener(Corvane::rcServerContext& server, int fd, int port);

    Corvane::rcServerContext& server_;
    Corvane::CoIoDescriptor socket_;
    int port_;
};

}  // namespace CorvaneSim
