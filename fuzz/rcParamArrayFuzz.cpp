// Any bytes as the argument text of a call to a method whose parameter list
// the first two bytes pick (up to five parameters of any type), dispatched
// the way a server context dispatches a command line.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzQuiet.h"
#include "base/rcApi/rcMethod.h"
#include "base/rcApi/rcParam.h"

using namespace Corvane;

namespace {

const rcParam::Type* const kTypes[] = {&rcParamVoid::TYPE, &rcParamBool::TYPE,  &rcParamInt::TYPE,
                                       &rcParamLong::TYPE, &rcParamFloat::TYPE, &rcParamString::TYPE};
constexpr size_t kMaxParams = 5;

struct Call {
    size_t textSize = 0;
    size_t expected = 0;
};

// Reads every argument every way; no token may be longer than the text.
bool readAll(void*, const rcMethod& method, const rcParam::Array& args, rcParam& result) {
    const Call& call = *static_cast<const Call*>(method.context());
    if (args.size() != call.expected)
        __builtin_trap();
    std::string joined;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string text = args[i].toString();
        if (text.size() > call.textSize && method.params()[i].type == &rcParamString::TYPE)
            __builtin_trap();
        (void)args[i].getInt();
        (void)args[i].getLong();
        (void)args[i].getFloat();
        (void)args[i].getBool();
        joined += text;
    }
    result.fromString(joined);
    if (joined.size() % 3 == 0) {
        method.setErrorText(joined);
        return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const unsigned pick = data[0] | data[1] << 8;
    rcParam::Decl decls[kMaxParams + 1];
    const size_t count = pick % (kMaxParams + 1);
    unsigned types = pick / (kMaxParams + 1);
    for (size_t i = 0; i < count; ++i, types /= 6)
        decls[i] = {kTypes[types % 6], "p"};
    decls[count] = {nullptr, nullptr};
    const rcParam::Type* const result = kTypes[data[1] % 6];

    const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
    Call call;
    call.textSize = std::strlen(text.c_str());
    call.expected = count;
    const rcMethod method(&call, "Fuzz", &readAll, result, decls);
    std::string out;
    method.invoke(nullptr, text.c_str(), out);
    return 0;
}
