// Internal to corvane_sim.
// The stand-in media server on the wire: a server context that listens on
// 127.0.0.1, ::1 and the discovery interface's address only, serves every
// SimService method on object 0, plays the faults of its options (delayed
// replies, failed methods, closed connections), and owns the server's part
// in discovery once startDiscovery() is called.
//
// Design note. Everything runs on the thread that calls run(): accepting,
// reading commands, running methods and sending replies; stop() alone may
// come from another thread (or a signal watcher) and wakes the loop through
// the dispatcher's cancel pipe. Every SimService method is registered for
// delayed return, so that a reply can wait for its delay in a queue while
// other connections are served; without a delay the reply goes out before
// the method's callback returns. A method runs when its reply is due, not
// when it arrives. The queue holds plain client pointers: the server
// context deletes a gone client only when it accepts the next connection,
// and newConnection() drops the queue's entries for gone clients first.
// The context answers one delayed reply per connection, so a second call
// arriving on a connection that still waits gets the first reply sent at
// once, ahead of its own: replies stay in order. Discovery runs on a thread
// of its own (see SimDiscovery); "GetDaemonList" reads its heard records
// through a copy made under its lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/rcApi/rcServerContext.h"
#include "sim/SimOptions.h"
#include "sim/SimService.h"

namespace CorvaneSim {

class SimDiscovery;
class SimListener;

class SimServer : public Corvane::rcServerContext {
public:
    // Listens as the options say; throws Corvane::CoException with the
    // reason when the port can not be had.
    SimServer(const SimOptions& options, SimTree tree, SimTranslations translations);
    ~SimServer() override;

    int port() const { return port_; }
    bool servesIpv6() const { return ipv6_; }
    const SimService& service() const { return *service_; }

    // Announces the server and starts answering discovery, unless the
    // options say --no-discovery. Call it once, from the thread that will
    // call run(), after the signals are blocked: it starts a thread.
    // Throws Corvane::CoException when that thread can not be had; a
    // discovery socket that can not be had is only logged.
    void startDiscovery();

    // Serves until stop() or a served "Shutdown". False when the
    // dispatcher itself failed.
    bool run();
    // Safe from any thread and from a signal watcher on the loop.
    void stop();

    bool newConnection(std::unique_ptr<Corvane::CoIoTcpDescriptor> client) override;

private:
    void logCall(const std::string& method, const std::string& args);
    struct Pending {
        int64_t dueMs;
        Client* client;
        bool wantsReply;  // false for "async" commands
        std::string method;
        std::string args;
    };

    void listen(int port);
    void registerMethods();
    static bool methodCB(void* object, const Corvane::rcMethod& method, const Corvane::rcParam::Array& args,
                         Corvane::rcParam& result);
    static bool failLoginCB(void* object, const Corvane::rcMethod& method, const Corvane::rcParam::Array& args,
                            Corvane::rcParam& result);
    void arrive(const std::string& method, const std::string& args);
    // Runs a method that is due and answers it: through delayedReturn()
    // or, for a reply that must overtake the context's bookkeeping, by
    // writing it straight to the client.
    void answer(const Pending& p, bool direct);
    void fireDue();
    int msToNextDue() const;
    static bool clientGone(Client* client);
    static bool listed(const std::vector<std::string>& methods, const std::string& method);
    // A line of bytes that is no reply.
    static std::string garbageLine();

    SimOptions options_;
    std::unique_ptr<SimService> service_;
    std::vector<std::unique_ptr<SimListener>> listeners_;
    int port_ = 0;
    bool ipv6_ = false;
    int callLogFd_ = -1;            // --call-log, opened for appending
    std::vector<Pending> pending_;  // dispatching thread only
    std::atomic<bool> stopRequested_{false};
    // Last, so that it says goodbye before anything else goes.
    std::unique_ptr<SimDiscovery> discovery_;
};

}  // namespace CorvaneSim
