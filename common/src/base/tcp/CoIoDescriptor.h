// A socket descriptor with cancellable, poll-driven reads and writes and a
// last-error text. Owns its descriptor and a cancel pipe and closes all three
// on destruction. One thread uses it at a time; any thread may call cancel().
//
// Design note. Every wait watches the socket and the read end of the cancel
// pipe, with a time-out or a one-second re-check of the cancelled flag, so no
// call blocks for ever. cancel() only writes one byte to the pipe and sets
// the flag (both ends are non-blocking), so it is safe from any thread while
// the owner is blocked. readAll and writeAll start with resetCancel(): a
// cancel made before them was meant for an earlier call. readSome and
// writeSome do not, so a cancel made just before them still ends them; their
// caller decides with resetCancel() when earlier cancels stop counting. A
// burst of cancels is consumed as one. The owner must keep the object alive
// while another thread may still call cancel().
#pragma once

#include <atomic>
#include <string>

namespace Corvane {

class CoIoDescriptor {
public:
    static constexpr int INVALID_ID = -1;

    // Failure kinds; each sets lastError() to the system text of its errno.
    enum class ErrorCode : int {
        None = 0,          // ""
        System = 1,        // the errno of the failed call
        NotConnected = 2,  // ENOTCONN
        Aborted = 3,       // ECONNABORTED: cancelled
        Reset = 4,         // ECONNRESET: reset or closed by the peer
        TimedOut = 5,      // ETIMEDOUT
        Refused = 6,       // ECONNREFUSED
        NoAddress = 7,     // ENXIO
    };

    // Takes ownership of fd (INVALID_ID for none).
    explicit CoIoDescriptor(int fd = INVALID_ID);
    virtual ~CoIoDescriptor();
    CoIoDescriptor(const CoIoDescriptor&) = delete;
    CoIoDescriptor& operator=(const CoIoDescriptor&) = delete;

    // One send without waiting: the count sent, 0 when the socket buffer is
    // full, -1 on failure.
    virtual int rawWrite(const void* buf, int len);
    // Sends all len bytes: len, or -1 on failure, peer close or cancel.
    virtual int writeAll(const void* buf, int len);
    // Waits up to timeoutMs for data, then reads once: the count read, 0 on
    // time-out or cancel (see cancelled()), -1 on failure or peer close.
    virtual int readSome(void* buf, int len, int timeoutMs);
    // Waits up to timeoutMs until the socket takes data, then sends once: the
    // count sent, 0 on time-out, -1 on failure or cancel.
    virtual int writeSome(const void* buf, int len, int timeoutMs);
    // One read: the count read, 0 at end of stream, -1 on failure.
    virtual int rawRead(void* buf, int len);
    // Reads exactly len bytes: len, or -1 on failure, peer close or cancel.
    virtual int readAll(void* buf, int len);
    // Closes the socket; the descriptor becomes invalid even on failure.
    virtual bool close();
    // True while the connection is established and the peer has not closed
    // it (data still waiting counts as open).
    virtual bool isConnected();
    // Open, and nothing from the peer waiting: fit to carry a new call.
    bool isIdle() const;
    // Numeric address texts of the two ends; only subclasses answer.
    virtual bool getSocketIP(std::string& ip);
    virtual bool getPeerIP(std::string& ip);

    // writeAll of the whole C string.
    bool writeStr(const char* str);
    // Reads one line into buff without its newline and returns its length.
    // A longer line is cut to size - 1 bytes (its tail overwrites the last
    // byte kept) and the rest of it is skipped. 0 for an empty line and on
    // failure; a failure also sets lastError() to the ECONNRESET text.
    int readLine(char* buff, int size);

    // Ends the waiting call of the owner thread. Safe from any thread.
    void cancel();
    // Forgets the cancels made so far. Owner thread only.
    void resetCancel();
    // True after the current or last call was ended by cancel().
    bool cancelled() const { return cancelled_.load(); }

    bool setReceiveBufferSize(int sizeBytes);
    bool setSendBufferSize(int sizeBytes);
    bool setReuseAddress(bool on);

    const std::string& lastError() const { return lastError_; }
    int getFd() const { return fd_; }
    bool isValid() const { return fd_ != INVALID_ID; }

    // The system text of err, at most 255 characters.
    static std::string errnoText(int err);
    // XQ_TCP_IPV6, read once per process: set means host names are
    // resolved as IPv6 only.
    static bool resolveAsIpv6();

protected:
    enum class Wait { Ready, TimedOut, Cancelled, Failed };

    // Waits for events on the socket and the cancel pipe; on Ready, *revents
    // holds the socket's events. Cancelled has consumed the pipe's bytes;
    // Failed has set lastError. A signal counts as TimedOut.
    Wait waitFor(short events, int timeoutMs, short* revents);

    // System uses err; the other codes carry their own errno.
    void setError(ErrorCode code, int err = 0);
    void setLastError(const std::string& text) { lastError_ = text; }
    void clearError() { lastError_.clear(); }
    // Replaces the descriptor without closing the old one.
    void setFd(int fd) {
        fd_ = fd;
        hasPeer_ = false;
    }
    // Closes the socket without touching lastError; the destructor's path.
    void closeFd();

private:
    // Empties the cancel pipe and marks the call cancelled.
    void consumeCancel();
    void drainCancelPipe();
    // A one-byte peek without waiting: >0 data, 0 end of stream, -1 error
    // (errno in *err; EAGAIN when nothing is waiting).
    int peek(int* err) const;

    int fd_;
    // getpeername() once answered for fd_: a connected socket keeps its
    // peer, so later checks need only the peek.
    std::atomic<bool> hasPeer_{false};
    std::string lastError_;
    std::atomic<bool> cancelled_{false};
    // Bytes cancel() may have left in the pipe; none, and a call's start
    // skips the drain.
    std::atomic<int> cancelBytes_{0};
    int cancelRead_ = INVALID_ID;
    int cancelWrite_ = INVALID_ID;
};

}  // namespace Corvane
