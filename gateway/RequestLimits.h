// Internal to the gateway.
// The bounds of one request, fixed when it starts from its settings: a
// deadline for the whole request (CORVANE_REQUEST_TIMEOUT, default 60000
// ms), one for its body to arrive (CORVANE_BODY_TIMEOUT, default 30000 ms
// from the start; enforced under FastCGI), the most nodes it may name
// (CORVANE_MAX_NODES, default 1000) and the largest answer it may give
// (CORVANE_MAX_RESPONSE_BYTES, default 64 MiB). Each setting reads as
// XQ_CVC_BROWSE_TIMEOUT does: its leading digits (anything else is 0), the
// default when unset. Fixed after construction: any thread may read it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

class RequestIo;

class RequestLimits {
public:
    using Clock = std::chrono::steady_clock;

    // The request starts now; its settings come through io.
    explicit RequestLimits(const RequestIo& io);

    Clock::time_point deadline() const { return deadline_; }
    Clock::time_point bodyDeadline() const { return bodyDeadline_; }
    bool expired() const { return Clock::now() >= deadline_; }
    // Whole milliseconds left before the deadline; 0 once it has passed.
    int32_t remainingMs() const;
    // "Request took longer than <limit> ms"
    std::string expiredMessage() const;
    // Throw their failure message as a std::string.
    void checkDeadline() const;
    void checkNodeCount(size_t count) const;
    // bodyBytes: what goes between <response> and </response>.
    void checkResponseSize(size_t bodyBytes) const;

    // The answer a request of bodyBytes gives, framing included.
    static size_t answerBytes(size_t bodyBytes);

private:
    int32_t timeoutMs_;
    int32_t maxNodes_;
    int32_t maxResponseBytes_;
    Clock::time_point deadline_;
    Clock::time_point bodyDeadline_;
};
