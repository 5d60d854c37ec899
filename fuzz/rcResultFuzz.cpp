// Any bytes as a stream of reply lines, the way the client reads them; a
// parsed reply must render to a line that parses to the same value.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzQuiet.h"
#include "base/rcApi/rcResult.h"

using Corvane::rcResult;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rcResult reply;
    for (size_t i = 0; i < size; ++i) {
        if (!reply.addChar(static_cast<char>(data[i])))
            continue;
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
    return 0;
}
