#include "base/rcApi/rcValue.h"

#include <cstring>

namespace Corvane {

std::string rcValue::escapedValue() const {
    std::string out;
    const size_t len = text_.length();
    // Room for a tenth more, in integers: no floating point on this path.
    out.reserve(len == 0 ? 1 : len + (len + 5) / 10);
    appendEscaped(out);
    return out;
}

void rcValue::appendEscaped(std::string& out) const {
    const char* p = text_.data();
    const char* end = p + text_.length();
    const char* nul = static_cast<const char*>(std::memchr(p, '\0', text_.length()));
    if (nul)
        end = nul;
    while (p < end) {
        // Copy the run of characters that need no escape in one go.
        const char* run = p;
        while (p < end && *p != '\n' && *p != '\t' && *p != '\\')
            ++p;
        out.append(run, static_cast<size_t>(p - run));
        if (p == end)
            break;
        out += '\\';
        out += *p == '\n' ? 'n' : *p == '\t' ? 't' : '\\';
        ++p;
    }
}

size_t rcValue::appendReceivedLine(const char* p, size_t n, bool* complete) {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', n));
    const size_t runEnd = nl ? static_cast<size_t>(nl - p) : n;
    appendReceived(p, runEnd);
    *complete = nl != nullptr;
    return nl ? runEnd + 1 : n;
}

void rcValue::appendReceived(const char* p, size_t n) {
    const char* end = p + n;
    while (p < end) {
        if (escapePending_) {
            append(*p++);
            continue;
        }
        const char* backslash = static_cast<const char*>(std::memchr(p, '\\', static_cast<size_t>(end - p)));
        const char* runEnd = backslash ? backslash : end;
        text_.append(p, static_cast<size_t>(runEnd - p));
        p = runEnd;
        if (backslash) {
            escapePending_ = true;
            ++p;
        }
    }
}

std::string rcValue::quote(const char* s) {
    std::string out;
    if (!s)
        return out;
    out.reserve(std::strlen(s) + 2);
    out += '"';
    for (; *s; ++s) {
        if (*s == '"' || *s == '\\')
            out += '\\';
        out += *s;
    }
    out += '"';
    return out;
}

std::string rcValue::unquote(const char* s) {
    std::string out;
    if (!s)
        return out;
    const size_t n = std::strlen(s);
    out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        const char c = s[i];
        if (c == '\\') {
            if (i + 1 >= n)
                break;
            out += s[++i];
        } else if (c == '"' && (i == 0 || i == n - 1)) {
            continue;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace Corvane
