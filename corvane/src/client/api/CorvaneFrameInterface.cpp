#include "client/api/CorvaneFrameInterface.h"

#include <cstring>

#include "base/loggerBase/CoException.h"

namespace {

const char* const kMethodNames[CorvaneFrameInterface::kMethodCount] = {
    "ReadFrame",
    "WriteFrame",
    "ReadAhead",
    "NoOp",
    "PullFile",
    "PushFile",
    "ReadStream",
    "ReadFrameNoAck",
    "ReadFrameParams",
    "ReadAheadParams",
    "ReadFrameParamsNoAck",
    "ReadAheadRedirect",
    "InvalidateCache",
};

// More digits could overflow 64 bits; no size or count of ours needs them.
constexpr size_t kMaxDigits = 18;

[[noreturn]] void throwText(const std::string& text) { throw Corvane::CoException(text.c_str(), __LINE__, __FILE__); }

}  // namespace

const char* const CorvaneFrameInterface::FAST_ACK_ERROR_PREFIX =
    "Fetcher la vache! An error occurred while reading a frame from the Corvane server:";

const char* CorvaneFrameInterface::methodName(Method method) {
    const int index = static_cast<int>(method);
    return index >= 0 && index < kMethodCount ? kMethodNames[index] : "";
}

bool CorvaneFrameInterface::methodFromName(const std::string& name, Method* method) {
    for (int i = 0; i < kMethodCount; ++i) {
        if (name == kMethodNames[i]) {
            *method = static_cast<Method>(i);
            return true;
        }
    }
    return false;
}

std::string readFrameToken(CorvaneByteSource& source, size_t maxBytes) {
    std::string token;
    for (;;) {
        char c = 0;
        source.readExactly(&c, 1);
        if (c == '\0')
            return token;
        if (token.size() >= maxBytes) {
            source.abandon();
            throwText("Invalid reply from the Corvane server: a token longer than " + std::to_string(maxBytes) +
                      " bytes");
        }
        token += c;
    }
}

bool parseFrameInteger(const std::string& token, int64_t* value) {
    const size_t digits = token.size() - (token.compare(0, 1, "-") == 0 ? 1 : 0);
    if (digits == 0 || digits > kMaxDigits)
        return false;
    int64_t v = 0;
    for (size_t i = token.size() - digits; i < token.size(); ++i) {
        const char c = token[i];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *value = digits == token.size() ? v : -v;
    return true;
}

int64_t readFrameInteger(CorvaneByteSource& source) {
    const std::string token = readFrameToken(source, CorvaneFrameInterface::kMaxIntegerBytes);
    int64_t value = 0;
    if (!parseFrameInteger(token, &value)) {
        source.abandon();
        throwText("Invalid number '" + token + "' from the Corvane server");
    }
    return value;
}

void checkFrameStatus(CorvaneByteSource& source) {
    const std::string status = readFrameToken(source, CorvaneFrameInterface::kMaxStatusBytes);
    if (!status.empty())
        throwText(status);
}
