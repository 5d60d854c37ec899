// Any bytes as an attribute stream, read every way a peer's record is read:
// typed lookups, iteration, comparison, pretty printing, rewriting, and as
// a login record.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzQuiet.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/rcApi/rcConnectionInfo.h"

using Corvane::rcAttrStream;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    rcAttrStream s(text);
    std::string v;
    int i = 0;
    bool b = false;
    uint64_t h = 0;
    float f = 0;
    char small[4];
    s.getValue("Name", v);
    s.getIntValue("NodePort", i);
    s.getBoolValue("b", b);
    s.getHex64Value("h", h);
    s.getFloatValue("f", f);
    s.getStringValue("Name", small, sizeof small);
    s.getValue("Name", v);  // again: from the cursor's new place
    const int count = s.count();
    rcAttrStream::ConstIterator it(s);
    rcAttrStream::Entry e;
    int seen = 0;
    while (it.next(e)) {
        if (e.nameLen == 0 || e.nameLen + e.valueLen > size)
            __builtin_trap();
        ++seen;
    }
    if (seen != count)
        __builtin_trap();
    (void)s.prettyString(static_cast<int>(size % 16));
    if (!(s == rcAttrStream(text)))
        __builtin_trap();
    rcAttrStream::Iterator edit(s);
    if (edit.find("Name"))
        edit.remove();
    s.addStringValue("Name", "x");
    (void)s.count();
    const Corvane::rcConnectionInfo info(text.c_str());
    (void)info.isValid();
    return 0;
}
