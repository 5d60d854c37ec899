#include "client/api/CorvaneMulticastClient.h"

#include <memory>

#include "base/threads/CoLockGuard.h"
#include "base/threads/CoMutex.h"

namespace {
struct Singleton {
    Corvane::CoMutex mutex;  // guards client
    std::unique_ptr<CorvaneMulticastClient> client;
};

Singleton& singleton() {
    static Singleton s;
    return s;
}
}  // namespace

CorvaneMulticastClient* CorvaneMulticastClient::instance() {
    Singleton& s = singleton();
    Corvane::CoLockGuard guard(s.mutex);
    if (!s.client)
        s.client.reset(new CorvaneMulticastClient);
    return s.client.get();
}

void CorvaneMulticastClient::destroyInstance() {
    std::unique_ptr<CorvaneMulticastClient> doomed;
    {
        Singleton& s = singleton();
        Corvane::CoLockGuard guard(s.mutex);
        doomed = std::move(s.client);
    }
}

// Until discovery is in, no server is known: every identifier falls back to
// its own host and port.
bool CorvaneMulticastClient::resolve(const CorvaneServerId&, CorvaneDaemonInfo&) { return false; }

void CorvaneMulticastClient::refreshServer(const CorvaneServerId&) {}

void CorvaneMulticastClient::removeServer(const CorvaneServerId&) {}

void CorvaneMulticastClient::findStorage(const char*) {}
