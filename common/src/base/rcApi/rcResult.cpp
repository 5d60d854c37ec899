#include "base/rcApi/rcResult.h"

#include <cstring>

namespace Corvane {

namespace {

const char* statusText(int status) {
    return status == rcResult::kOk ? "ok" : status == rcResult::kError ? "error" : "unknown";
}

}  // namespace

void rcResult::set(int status, const std::string& value) {
    status_ = statusText(status);
    value_.assign(value);
    state_ = 0;
}

void rcResult::set(int status, const char* value) {
    status_ = statusText(status);
    value_.assign(value ? value : "");
    state_ = 0;
}

void rcResult::render(std::string& out) const {
    out.reserve(out.size() + status_.size() + value_.length() + 8);
    out += status_;
    out += ' ';
    value_.appendEscaped(out);
    out += '\n';
}

std::string rcResult::toString() const {
    std::string out;
    render(out);
    return out;
}

size_t rcResult::feed(const char* p, size_t n, bool* complete) {
    *complete = false;
    size_t i = 0;
    while (i < n && state_ == 0) {
        if (addChar(p[i++])) {
            *complete = true;
            return i;
        }
    }
    if (i == n)
        return n;
    // The rest of the line is value text: take it in one run.
    return i + value_.appendReceivedLine(p + i, n - i, complete);
}

void rcResult::reset() {
    status_.clear();
    value_.reset();
    state_ = 0;
}

}  // namespace Corvane
