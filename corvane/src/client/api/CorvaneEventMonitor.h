// Internal to corvane_client.
// The process's receiver of node events: a small RPC server with one
// method, "NodeEvent", listening on a port the system picks (on the metadata
// interfaces' addresses only, when the network configuration names them).
// A server handle that registers an event handler gets a Connection, a
// numbered object of this server: it asks the server to send the events of
// given nodes to our port, addressed to its number, and hands each event it
// receives to the handlers of that node.
//
// Design note. Made on the first registration, never before: a program that
// never registers (the gateway) pays for no thread and no listening socket;
// deleted by the last library stop. Meanwhile one thread, "Corvane Event
// Monitor", runs the server's dispatch passes until stop(); all sockets,
// command lines and handler calls are served on it, one event at a time. A line longer than
// kMaxLineBytes ends its client, and at most kMaxClients are served at once,
// so that the open port cannot be made to eat memory. Locks:
// deliveryMutex_ is held by the monitor thread while it looks up a
// connection and runs its handlers, and by other threads while they change
// a handler list or remove a connection, so that once those calls return
// no handler they dropped is running or will run. It nests outside a
// connection's handlersMutex_ and outside connectionsMutex_; the monitor
// thread, which already holds it during delivery, does not take it again
// when a handler (un)registers. No lock is held while a method is sent to a
// server. threadMutex_ guards thread_ alone.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/loggerBase/CoLastErrLogger.h"
#include "base/rcApi/rcServerContext.h"
#include "base/threads/CoMutex.h"
#include "base/threads/CoThread.h"
#include "client/api/CorvaneNodeEvent.h"
#include "client/api/CorvaneNodeId.h"

class CorvaneClientConnection;
class CorvaneEventListener;

class CorvaneEventMonitor : public Corvane::rcServerContext {
public:
    class Connection;

    // A command line longer than this is not an event of ours.
    static constexpr size_t kMaxLineBytes = 256 * 1024;
    static constexpr size_t kMaxClients = 64;

    // The monitor, made (listening) on first use. Throws Corvane::CoException
    // when it can not listen.
    static CorvaneEventMonitor& instance();
    // Stops the monitor's thread, closes its port and deletes it, if one
    // was made; library stop. No Connection may be left. The next
    // instance() makes a new one.
    static void destroyIfMade();

    // Starts the thread when it is not running; safe from any thread.
    // Throws Corvane::CoException when the thread can not be had.
    void start();
    // Ends the thread and waits for it; safe from any thread but the
    // monitor's own.
    void stop();
    bool isRunning() const;

    // The port servers are told to call; -1 when nothing listens.
    int boundPort() const { return boundPort_; }
    // The addresses listened on; empty for every interface.
    std::vector<std::string> listenAddresses() const;

    // The addresses of the metadata interfaces when the network
    // configuration names any; empty otherwise (listen everywhere).
    static std::vector<std::string> metadataAddresses();

    // Both need a running thread and a connection.
    void addConnection(Connection* connection);
    void removeConnection(Connection* connection);

    // Refuses clients past kMaxClients.
    bool newConnection(std::unique_ptr<Corvane::CoIoTcpDescriptor> client) override;

    // The "NodeEvent" callback; object is the addressed Connection.
    static bool receiveNodeEvent(void* object, const Corvane::rcMethod& method, const Corvane::rcParam::Array& args,
                                 Corvane::rcParam& result);

private:
    CorvaneEventMonitor();
    ~CorvaneEventMonitor() override;

    static void threadCB(void* monitor);
    bool onMonitorThread() const { return std::this_thread::get_id() == threadId_.load(); }
    bool isConnectionLive(const Connection* connection) const;

    int boundPort_ = -1;
    std::vector<std::unique_ptr<CorvaneEventListener>> listeners_;  // empty: the context's own socket

    Corvane::CoMutex deliveryMutex_;             // see the design note
    mutable Corvane::CoMutex connectionsMutex_;  // guards connections_ and the object table's changes
    std::vector<Connection*> connections_;       // not owned

    mutable Corvane::CoMutex threadMutex_;       // guards thread_
    std::unique_ptr<Corvane::CoThread> thread_;  // null when stopped
    std::atomic<bool> stopping_{false};
    std::atomic<std::thread::id> threadId_{};

    friend class Connection;
};

// The event link of one server handle: its number with the monitor, the
// server's connection (not owned; the handle keeps it alive longer than
// this), and the handlers per node, in registration order (not owned).
// Registers again with the server after every reconnection. One thread at a
// time registers and unregisters; events arrive on the monitor thread.
class CorvaneEventMonitor::Connection : public Corvane::CoLastErrLogger {
public:
    // The monitor thread must run.
    explicit Connection(CorvaneClientConnection* serverConnection);
    // Tells the server to send no more events for this number.
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The first handler of a node asks the server for its events; false
    // (nothing recorded) when it refuses, with the reason in lastError().
    bool registerEventHandler(const CorvaneNodeId& node, CorvaneNodeEvent::Handler* handler);
    // The last handler of a node tells the server to stop. A handler not
    // in the node's list changes nothing and counts as success.
    bool unregisterEventHandler(const CorvaneNodeId& node, CorvaneNodeEvent::Handler* handler);

    int id() const { return id_; }

private:
    class ConnectCallback;

    // The handlers of node, copied under the lock.
    std::vector<CorvaneNodeEvent::Handler*> handlersOf(const CorvaneNodeId& node) const;
    // After a reconnection: the server forgot us.
    void registerAgain();

    const int id_;
    CorvaneClientConnection* const serverConnection_;
    mutable Corvane::CoMutex handlersMutex_;  // guards handlers_
    std::map<CorvaneNodeId, std::vector<CorvaneNodeEvent::Handler*>> handlers_;
    std::unique_ptr<ConnectCallback> connectCallback_;

    friend class CorvaneEventMonitor;
};

// Reads a "NodeEvent" payload. False with *missing naming the first of
// "NodeId", "Type" and "Details" that it lacks.
bool decodeNodeEvent(const std::string& payload, CorvaneNodeEvent* event, std::string* missing);
