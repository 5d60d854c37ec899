// Internal to corvane_client.
// The process-wide discovery client: keeps the list of Corvane servers
// present on the local network and turns a server identifier into that
// server's full description for the server connections. It hears servers'
// announcements on the discovery group, sends searches (multicast on every
// usable interface, or unicast to one host) and fetches the server list of
// one reachable server; a server not heard of for two resynchronisation
// periods is forgotten.
//
// Ownership: the singleton is made by instance() and deleted by
// destroyInstance() (library shutdown). It owns its sockets, its control
// pipe, its interface dispatcher with the observer registered there, and
// the "Corvane Multicast" thread, which it joins before the objects that
// thread touches go. Thread-safe; see the design note in the .cpp for the
// threads and the lock order.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "base/network/CoNetworkDispatcher.h"
#include "base/network/CoNetworkInterface.h"
#include "base/tcp/CoMulticast.h"
#include "base/threads/CoMutex.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneMulticastProtocol.h"

class CorvaneServerId;
struct CorvaneThisHost;
struct pollfd;

namespace Corvane {
class CoThread;
class rcAttrStream;
}  // namespace Corvane

class CorvaneMulticastClient {
public:
    // The discovery group when the network configuration names none.
    static constexpr const char* DEFAULT_SCOPE = "224.0.0.1";
    static constexpr unsigned int kDefaultPort = 7555;
    static constexpr unsigned int kDefaultTtl = 1;

    // The singleton, made and started on first use from the "SelfDiscovery"
    // section of the network configuration. Throws Corvane::CoException
    // when it cannot be made; never null otherwise.
    static CorvaneMulticastClient* instance();
    // Deletes the singleton; the next instance() makes a new one.
    static void destroyInstance();

    // Opens the sockets and becomes the singleton, which must not exist
    // yet; a null scope is "". Does not search: start() does.
    CorvaneMulticastClient(unsigned int port, const char* scope, unsigned int ttl);
    // Only the singleton may be destroyed.
    virtual ~CorvaneMulticastClient();
    CorvaneMulticastClient(const CorvaneMulticastClient&) = delete;
    CorvaneMulticastClient& operator=(const CorvaneMulticastClient&) = delete;

    // Entry point of the "Corvane Multicast" thread; client is the object.
    static void threadCB(void* client);

    // Copies the first listed record that describes id into out; false
    // when none does. Reads the list only: no network traffic.
    bool resolve(const CorvaneServerId& id, CorvaneDaemonInfo& out);
    // Marks the server as seen now, or, when it is not listed, asks its
    // host by unicast.
    void refreshServer(const CorvaneServerId& id);
    // Forgets the first listed record that describes id.
    void removeServer(const CorvaneServerId& id);
    // Searches the network for the server holding storageId; null or empty
    // does nothing.
    void findStorage(const char* storageId);
    // A copy of the list, in its order. Reads the list only.
    std::vector<CorvaneDaemonInfo> servers();

protected:
    using RequestType = CorvaneMulticastProtocol::RequestType;
    using ServerList = CorvaneMulticastProtocol::ServerList;

    // Creates the control pipe (throws Corvane::CoException when it
    // cannot), runs the start-up searches when fetchServers is set, then
    // starts the thread.
    void start(bool fetchServers);
    // Ends and joins the thread, then closes the control pipe. A subclass
    // calls it from its own destructor, since the thread calls the virtual
    // operations below.
    void stop();
    // Makes a pending wait return; false when the pipe is closed or the
    // write failed.
    bool wakeUp();
    // Before the thread exists: searches host (the network when null) and
    // fetches the server list of the first server that answers. Then, and
    // always once the thread runs: the number of listed servers (of
    // database, when given), copied into out when given.
    int findServers(ServerList* out, const char* database, const char* host, unsigned int port);
    // Adds the servers that from knows (of database, when given). Throws
    // Corvane::CoException when the call fails.
    void fetchServerList(const CorvaneDaemonInfo& from, const char* database);
    void addOrUpdateServer(const CorvaneDaemonInfo& record);
    // Adds the sender as an address, drops loopback addresses of a server
    // on another host, and fills the default port and database.
    void normaliseServer(CorvaneDaemonInfo& record, const char* senderAddress);
    // Multicasts a search, for the servers of database when given.
    void discover(const char* database);
    // Reads and handles one datagram; true when it changed the list.
    bool receiveOn(Corvane::CoMulticast& socket);

