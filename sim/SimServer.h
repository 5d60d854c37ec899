// The stand-in media server on the wire: a server context that listens on
// 127.0.0.1 and ::1 only, serves every SimService method on object 0, and
// plays the faults of its options (delayed replies, failed methods, closed
// connections).
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
// once, ahead of its own: replies stay in order.
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

class SimListener;

class SimServer : public Corvane::rcServerContext {
public:
    // Listens as the options say; throws Corvane::CoException with the
    // reason when the port can not be had.
    SimServer(const SimOptions& options, SimTree tree, SimTranslations translations);
    ~SimServer() override;

    int port() const { return port_; }
    bool servesIpv6() const { return listeners_.size() > 1; }
    const SimService& service() const { return *service_; }

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

    SimOptions options_;
    std::unique_ptr<SimService> service_;
    std::vector<std::unique_ptr<SimListener>> listeners_;
    int port_ = 0;
    int callLogFd_ = -1;  // --call-log, opened for appending
    std::vector<Pending> pending_;  // dispatching thread only
    std::atomic<bool> stopRequested_{false};
};

}  // namespace CorvaneSim
