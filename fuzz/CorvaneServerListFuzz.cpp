// Any bytes as the server list a server returns. Every record decoded has a
// node port; the filtered list is the unfiltered one without the other
// databases; the list encoded again decodes to as many records.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzQuiet.h"
#include "client/api/CorvaneMulticastProtocol.h"

using namespace CorvaneMulticastProtocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ServerList all;
    decodeServerList(text, all, nullptr);
    size_t obran = 0;
    for (const CorvaneDaemonInfo& info : all) {
        if (info.getNodePort() == 0)
            __builtin_trap();
        obran += std::strcmp(info.getDatabase(), "OBRAN") == 0;
    }
    ServerList filtered;
    decodeServerList(text, filtered, "OBRAN");
    if (filtered.size() != obran)
        __builtin_trap();
    ServerList again;
    decodeServerList(encodeServerList(all), again, "");
    if (again.size() != all.size())
        __builtin_trap();
    return 0;
}
