// Any bytes as the reply of each translation call: translated paths,
// translation groups, host and OS-type translations.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzQuiet.h"
#include "client/api/CorvaneReplyDecoders.h"
#include "client/api/CorvaneStrList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string reply = text;
    CorvaneStrList paths;
    paths.append("stale");
    decodeTranslatedPaths(reply, paths);
    if (reply != text)
        __builtin_trap();

    std::vector<CorvaneTranslationGroup> groups;
    decodeTranslationGroups(text, groups);
    std::vector<CorvaneHostTranslation> hosts;
    decodeHostTranslations(text, hosts);
    std::vector<CorvaneOsTypeTranslation> types;
    decodeOsTypeTranslations(text, types);
    return 0;
}
