// Internal to corvane_client.
// Encodes the frame operations (read a frame, read ahead, write a frame,
// read a stream, pull or push a whole file, invalidate the server's cache)
// on a server's raw data connection, and follows the server's read-ahead
// redirections to the servers that hold the frames. Every operation throws
// Corvane::CoException on failure; a failure in the middle of an exchange
// closes the connection, so that the next operation starts clean.
//
// One thread operates (the owner serialises calls); interrupt() may come
// from any other. Frame data goes straight between the socket and the
// caller's buffer; only files pass through the transfer buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "client/api/CorvaneFrameInterface.h"
#include "client/api/CorvaneRedirectionsCache.h"

class CorvaneDaemonInfo;
class CorvaneRawDataClientConnection;

class CorvaneFrameClientAPI : public CorvaneFrameInterface {
public:
    static constexpr size_t kTransferBytes = 262144;
    // Below this a frame is always read with acknowledgement: the error
    // text of an unacknowledged read must fit in the buffer.
    static constexpr size_t kMinNoAckBytes = 4096;
    // A redirection's server record is short; anything longer is not one.
    static constexpr int64_t kMaxRedirectBytes = 65536;

    // connection: the server's own (not owned); server: its record, whose
    // version decides whether redirections are followed.
    CorvaneFrameClientAPI(CorvaneRawDataClientConnection& connection, const CorvaneDaemonInfo& server,
                          size_t redirections = CorvaneRedirectionsCache::defaultSize());
    ~CorvaneFrameClientAPI() override;

    // Servers above 2010, 2010.2 and later, and 2010.1.1 itself.
    static bool redirectionsSupported(const CorvaneDaemonInfo& server);
    bool redirections() const { return redirections_; }

    // Reads bufSize bytes of frameId into buffer, after asking for the
    // read-ahead frames (null or empty: none). A negative bufSize is
    // refused before anything is sent.
    void readFrame(const char* frameId, char* buffer, int bufSize, const void* params, unsigned int paramsSize,
                   const char* readAhead1, const char* readAhead2, bool noAck);
    void readAhead(const char* frameId, const void* params, size_t paramsSize, size_t bufSize);
    void writeFrame(const char* frameId, const void* data, size_t size);
    // Reads up to *count elements of elementSize bytes from position; *count
    // becomes the number the server sent.
    void readStream(const char* streamId, char* buffer, size_t bufSize, int64_t position, size_t elementSize,
                    int64_t* count);
    // The local file is replaced only once the whole file arrived.
    void pullFile(const char* remotePath, const char* localPath);
    void pushFile(const char* remotePath, const char* localPath);
    void invalidateCache();
    void noOp();

    // Ends the operation in progress on any of the connections.
    void interrupt();

    CorvaneRedirectionsCache& redirectionsCache() { return cache_; }

private:
    // The connection frameId is read from.
    CorvaneRawDataClientConnection& connectionFor(const char* frameId);
    char* transferBuffer();

    CorvaneRawDataClientConnection& connection_;
    CorvaneRedirectionsCache cache_;
    std::unique_ptr<char[]> buffer_;  // kTransferBytes, made on first use
    const bool redirections_;
};

// Sends the method token, str and value as one write.
void writeMethodStringAndInt(CorvaneRawDataClientConnection& connection, CorvaneFrameInterface::Method method,
                             const char* str, int64_t value);
