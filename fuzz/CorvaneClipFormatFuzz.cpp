// Any bytes as the reply of "GetClipFormat", and its metadata as a typed
// metadata value. A format read must render to a text that reads back to the
// same numbers and format tag.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzQuiet.h"
#include "base/rcApi/rcAttrStream.h"
#include "client/api/CorvaneClipFormat.h"
#include "client/api/CorvaneMetaData.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CorvaneClipFormat format;
    if (!format.fromText(text.c_str()))
        return 0;
    if (format.getNumChannels() != 0)
        (void)format.getBitsPerChannel();
    Corvane::rcAttrStream stream;
    format.writeTo(stream);

    const CorvaneMetaData::Blob blob(format.getMetaData());
    int major = 0, minor = 0;
    (void)blob.getFormat();
    (void)blob.getData();
    (void)blob.getVersion(major, minor);

    CorvaneClipFormat again;
    if (!again.fromText(format.toText().c_str()))
        __builtin_trap();
    if (again.getWidth() != format.getWidth() || again.getHeight() != format.getHeight() ||
        again.getBitsPerPixel() != format.getBitsPerPixel() || again.getNumChannels() != format.getNumChannels() ||
        again.getFrameBufferSize() != format.getFrameBufferSize() || again.getScanFormat() != format.getScanFormat() ||
        std::string(again.getFormatTag()) != format.getFormatTag())
        __builtin_trap();
    return 0;
}
