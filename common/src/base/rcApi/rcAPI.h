// The client side of the RPC protocol: one TCP connection to a server, made
// with a 10-second connection time-out and opened with a "_login"; then
// calls of a named method on a numbered object, each sent as one command
// line and, when synchronous, answered by one reply line, all within the
// call's time-out.
//
// Design note. One thread (the owner) connects, calls and disconnects; only
// stop() may come from another thread. The descriptor exists from the start
// of a connect, so stop() reaches every phase: the connect's wait, the login,
// the send and the read; the cancel pipe wakes the wait at once. connect()
// and call() begin by forgetting earlier stops (under mutex_, so no stop can
// slip between), and from then on no stop is lost: each wait checks the stop
// request when it wakes. mutex_ guards the descriptor pointer (so that stop()
// never touches a descriptor being deleted), the stop request and
// lastError_. A call that times out disconnects: its reply may still come,
// and must never be read as another call's.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "base/rcApi/rcCommand.h"
#include "base/rcApi/rcResult.h"
#include "base/threads/CoMutex.h"

namespace Corvane {

class CoIoTcpDescriptor;

class rcAPI {
public:
    static constexpr int kReceiveBufferBytes = 32768;
    // A server that accepts but never answers must not hold a connect for
    // longer than this.
    static constexpr int kConnectTimeoutSeconds = 10;
    // A reply longer than this ends the connection: no method answers that
    // much, and reading on would only eat memory.
    static constexpr size_t kMaxReplyBytes = 64u * 1024 * 1024;

    rcAPI();
    virtual ~rcAPI();
    rcAPI(const rcAPI&) = delete;
    rcAPI& operator=(const rcAPI&) = delete;

    // Connects and logs in; the login's reply decides. A server that does
    // not know "_login" is accepted. The reply must come within
    // loginTimeoutMs, else the connect fails with the system text for
    // ETIMEDOUT and timedOut() set, as a call that times out does.
    bool connect(const char* host, int port, int loginTimeoutMs);
    // Calls method on object objectId with the argument text args. On
    // success result holds the reply value ("" for an asynchronous call);
    // on failure result and lastError() hold the error text. A time-out
    // (timedOut() set), a send or read failure or a stop disconnects. Never
    // throws.
    bool call(int objectId, const char* method, const char* args, bool sync, std::string& result, int timeoutMs);
    // Ends the connect or call in progress with reason as its error text; a
    // null reason means the system text for ECONNABORTED, an empty one
    // "<method> command stopped." ("_login" for a connect). Does nothing
    // when neither connected nor connecting; the next connect or call
    // forgets it. Safe from any thread.
    void stop(const char* reason);
    void disconnect();
    // Disconnects, but keeps the logged-in connection for the next connect()
    // of this process to the same host and port by the same user, within a
    // few seconds: discovery fetches the server list from the server that
    // the request itself then calls, and reusing the connection saves a TCP
    // handshake and a login. One connection is kept at most.
    void park();
    // Closes the kept connection, if any.
    static void closeParked();
    bool isConnected() const;

    std::string lastError() const;
    bool timedOut() const { return timedOut_.load(); }
    bool stopped() const { return stopped_.load(); }
    // The last call failed before sending anything: no connection was
    // established ("Connection not established."). A caller that connects
    // on demand calls first and connects on this, rather than ask
    // isConnected() before each call.
    bool foundNoConnection() const { return foundNoConnection_.load(); }

private:
    bool login(int loginTimeoutMs);
    // call() without forgetting earlier stops.
    bool exchange(int objectId, const char* method, const char* args, bool sync, std::string& result, int timeoutMs);
    bool sendCommand(const char* method, std::string& result, int64_t deadlineUs, int timeoutMs);
    bool readReply(const char* method, std::string& result, int64_t deadlineUs);
    // Fails the call with text, which also becomes lastError().
    bool fail(std::string& result, const std::string& text);
    // Fails a call that a stop ended: disconnects first.
    bool failStopped(const char* method, std::string& result);
    bool stopRequested() const { return stopRequested_.load(); }

    std::unique_ptr<CoIoTcpDescriptor> descriptor_;
    std::unique_ptr<char[]> buffer_;
    rcCommand command_;
    rcResult reply_;
    std::string line_;  // the rendered command, reused
    std::string host_;  // as given to the last connect(), for park()
    int port_ = 0;
    std::atomic<bool> timedOut_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<bool> foundNoConnection_{false};
    std::atomic<bool> stopRequested_{false};

    mutable CoMutex mutex_;  // guards descriptor_ (the pointer), lastError_
    std::string lastError_;
};

}  // namespace Corvane
