#include "base/rcApi/rcResult.h"

namespace Corvane {

namespace {

const char* statusText(int status) { return status == rcResult::kOk ? "ok" : status == rcResult::kError ? "error" : "unknown"; }

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

void rcResult::reset() {
    status_.clear();
    value_.reset();
    state_ = 0;
}

}  // namespace Corvane
