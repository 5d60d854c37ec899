// Any bytes as the reply of "GetChildren" (comma-separated pairs) and of
// "GetChildrenEx" (nested streams), decoded as the node calls decode them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzQuiet.h"
#include "client/api/CorvaneReplyDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string reply = text;
    CorvaneNodeInterface::ChildList children;
    decodeChildren(reply, children);
    // One child per two tokens up to the first NUL, and the reply given back
    // whole.
    const size_t end = std::strlen(text.c_str());
    const size_t tokens = end == 0 ? 0 : 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + end, ','));
    if (children.size() != tokens / 2 || reply != text)
        __builtin_trap();

    children.clear();
    (void)decodeChildrenEx(text, children);
    return 0;
}
