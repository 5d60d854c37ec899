// Any bytes as a packed string list; whatever decodes must re-encode to a
// text that decodes to the same list.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzQuiet.h"
#include "base/rcApi/rcAttrList.h"

using List = Corvane::rcAttrList<std::string>;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> items;
    if (!List(std::string(reinterpret_cast<const char*>(data), size)).decode(items))
        return 0;
    std::vector<std::string> again;
    if (!List(List(items).str()).decode(again) || again != items)
        __builtin_trap();
    return 0;
}