    // True for an announcement, a reply or a removal.
    virtual bool processRequest(RequestType type, Corvane::rcAttrStream& payload, const char* senderAddress,
                                unsigned int senderPort);
    // Forgets the servers silent for two periods and schedules the next pass.
    virtual void resync();
    // host null: multicast on every interface; port 0: the discovery port.
    virtual void sendRequest(RequestType type, const Corvane::rcAttrStream& payload, const char* host,
                             unsigned int port);
    // True as soon as a datagram changed the list; false at the time-out,
    // when stopping, or when the local search learnt that nothing can answer.
    virtual bool waitForActivity(int64_t timeoutUs);

    // CORVANE_MULTICAST_DEBUG and CORVANE_MULTICAST_RESYNC_TIME as read when
    // the library was loaded; a subclass may change them before start().
    int verbosity_;
    int64_t resyncPeriodUs_;

private:
    class Observer;
    class Task;
    struct PrivateSocket;

    // The parts of waitForActivity. The read set holds the private sockets
    // first (their number is returned), then the public socket and the
    // control pipe's read end.
    size_t buildReadSet(std::vector<pollfd>& fds);
    // False when a signal interrupted the wait; throws when it failed.
    bool pollReadSet(std::vector<pollfd>& fds, int64_t deadline);
    // True when a datagram read changed the list.
    bool readReady(const std::vector<pollfd>& fds, size_t privateCount);
    void interfaceChanged(int event, const Corvane::CoNetworkInterface& interface);
    std::unique_ptr<PrivateSocket> openPrivateSocket(const Corvane::CoNetworkInterface& interface);
    // A search whose failure is a warning, not an exception.
    void search(const Corvane::rcAttrStream& payload, const char* host);
    // Whether a datagram read on the public socket is the unicast search of
    // this process coming back to it; takes privateSocketsMutex_.
    bool isOwnSearch(const std::string& senderAddress, unsigned int senderPort, const std::string& destination);
    // This host as the server list's rules see it, copied under hostMutex_.
    CorvaneThisHost thisHost();
    void closePipe();
    // Closes the kept connection once it is due; how long the thread may
    // wait before it is (INT64_MAX: nothing is kept).
    int64_t closeParkedWhenDue();

    const unsigned int port_;
    const std::string scope_;
    const unsigned int ttl_;

    Corvane::CoMutex serversMutex_;         // guards servers_
    std::list<CorvaneDaemonInfo> servers_;  // sorted by display name, then database

    std::unique_ptr<Corvane::CoThread> thread_;  // owner's thread only
    Corvane::CoMulticast publicSocket_;          // read by the discovery thread only
    std::atomic<int64_t> nextResyncUs_{0};
    // When the thread closes the connection the start-up fetch kept for the
    // next connect (monotonic µs); 0 when none is kept.
    std::atomic<int64_t> closeParkedAtUs_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<int> controlRead_{-1};
    std::atomic<int> controlWrite_{-1};

    Corvane::CoMutex privateSocketsMutex_;  // guards privateSockets_ and each entry's removed flag
    std::list<std::unique_ptr<PrivateSocket>> privateSockets_;

    Corvane::CoMutex hostMutex_;              // guards hostAddresses_; taken last, never across a call
    std::vector<std::string> hostAddresses_;  // as the dispatcher reports them
    std::string hostUuid_;                    // read once at construction
    std::string hostName_;

    // The unicast search of the thread running start(), and whether it
    // learnt that nothing there can answer. Touched only by that thread
    // while the discovery thread does not exist.
    std::string localSearchHost_;
    bool localSearchRefused_ = false;

    std::unique_ptr<Observer> observer_;
    Corvane::CoNetworkDispatcher dispatcher_;  // last: its change reports need the members above
};
