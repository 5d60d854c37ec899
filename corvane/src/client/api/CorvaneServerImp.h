// Internal to corvane_client.
// What a server handle holds: the server identifier, a reference on the
// server's shared connections and the one of them it calls through (taken
// on the first operation, on the operating thread), the method encoders on
// it, the event link (made at the first handler registration),
// the frame channel (made at the first frame operation), the server's
// description and the last error.
//
// Every implementation alive is listed, so that the last library stop can
// drop the references that would otherwise point into the connection table
// and the event monitor it deletes; a handle that outlives the library then
// fails its operations with kNotInitialised and is destroyed safely.
//
// One thread operates; the watchdog's thread may call cancel() at any time.
// connectionMutex_ guards the connection and frame-channel pointers between
// the two and is never held across I/O (stopping a call does not block). Everything else,
// the last record read included, is the operating thread's alone; the
// shared connection's own record is only ever copied out of it.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <thread>

#include "base/threads/CoMutex.h"
#include "client/api/CorvaneClientConnection.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneDaemonInfoMgr.h"
#include "client/api/CorvaneEventMonitor.h"
#include "client/api/CorvaneLastError.h"
#include "client/api/CorvaneNodeEvent.h"
#include "client/api/CorvaneServerId.h"

class CorvaneBaseClientAPI;
class CorvaneFrameClientAPI;
class CorvaneNodeClientAPI;
class CorvaneRawDataClientConnection;

class CorvaneServerImp : public CorvaneDaemonInfoMgr, private CorvaneLastError {
public:
    // What every operation of a handle reports while the library is stopped.
    static constexpr const char* kNotInitialised = "The Corvane library is not initialised";

    explicit CorvaneServerImp(const CorvaneServerId& id);
    ~CorvaneServerImp() override;

    // True while the library runs; otherwise false with kNotInitialised as
    // the last error.
    bool libraryReady();

    // Takes a reference on the shared connection if none is held yet and
    // makes the encoders on it; false with the reason in lastError().
    bool share();
    // share(), then connects the shared connection unless it is connected,
    // its login waiting at most the handle's login time-out (and no longer
    // than callTimeoutMs); false with the reason in lastError(). Every
    // operation that talks to the server starts here, so the handle that
    // connects a shared connection sets its login's bound.
    bool connect(unsigned int callTimeoutMs = CorvaneClientConnection::kCallTimeoutMs);
    void setLoginTimeout(unsigned int ms) { loginTimeoutMs_ = ms; }

    void invalidate() override { infoStale_ = true; }
    bool getDaemonInfo(CorvaneDaemonInfo& info) override;
    // The record last read by getDaemonInfo; its texts stay valid until the
    // next read.
    const CorvaneDaemonInfo& lastDaemonInfo() const { return info_; }
    // Drops the encoders and the reference on the shared connection; the
    // next operation takes a new one.
    void release();
    const char* lastError() const override { return CorvaneLastError::lastError(); }
    // The node handles report their failures here too.
    using CorvaneLastError::fail;

    bool isConnected();
    void disconnect();
    // Safe from another thread. With a thread given, a shared connection's
    // call is stopped only when that thread runs it.
    void cancel(const char* reason, const std::thread::id* thread = nullptr);

    // The first registration makes the event link, starting the event
    // monitor if need be.
    bool registerEventHandler(const CorvaneNodeId& node, CorvaneNodeEvent::Handler* handler);
    bool unregisterEventHandler(const CorvaneNodeId& node, CorvaneNodeEvent::Handler* handler);

    // Runs op on the frame channel, made at the first call against a
    // server new enough for it; false with the reason in lastError().
    template <typename Op>
    bool frameOperation(Op op) {
        CorvaneFrameClientAPI* client = frameClient();
        if (!client)
            return false;
        try {
            op(*client);
            return true;
        } catch (const std::exception& e) {
            return fail(e.what());
        }
    }

    CorvaneNodeClientAPI* nodeApi() const { return nodeApi_.get(); }
    CorvaneBaseClientAPI* baseApi() const { return baseApi_.get(); }
    const CorvaneServerId& serverId() const { return serverId_; }

private:
    CorvaneFrameClientAPI* frameClient();

    CorvaneServerId serverId_;
    Corvane::CoMutex connectionMutex_;  // guards shared_ and connection_
    CorvaneClientConnection::Shared shared_;
    CorvaneClientConnection* connection_ = nullptr;
    std::unique_ptr<CorvaneBaseClientAPI> baseApi_;
    std::unique_ptr<CorvaneNodeClientAPI> nodeApi_;
    // Points at the connection: goes before the reference does.
    std::unique_ptr<CorvaneEventMonitor::Connection> eventLink_;
    std::unique_ptr<CorvaneRawDataClientConnection> frameLink_;  // its owner is this object
    std::unique_ptr<CorvaneFrameClientAPI> frameClient_;         // reads through frameLink_
    CorvaneDaemonInfo info_;                                     // the last record read, for the text getters
    bool infoStale_ = true;
    unsigned int loginTimeoutMs_;

    // The list of live implementations; guarded by the list's mutex.
    CorvaneServerImp* previous_ = nullptr;
    CorvaneServerImp* next_ = nullptr;
    friend void corvaneReleaseAllServers();
};

// Releases the connection, event link and frame channel of every server
// handle alive: the last library stop calls it before it deletes the event
// monitor and the connection table. A handle destroyed meanwhile on another
// thread waits for it.
void corvaneReleaseAllServers();

// True when info's four-part version is at least major.minor.maint.build.
bool serverNotOlderThan(const CorvaneDaemonInfo* info, int major, int minor, int maint, int build);
