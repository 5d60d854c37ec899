// Any bytes as a stream of reply lines, the way the client reads them; a
// parsed reply must render to a line that parses to the same value.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzQuiet.h"
#include "base/rcApi/rcResult.h"

using Corvane::rcResult;

namespace {

// Parses data in blocks cut at the positions the data itself picks, as the
// socket readers do, and returns what each complete line parsed to.
std::string byBlocks(const uint8_t* data, size_t size) {
    Corvane::rcResult x;
    std::string out;
    const char* p = reinterpret_cast<const char*>(data);
    for (size_t pos = 0; pos < size;) {
        const size_t n = std::min<size_t>(1 + data[pos] % 17, size - pos);
        for (size_t used = 0; used < n;) {
            bool complete = false;
            used += x.feed(p + pos + used, n - used, &complete);
            if (complete) {
                out += x.status() + "|" + x.value().str() + "\n";
                x.reset();
            }
        }
        pos += n;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rcResult reply;
    std::string byChars;
    for (size_t i = 0; i < size; ++i) {
        if (!reply.addChar(static_cast<char>(data[i])))
            continue;
        byChars += reply.status() + "|" + reply.value().str() + "\n";
        const std::string value = reply.value().str();
        rcResult sent;
        sent.set(reply.isOk() ? rcResult::kOk : rcResult::kError, value);
        rcResult again;
        for (char c : sent.toString()) {
            if (again.addChar(c))
                break;
        }
        // Rendering stops at a NUL, so compare up to the first one.
        if (again.value().str() != value.substr(0, value.find('\0')) || again.isOk() != reply.isOk())
            __builtin_trap();
        reply.reset();
    }
    if (byChars != byBlocks(data, size))
        __builtin_trap();
    return 0;
}
