// Any bytes as the payload of a "NodeEvent" call, read as the event monitor
// reads it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzQuiet.h"
#include "client/api/CorvaneEventMonitor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string payload(reinterpret_cast<const char*>(data), size);
    CorvaneNodeEvent event;
    std::string missing;
    if (decodeNodeEvent(payload, &event, &missing)) {
        // What a handler reads of it.
        CorvaneStr node;
        event.getDetails().getStringAttribute("Node", node);
        if (!missing.empty() || !event.getType() || !event.getNodeId().getId())
            __builtin_trap();
    } else if (missing != "NodeId" && missing != "Type" && missing != "Details") {
        __builtin_trap();
    }
    return 0;
}
