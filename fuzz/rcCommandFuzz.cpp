// Any bytes as a stream of command lines, the way a server client reads
// them; each parsed command must render to a line that parses the same.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzQuiet.h"
#include "base/rcApi/rcCommand.h"

using Corvane::rcCommand;

namespace {

// Parses data in blocks cut at the positions the data itself picks, as the
// socket readers do, and returns what each complete line parsed to.
std::string byBlocks(const uint8_t* data, size_t size) {
    Corvane::rcCommand x;
    std::string out;
    const char* p = reinterpret_cast<const char*>(data);
    for (size_t pos = 0; pos < size;) {
        const size_t n = std::min<size_t>(1 + data[pos] % 17, size - pos);
        for (size_t used = 0; used < n;) {
            bool complete = false;
            used += x.feed(p + pos + used, n - used, &complete);
            if (complete) {
                out += std::string(x.mode()) + "|" + x.method() + "|" + x.argValue().str() + "\n";
                x.reset();
            }
        }
        pos += n;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rcCommand cmd;
    std::string byChars;
    for (size_t i = 0; i < size; ++i) {
        if (!cmd.addChar(static_cast<char>(data[i])))
            continue;
        byChars += std::string(cmd.mode()) + "|" + cmd.method() + "|" + cmd.argValue().str() + "\n";
        (void)cmd.isSync();
        (void)cmd.objectId();
        const std::string line = cmd.toString();
        rcCommand again;
        size_t used = 0;
        while (used < line.size() && !again.addChar(line[used]))
            ++used;
        if (used + 1 != line.size() || std::strcmp(cmd.args(), again.args()) != 0)
            __builtin_trap();
        cmd.reset();
    }
    if (byChars != byBlocks(data, size))
        __builtin_trap();
    return 0;
}
