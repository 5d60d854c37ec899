// Internal to corvane_client.
// The raw data connection to one server's frame service: the server's
// local socket file when the server runs on this host, else TCP to the
// frame port of the first data address that answers. Connects on first use
// and again after a failure closed it. The server's description comes from
// its owner (a server handle, or a redirection's fixed record).
//
// One thread operates; interrupt() may come from any other, and ends the
// read or write in progress. mutex_ guards the descriptor pointer, which
// only the operating thread changes, against interrupt(); it is never
// held across I/O.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "base/threads/CoMutex.h"
#include "client/api/CorvaneFrameInterface.h"

namespace Corvane {
class CoIoDescriptor;
}
class CorvaneDaemonInfoMgr;

class CorvaneRawDataClientConnection : public CorvaneByteSource {
public:
    static constexpr int kDefaultFramePort = 7550;
    // A server silent this long in the middle of a transfer is gone.
    static constexpr int kIdleTimeoutMs = 60000;
    static constexpr int kConnectTimeoutSeconds = 10;

    // owner must outlive the connection.
    explicit CorvaneRawDataClientConnection(CorvaneDaemonInfoMgr& owner);
    ~CorvaneRawDataClientConnection() override;
    CorvaneRawDataClientConnection(const CorvaneRawDataClientConnection&) = delete;
    CorvaneRawDataClientConnection& operator=(const CorvaneRawDataClientConnection&) = delete;

    // Connects (again); throws Corvane::CoException with the last address's
    // reason, or "No data interface found".
    void connect();
    // Both connect first when not connected. A failure closes the
    // connection and throws Corvane::CoException: "Cannot read data on
    // socket: ..." with the socket's error text (a peer that closed reads
    // as a reset), "Operation aborted." or, for a write, the socket's error
    // text.
    void readExactly(void* buffer, size_t size) override;
    void writeExactly(const void* data, size_t size);
    void abandon() override { close(); }
    void close();
    bool isConnected() const;
    // Connected through the local socket file rather than TCP.
    bool isLocal() const { return local_; }

    // Starts an operation: interrupts made before it no longer count.
    void beginOperation();
    // Ends the read or write in progress; safe from any thread.
    void interrupt();

    // QM_CORVANE_TCP_BUF_SIZE: send and receive buffer size of TCP data
    // connections; 0 keeps the system's.
    static int bufferSize();

private:
    // Installs a new descriptor (closing the old one) under the lock.
    void install(std::unique_ptr<Corvane::CoIoDescriptor> descriptor, bool local);
    [[noreturn]] void fail(const std::string& text);

    CorvaneDaemonInfoMgr& owner_;
    mutable Corvane::CoMutex mutex_;  // guards descriptor_ (the pointer)
    std::unique_ptr<Corvane::CoIoDescriptor> descriptor_;
    bool local_ = false;
};
