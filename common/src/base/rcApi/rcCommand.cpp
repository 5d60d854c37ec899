#include "base/rcApi/rcCommand.h"

#include <charconv>
#include <climits>
#include <cstring>

#include "base/rcApi/rcTextScan.h"

namespace Corvane {

void rcCommand::set(bool sync, int objectId, const char* method, const char* args) {
    char id[16];
    const std::to_chars_result r = std::to_chars(id, id + sizeof id, objectId);  // "%d", without printf's cost
    mode_.assign(sync ? "sync" : "async");
    objectId_.assign(id, static_cast<size_t>(r.ptr - id));
    method_.assign(method ? method : "");
    args_.assign(args ? args : "");
    state_ = 0;
}

void rcCommand::render(std::string& out) const {
    out.reserve(out.size() + mode_.length() + objectId_.length() + method_.length() + args_.length() + 16);
    out.append(mode_.data(), mode_.length());
    out += ' ';
    out.append(objectId_.data(), objectId_.length());
    out += ' ';
    out.append(method_.data(), method_.length());
    out += ' ';
    args_.appendEscaped(out);
    out += '\n';
}

std::string rcCommand::toString() const {
    std::string out;
    render(out);
    return out;
}

size_t rcCommand::feed(const char* p, size_t n, bool* complete) {
    *complete = false;
    size_t i = 0;
    while (i < n && state_ < 3) {
        if (addChar(p[i++])) {
            *complete = true;
            return i;
        }
    }
    if (i == n)
        return n;
    // The rest of the line is value text: take it in one run.
    return i + args_.appendReceivedLine(p + i, n - i, complete);
}

void rcCommand::reset() {
    mode_.clear();
    objectId_.clear();
    method_.clear();
    args_.reset();
    state_ = 0;
}

bool rcCommand::isSync() const { return mode_.length() == 4 && std::memcmp(mode_.data(), "sync", 4) == 0; }

int rcCommand::objectId() const {
    const long id = rcText::scanLong(objectId_.data(), objectId_.data() + objectId_.length());
    if (id > INT_MAX)
        return INT_MAX;
    if (id < INT_MIN)
        return INT_MIN;
    return static_cast<int>(id);
}

}  // namespace Corvane
