// Any bytes as a daemon record, the attribute stream a server describes
// itself with. Written out and read back, a record must settle after one
// round: the second reading equals the first.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzQuiet.h"
#include "base/rcApi/rcAttrStream.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneServerId.h"

namespace {

CorvaneDaemonInfo roundTrip(const CorvaneDaemonInfo& info) {
    Corvane::rcAttrStream stream;
    info.write(stream);
    return CorvaneDaemonInfo(stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const CorvaneDaemonInfo info{Corvane::rcAttrStream(std::string(reinterpret_cast<const char*>(data), size))};
    for (int i = -1; i <= CorvaneDaemonInfo::kMaxAddresses; ++i) {
        (void)info.getIP(i);
        (void)info.getFrameIP(i);
    }
    (void)info.toServerId();
    (void)info.getMsgQName();
    const CorvaneDaemonInfo once = roundTrip(info);
    if (info < once && once < info)
        __builtin_trap();
    if (roundTrip(once) != once)
        __builtin_trap();
    return 0;
}
