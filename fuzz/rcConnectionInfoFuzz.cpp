// Any bytes as the connection-information record of a "_login": parsed and
// verified as a server does. The record it renders must parse back to the
// same fields and the same verdict.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzQuiet.h"
#include "base/rcApi/rcConnectionInfo.h"

using Corvane::rcConnectionInfo;

namespace {

bool sameFields(const rcConnectionInfo& a, const rcConnectionInfo& b) {
    return a.userName() == b.userName() && a.hasGroupName() == b.hasGroupName() &&
           (!a.hasGroupName() || a.groupName() == b.groupName()) && a.hasHostUUID() == b.hasHostUUID() &&
           (!a.hasHostUUID() || a.hostUUID() == b.hostUUID()) && a.password() == b.password() &&
           a.processName() == b.processName() && a.processId() == b.processId() && a.hostName() == b.hostName() &&
           a.ipAddr() == b.ipAddr() && a.serial() == b.serial() && a.crc() == b.crc() &&
           a.timestamp() == b.timestamp() && a.isValid() == b.isValid();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const rcConnectionInfo info(text.c_str());
    info.dump();
    const rcConnectionInfo again(info.toString().c_str());
    if (!sameFields(info, again))
        __builtin_trap();
    return 0;
}
