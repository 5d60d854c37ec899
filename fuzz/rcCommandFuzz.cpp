// Any bytes as a stream of command lines, the way a server client reads
// them; each parsed command must render to a line that parses the same.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzQuiet.h"
#include "base/rcApi/rcCommand.h"

using Corvane::rcCommand;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rcCommand cmd;
    for (size_t i = 0; i < size; ++i) {
        if (!cmd.addChar(static_cast<char>(data[i])))
            continue;
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
    return 0;
}
