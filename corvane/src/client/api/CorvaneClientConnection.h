// Internal to corvane_client.
// The client's one connection to one Corvane server: turns a call of a named
// method with an argument text into a command on the RPC client, connecting
// on first use (first through the addresses discovery reports, then through
// the host and port of the server identifier), and keeps the server's daemon
// information. Connections are shared: every handle naming the same server
// holds a CorvaneClientConnection::Shared on one entry of the process-wide
// connection table (CorvaneConnectionTable.h), which owns the connections.
//
// Thread-safe. The call mutex serialises connecting and calls; stop(),
// stopCallOf() and forcedDisconnect() may come from another thread to end a
// call in progress. Connect callbacks run under the callback-list mutex but
// without the call mutex, so a callback may call methods itself. Lock
// order: callback-list mutex, then call mutex, then info mutex or caller
// mutex.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/threads/CoMutex.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneServerId.h"

namespace Corvane {
class rcAPI;
}

class CorvaneClientConnection {
public:
    // Told after the connection has been (re)established, before the call
    // that caused it goes out. It may call methods on the connection but
    // not add or remove callbacks. Not owned by the connection.
    class ConnectCallback {
    public:
        virtual ~ConnectCallback() = default;
        virtual void connected(CorvaneClientConnection& connection) = 0;
    };

    // A reference on the shared connections of one server, taken from the
    // connection table and dropped on destruction or reset, and the one
    // connection of them this handle calls through (see the table's pool).
    // Move-only. One thread uses a handle at a time; the connection itself
    // is thread-safe.
    class Shared {
    public:
        // An empty handle.
        Shared();
        // The connection for id, made if the table has none yet. The table
        // must exist (library initialised).
        explicit Shared(const CorvaneServerId& id);
        ~Shared();
        Shared(Shared&& other) noexcept;
        Shared& operator=(Shared&& other) noexcept;
        Shared(const Shared&) = delete;
        Shared& operator=(const Shared&) = delete;

        // Drops the held reference, then, for a non-null id and an existing
        // table, takes one on id's connection.
        void reset(const CorvaneServerId* id = nullptr);
        // Null when empty or when the table could not make the connection.
        CorvaneClientConnection* get() const;
        CorvaneClientConnection* operator->() const { return get(); }
        bool operator==(const CorvaneClientConnection* connection) const { return get() == connection; }
        bool operator!=(const CorvaneClientConnection* connection) const { return get() != connection; }

        class Imp;

    private:
        std::unique_ptr<Imp> imp_;
    };

    // True when discovery lists the server id names, looked up as a
    // connection to it would look it up. Starts discovery if need be; false
    // when discovery is off.
    static bool isDiscovered(const CorvaneServerId& id);
    // Whether connections look servers up through discovery first: on
    // unless CORVANE_DISCOVERY ("off" or "0"), read at the first call, or
    // setDiscovery says otherwise. Thread-safe.
    static bool discoveryEnabled();
    static void setDiscovery(bool enabled);
    // What discovery lists, copied; false when discovery is unavailable.
    // Starts discovery if need be.
    static bool discoveredServers(std::vector<CorvaneDaemonInfo>& out);

    typedef void (*DisconnectCallback)(const CorvaneServerId& server);
    // Called (when set) with the server's identifier after a call lost the
    // connection. Set it before other threads make calls.
    static DisconnectCallback disconnectCB_;

    // Makes no connection. A bare host gets the database "OBRAN"; a host
    // name is replaced by its address when it resolves.
    explicit CorvaneClientConnection(const CorvaneServerId& id);
    virtual ~CorvaneClientConnection();
    CorvaneClientConnection(const CorvaneClientConnection&) = delete;
    CorvaneClientConnection& operator=(const CorvaneClientConnection&) = delete;

    // The time-out the node and base methods call with: about 28 hours, so
    // in effect none. The gateway's browse watchdog, not this number, bounds
    // a call: it stops the connection once the browse time-out has passed.
    static constexpr unsigned int kCallTimeoutMs = 100000000;

    // How long a login waits for the server's answer unless a caller says
    // otherwise: CORVANE_LOGIN_TIMEOUT (ms), read once, else 5000.
    static unsigned int defaultLoginTimeoutMs();

    // Connects unless connected, the login waiting at most loginTimeoutMs,
    // and tells the connect callbacks. Throws like callMethod.
    void connect(unsigned int loginTimeoutMs);

    // Calls method on object 0 with args and leaves the reply text in result
    // (empty for an asynchronous call), connecting first if need be, with
    // the default login time-out. timeoutMs bounds the login too and the
    // call. Throws Corvane::CoException with the reason (a server's error
    // reply unchanged) on failure.
    void callMethod(const char* method, const char* args, bool sync, std::string& result, unsigned int timeoutMs);

    // A copy of the server's description; asked from the server (connecting
    // if need be) when stale and cachedOnly is false. Throws like callMethod.
    // A copy, because another handle's refresh may rewrite the record.
    CorvaneDaemonInfo getDaemonInfo(bool cachedOnly);

    bool isConnected();
    // Aborts a call in progress and closes the connection; the next call
    // reconnects.
    void forcedDisconnect();
    // Disconnects, keeping the logged-in connection for the next connect of
    // this process to the same address and port (see rcAPI::park).
    void park();
    // Aborts a call in progress with reason as its error text (null: the
    // system's text for ECONNABORTED).
    void stop(const char* reason);
    // Aborts the connect or call in progress only when thread runs it:
    // the call of another thread sharing the connection goes on.
    void stopCallOf(std::thread::id thread, const char* reason);

    void addConnectCallback(ConnectCallback* callback);
    // Removes the first occurrence.
    void removeConnectCallback(ConnectCallback* callback);

    // The identifier as given, after the construction rules above. Fixed at
    // construction, so the reference is safe from any thread.
    const CorvaneServerId& getServerId() const { return serverId_; }

private:
    class CallerScope;

    // True when this call made the connection.
    bool connectIfNeeded(unsigned int loginTimeoutMs);
    void connectLocked(unsigned int loginTimeoutMs);
    bool connectToAddressesLocked(unsigned int loginTimeoutMs);
    void notifyConnected();

    std::list<ConnectCallback*> callbacks_;
    Corvane::CoMutex callbacksMutex_;  // guards callbacks_
    std::unique_ptr<Corvane::rcAPI> rc_;
    const CorvaneServerId serverId_;  // completed by the constructor only
    Corvane::CoMutex callMutex_;      // serialises connecting and calls on rc_
    // Guards info_ and infoStale_ against the table's matching, which reads
    // the record from other threads. Taken after callMutex_, never across I/O.
    Corvane::CoMutex infoMutex_;
    CorvaneDaemonInfo info_;
    bool infoStale_ = true;
    // Guards caller_, so that a stop meant for one thread's call never
    // lands in the next thread's. Taken under the call mutex, never across I/O.
    Corvane::CoMutex callerMutex_;
    std::thread::id caller_;  // the thread connecting or calling on rc_, if any
    // The thread running the connect callbacks, so that a callback whose own
    // call reconnects does not notify again (and block on callbacksMutex_).
    std::atomic<std::thread::id> notifyingThread_{};
    // rc_->isConnected() as last seen under the call mutex, read without it.
    std::atomic<bool> up_{false};
};
