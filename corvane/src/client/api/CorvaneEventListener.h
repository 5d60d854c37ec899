// Internal to corvane_client.
// One listening TCP socket on one local address that hands every accepted
// connection to a server context. The event monitor listens through these,
// instead of the context's own socket on every interface, when the network
// configuration names the metadata interfaces. Owns its socket; runs on the
// context's dispatching thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/tcp/CoIoDescriptor.h"
#include "base/tcp/CoIoHandler.h"

namespace Corvane {
class rcServerContext;
}

class CorvaneEventListener : public Corvane::CoIoHandler {
public:
    // Listens on every address (numeric, IPv6 link-local ones with their
    // "%interface") on one port the system picks, which goes to *port. An
    // address that can not be had is posted and left out; *port is -1 and
    // the list empty when none could.
    static std::vector<std::unique_ptr<CorvaneEventListener>> openAll(Corvane::rcServerContext& server,
                                                                      const std::vector<std::string>& addresses,
                                                                      int* port);

    const Corvane::CoIoDescriptor* getDescriptor() const override { return &socket_; }
    Corvane::CoIoDescriptor* getDescriptor() override { return &socket_; }
    // Accepts what is waiting; false only when the socket itself failed.
    bool handleReadable() override;

    const std::string& address() const { return address_; }

private:
    CorvaneEventListener(Corvane::rcServerContext& server, int fd, std::string address);
    // Listens on address:port (0: the system picks); null with *err set.
    static std::unique_ptr<CorvaneEventListener> open(Corvane::rcServerContext& server, const std::string& address,
                                                      int port, int* boundPort, int* err);

    Corvane::rcServerContext& server_;
    Corvane::CoIoDescriptor socket_;
    std::string address_;
};
