// Any bytes as a received discovery datagram, cut at the receive buffer and
// NUL-terminated as the receiver does. A request that decodes must carry a
// known type and, sent again, decode to the same type and payload.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzQuiet.h"
#include "base/rcApi/rcAttrStream.h"
#include "client/api/CorvaneMulticastProtocol.h"

using namespace CorvaneMulticastProtocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), std::min(size, kMaxDatagramBytes));
    RequestType type = RequestType::Invalid;
    Corvane::rcAttrStream payload;
    if (!decodeRequest(text.c_str(), type, payload))
        return 0;
    const std::string name = requestTypeName(type);
    if (name == "INVALID" || name == "UNKNOWN")
        __builtin_trap();
    (void)CorvaneDaemonInfo(payload);
    RequestType again = RequestType::Invalid;
    Corvane::rcAttrStream resent;
    if (!decodeRequest(encodeRequest(type, payload).c_str(), again, resent) || again != type ||
        resent.str() != payload.str())
        __builtin_trap();
    return 0;
}
