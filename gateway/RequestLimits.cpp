#include "RequestLimits.h"

#include <algorithm>
#include <climits>

#include "RequestIo.h"
#include "base/env/EnvVar.h"

namespace {

constexpr int32_t kDefaultTimeoutMs = 60000;
// A body that is not there by then is being withheld: a web server
// forwards what its client sent at once.
constexpr int32_t kDefaultBodyTimeoutMs = 30000;
// Far more than a page asks for at once, and few enough that a request
// naming them all is answered in seconds.
constexpr int32_t kDefaultMaxNodes = 1000;
// The most a server answers one call with: one stream fits.
constexpr int32_t kDefaultMaxResponseBytes = 64 * 1024 * 1024;
// "<response>", "</response>" and the newline.
constexpr size_t kFramingBytes = 22;

int32_t settingOf(const RequestIo& io, const char* name, int32_t fallback) {
    const char* value = io.setting(name);
    return value ? Corvane::leadingDigits(value) : fallback;
}

}  // namespace

RequestLimits::RequestLimits(const RequestIo& io)
    : timeoutMs_(settingOf(io, "CORVANE_REQUEST_TIMEOUT", kDefaultTimeoutMs)),
      maxNodes_(settingOf(io, "CORVANE_MAX_NODES", kDefaultMaxNodes)),
      maxResponseBytes_(settingOf(io, "CORVANE_MAX_RESPONSE_BYTES", kDefaultMaxResponseBytes)) {
    const Clock::time_point start = Clock::now();
    deadline_ = start + std::chrono::milliseconds(timeoutMs_);
    bodyDeadline_ =
        start + std::chrono::milliseconds(settingOf(io, "CORVANE_BODY_TIMEOUT", kDefaultBodyTimeoutMs));
}

int32_t RequestLimits::remainingMs() const {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    return static_cast<int32_t>(std::clamp<decltype(left)>(left, 0, INT32_MAX));
}

std::string RequestLimits::expiredMessage() const {
    return "Request took longer than " + std::to_string(timeoutMs_) + " ms";
}

void RequestLimits::checkDeadline() const {
    if (expired())
        throw expiredMessage();
}

void RequestLimits::checkNodeCount(size_t count) const {
    if (count > static_cast<size_t>(maxNodes_))
        throw "Too many nodes in one request (" + std::to_string(count) + ", at most " + std::to_string(maxNodes_) +
            ")";
}

void RequestLimits::checkResponseSize(size_t bodyBytes) const {
    if (answerBytes(bodyBytes) > static_cast<size_t>(maxResponseBytes_))
        throw std::string("Response too large");
}

size_t RequestLimits::answerBytes(size_t bodyBytes) { return bodyBytes + kFramingBytes; }
