#include "FastCgiRecords.h"

namespace {

// The records a web server sends before the body: BEGIN_REQUEST, then the
// variables as PARAMS records, ended by an empty one.
constexpr uint8_t kVersion = 1;
constexpr uint8_t kBeginRequest = 1;
constexpr uint8_t kParams = 4;
constexpr size_t kBeginBodyBytes = 8;
constexpr int kResponder = 1;
constexpr int kFilter = 3;  // the last role libfcgi answers
constexpr int kMaxRecords = 64;

}  // namespace

FastCgiArrival scanFastCgiRecords(const uint8_t* bytes, size_t size, bool kept, size_t* needBytes, size_t* staleBytes) {
    size_t at = 0;
    int requestId = 0;  // none yet: 0 is no request's
    for (int records = 0; records <= kMaxRecords; ++records) {
        if (at + kFastCgiHeaderBytes > kFastCgiPeekLimitBytes) {
            // Large only once the bytes are there: a header announcing a
            // large record is no reason to take a thread yet.
            *needBytes = kFastCgiPeekLimitBytes;
            return size >= kFastCgiPeekLimitBytes && *staleBytes == 0 ? FastCgiArrival::Large : FastCgiArrival::Waiting;
        }
        if (size < at + kFastCgiHeaderBytes) {
            *needBytes = at + kFastCgiHeaderBytes;
            return FastCgiArrival::Waiting;
        }
        const uint8_t* header = bytes + at;
        const int type = header[1];
        const int id = header[2] << 8 | header[3];
        const size_t length = static_cast<size_t>(header[4] << 8 | header[5]);
        const size_t end = at + kFastCgiHeaderBytes + length + header[6];
        if (header[0] != kVersion)
            return FastCgiArrival::Broken;
        if (requestId == 0 && type != kBeginRequest) {
            if (!kept || id == 0)
                return FastCgiArrival::Broken;
            if (size < end) {
                *needBytes = end;
                return FastCgiArrival::Waiting;
            }
            *staleBytes = at = end;
            continue;
        }
        if (*staleBytes != 0)
            return FastCgiArrival::Waiting;
        if (requestId == 0) {
            if (id == 0 || length != kBeginBodyBytes)
                return FastCgiArrival::Broken;
            if (size < end) {
                *needBytes = end;
                return FastCgiArrival::Waiting;
            }
            const int role = header[kFastCgiHeaderBytes] << 8 | header[kFastCgiHeaderBytes + 1];
            if (role < kResponder || role > kFilter)
                return FastCgiArrival::Broken;
            requestId = id;
        } else {
            if (type != kParams || id != requestId)
                return FastCgiArrival::Broken;
            if (length == 0) {
                if (size < end) {
                    *needBytes = end;
                    return FastCgiArrival::Waiting;
                }
                return FastCgiArrival::Complete;
            }
        }
        at = end;
    }
    return *staleBytes != 0 ? FastCgiArrival::Waiting : FastCgiArrival::Large;
}
