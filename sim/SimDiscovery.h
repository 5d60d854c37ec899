// Internal to corvane_sim.
// The stand-in server's part in discovery: announces its record on the
// discovery group at start (and every N seconds when asked), answers the
// searches its record satisfies by unicast to the asker, says goodbye when
// destroyed, and keeps the records of the other servers it hears announce
// themselves, for "GetDaemonList". Owns its two sockets, its control pipe
// and its thread; heard() is safe from any thread.
//
// Design note. One socket is bound to the discovery port on every address
// with address reuse, so that several servers on one host share the port,
// and joined to the group: it hears searches and announcements. The other
// is bound to the interface address on an ephemeral port and is the
// outgoing multicast interface: everything is sent from it, so nothing
// leaves through another interface. A unicast datagram to a port that
// several sockets share on the wildcard address goes to the newest of them
// only (a client's own discovery socket, say), so the searches sent to this
// host by unicast are heard on sockets bound to the interface address and
// to loopback, which take precedence over the wildcard ones. start() sends the first announcement on
// the calling thread, then starts the discovery thread, which alone
// receives, answers and repeats the announcement. The destructor wakes it
// through the control pipe, joins it and only then sends the goodbye: no
// two threads ever use a socket at once. mutex_ guards heard_ alone, is the
// only lock, and is never held across I/O or logging.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/threads/CoMutex.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneMulticastProtocol.h"

namespace Corvane {
class CoMulticast;
class rcAttrStream;
}  // namespace Corvane

namespace CorvaneSim {

struct SimOptions;

class SimDiscovery {
public:
    // The most servers heard at once: announcements are outside input and
    // must not grow the list without end.
    static constexpr size_t kMaxHeard = 64;

    // Opens the sockets for the options' group, port, TTL and interface. A
    // socket that can not be had is logged and left out: the server goes
    // on serving RPC, unheard or deaf. self is the server's record.
    SimDiscovery(const SimOptions& options, const CorvaneDaemonInfo& self);
    // Stops the thread, then says goodbye.
    ~SimDiscovery();
    SimDiscovery(const SimDiscovery&) = delete;
    SimDiscovery& operator=(const SimDiscovery&) = delete;

    // Announces the server and starts the thread; call once. Throws
    // Corvane::CoException when the control pipe or the thread can not be
    // had.
    void start();

    // A copy of the records of the other servers heard, in the order first
    // heard.
    CorvaneMulticastProtocol::ServerList heard() const;

private:
    using RequestType = CorvaneMulticastProtocol::RequestType;

    void run();
    void loop();
    // Receives one datagram, if one waits, and acts on it.
    void receiveOn(Corvane::CoMulticast& socket);
    void handle(RequestType type, const Corvane::rcAttrStream& payload, const std::string& from, unsigned fromPort);
    void remember(const CorvaneDaemonInfo& record);
    void forget(const CorvaneDaemonInfo& record);
    // Sends the record (nothing for a search) to the group, or by unicast
    // to address:port.
    void send(RequestType type, const char* address = nullptr, unsigned port = 0);

    const CorvaneDaemonInfo self_;
    // self_ read back from its stream form, as other servers' records are,
    // to tell our own announcements, looped back, from theirs.
    const CorvaneDaemonInfo selfAsHeard_;
    const int64_t announceEveryMs_;                               // 0: at start only
    std::unique_ptr<Corvane::CoMulticast> listen_;                // the group port; null when it could not be had
    std::unique_ptr<Corvane::CoMulticast> send_;                  // the interface; null likewise
    std::vector<std::unique_ptr<Corvane::CoMulticast>> unicast_;  // the group port on one address each
    int pipe_[2] = {-1, -1};                                      // control pipe: a byte means stop
    std::thread thread_;

    mutable Corvane::CoMutex mutex_;  // guards heard_
    CorvaneMulticastProtocol::ServerList heard_;
};

}  // namespace CorvaneSim
