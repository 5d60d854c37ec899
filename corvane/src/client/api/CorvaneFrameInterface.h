// The vocabulary of the frame data protocol, a byte protocol on a raw data
// connection: a text token is its bytes and one NUL, an integer token its
// decimal text and one NUL, a block raw bytes of a length sent before it.
// A status reply is a text token, empty for success, else the error text.
// The readers below bound every token they read. corvane-sim serves the
// same protocol through them. Stateless; thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CorvaneFrameInterface {
public:
    // The method token is the name, sent as text.
    enum class Method : int {
        ReadFrame = 0,
        WriteFrame = 1,
        ReadAhead = 2,
        NoOp = 3,
        PullFile = 4,
        PushFile = 5,
        ReadStream = 6,
        ReadFrameNoAck = 7,
        ReadFrameParams = 8,
        ReadAheadParams = 9,
        ReadFrameParamsNoAck = 10,
        ReadAheadRedirect = 11,
        InvalidateCache = 12,
    };
    static constexpr int kMethodCount = 13;

    // A server that can not deliver a frame asked for without acknowledgement
    // fills the frame buffer with this, then the error text.
    static const char* const FAST_ACK_ERROR_PREFIX;

    static constexpr size_t kMaxStatusBytes = 1023;
    static constexpr size_t kMaxIntegerBytes = 63;

    virtual ~CorvaneFrameInterface() = default;

    static const char* methodName(Method method);
    // False for a token that names no method.
    static bool methodFromName(const std::string& name, Method* method);
};

// Where tokens come from: a raw data connection, or bytes in memory.
class CorvaneByteSource {
public:
    virtual ~CorvaneByteSource() = default;
    // Exactly size bytes, or a Corvane::CoException with the reason.
    virtual void readExactly(void* buffer, size_t size) = 0;
    // The source can not be trusted to be in step any more (a bad token
    // was read): a connection closes itself.
    virtual void abandon() {}
};

// One text token of at most maxBytes bytes before its NUL; a longer one
// abandons the source and throws.
std::string readFrameToken(CorvaneByteSource& source, size_t maxBytes);
// Reads an integer token; anything but an optional "-" and 1 to 18 digits
// abandons the source and throws.
int64_t readFrameInteger(CorvaneByteSource& source);
// Reads a status token and throws its text when it is not empty.
void checkFrameStatus(CorvaneByteSource& source);
// The value of an integer token's text; false when it is not one.
bool parseFrameInteger(const std::string& token, int64_t* value);
