#include "base/loggerBase/CoException.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Corvane {

namespace {

// Set at start-up from the mere presence of XQ_VERBOSE_EXCEPTIONS.
std::atomic<bool>& verboseFlag() {
    static std::atomic<bool> flag{std::getenv("XQ_VERBOSE_EXCEPTIONS") != nullptr};
    return flag;
}

struct ReadAtStartUp {
    ReadAtStartUp() { verboseFlag(); }
} gReadAtStartUp;

}  // namespace

CoException::CoException(int line, const char* file) : CoException("", line, file) {}

CoException::CoException(const char* text, int line, const char* file) : line_(line), detailOffset_(0) {
    std::snprintf(file_, sizeof file_, "%s", file ? file : "");
    fill(text, nullptr, nullptr);
}

void CoException::setVerbose(bool verbose) { verboseFlag().store(verbose); }
bool CoException::verbose() { return verboseFlag().load(); }

void CoException::fill(const char* text, const char* fmt, va_list* args) {
    const bool verbose = CoException::verbose();
    int n = std::snprintf(message_, kMessageSize, "%s", text ? text : "");
    if (n < 0)
        n = 0;
    if (n >= kMessageSize) {
        detailOffset_ = kMessageSize - 1;
        return;
    }
    if (verbose) {
        const int k = std::snprintf(message_ + n, static_cast<size_t>(kMessageSize - n), " f:%s l:%d", file_, line_);
        if (k < 0 || k >= kMessageSize - n) {
            detailOffset_ = kMessageSize - 1;
            return;
        }
        n += k;
    }
    if (!fmt || kMessageSize - n < 3) {
        detailOffset_ = n;
        return;
    }
    // Without verbose, the terminator stays so that what() ends before the detail.
    if (verbose)
        message_[n] = ' ';
    detailOffset_ = n + 1;
    std::vsnprintf(message_ + detailOffset_, static_cast<size_t>(kMessageSize - detailOffset_), fmt, *args);
}

void CoException::raise(const char* text, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    fill(text, fmt, &args);
    va_end(args);
    throw CoException(*this);
}

}  // namespace Corvane
