#include "client/api/CorvaneEventListener.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcServerContext.h"
#include "base/tcp/CoAccept.h"
#include "base/tcp/CoIoTcpDescriptor.h"
#include "base/tcp/CoIoTcpServerDescriptor.h"

namespace {

constexpr int kBacklog = 16;
// Connections taken per readiness, so that a flood cannot starve the
// clients already connected.
constexpr int kAcceptsPerPass = 16;
// Rounds of binding every address to one port, each started afresh when a
// later address finds the first one's port taken.
constexpr int kPortAttempts = 20;

}  // namespace

CorvaneEventListener::CorvaneEventListener(Corvane::rcServerContext& server, int fd, std::string address)
    : Corvane::CoIoHandler(kReadEvent), server_(server), socket_(fd), address_(std::move(address)) {}

std::unique_ptr<CorvaneEventListener> CorvaneEventListener::open(Corvane::rcServerContext& server,
                                                                 const std::string& address, int port, int* boundPort,
                                                                 int* err) {
    Corvane::TcpListenOptions options;
    options.nonBlocking = true;
    options.backlog = kBacklog;
    const int fd = Corvane::listenTcpOn(address, port, options, boundPort, err);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<CorvaneEventListener>(new CorvaneEventListener(server, fd, address));
}

std::vector<std::unique_ptr<CorvaneEventListener>> CorvaneEventListener::openAll(
    Corvane::rcServerContext& server, const std::vector<std::string>& addresses, int* port) {
    std::vector<std::unique_ptr<CorvaneEventListener>> listeners;
    for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
        listeners.clear();
        *port = -1;
        bool retry = false;
        for (const std::string& address : addresses) {
            int bound = -1;
            int err = 0;
            std::unique_ptr<CorvaneEventListener> l = open(server, address, *port < 0 ? 0 : *port, &bound, &err);
            if (l) {
                *port = bound;
                listeners.push_back(std::move(l));
                continue;
            }
            if (err == EADDRINUSE && *port >= 0) {
                retry = true;  // the port is taken on this address only: try another
                break;
            }
            // An address can go between listing the interfaces and binding.
            CO_WARNING("Could not listen for node events on '%s': %s", address.c_str(),
                       Corvane::CoIoDescriptor::errnoText(err).c_str());
        }
        if (!retry)
            return listeners;
    }
    CO_ERROR("Could not find a port free on every metadata interface");
    listeners.clear();
    *port = -1;
    return listeners;
}

bool CorvaneEventListener::handleReadable() {
    return Corvane::acceptPass(socket_.getFd(), kAcceptsPerPass, "'" + address_ + "'", [this](int fd) {
        server_.newConnection(std::make_unique<Corvane::CoIoTcpDescriptor>(fd));
    });
}
