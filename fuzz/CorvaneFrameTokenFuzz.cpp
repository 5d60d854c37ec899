// Any bytes as the replies on a frame data connection: integer and status
// tokens read one after another, as the frame client reads them, until the
// bytes run out or a token makes the connection untrustworthy.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzQuiet.h"
#include "base/loggerBase/CoException.h"
#include "client/api/CorvaneFrameInterface.h"

namespace {

struct Bytes : CorvaneByteSource {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool abandoned = false;

    void readExactly(void* buffer, size_t n) override {
        if (n > size - at)
            throw Corvane::CoException("Connection closed", __LINE__, __FILE__);
        std::memcpy(buffer, data + at, n);
        at += n;
    }
    void abandon() override { abandoned = true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes source;
    source.data = data;
    source.size = size;
    for (int i = 0; source.at < size && !source.abandoned; ++i) {
        const size_t before = source.at;
        try {
            if (i % 2 == 0) {
                const int64_t value = readFrameInteger(source);
                // Read back, the value is the token's own text.
                int64_t again = 0;
                if (!parseFrameInteger(std::to_string(value), &again) || again != value)
                    __builtin_trap();
            } else {
                checkFrameStatus(source);
            }
        } catch (const Corvane::CoException&) {
        }
        // No token is read past its bound and its NUL.
        if (source.at - before > CorvaneFrameInterface::kMaxStatusBytes + 1 || source.at == before)
            __builtin_trap();
    }
    return 0;
}
