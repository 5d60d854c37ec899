#include "base/rcApi/rcTextScan.h"

#include <strings.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <initializer_list>

namespace Corvane {
namespace rcText {

long scanLong(const char* begin, const char* end) {
    const char* p = begin;
    while (p < end && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    // Accumulate as a negative number so that LONG_MIN is reachable.
    long value = 0;
    bool clamped = false;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        const int digit = *p - '0';
        if (clamped)
            continue;
        if (value < (LONG_MIN + digit) / 10) {
            clamped = true;
            continue;
        }
        value = value * 10 - digit;
    }
    if (clamped)
        return negative ? LONG_MIN : LONG_MAX;
    if (negative)
        return value;
    return value == LONG_MIN ? LONG_MAX : -value;
}

bool wordToBool(const char* word) {
    if (!word)
        return false;
    if (std::strcmp(word, "true") == 0)
        return true;
    if (std::strcmp(word, "false") == 0)
        return false;
    for (const char* yes : {"1", "yes", "on", "true"}) {
        if (strcasecmp(word, yes) == 0)
            return true;
    }
    return false;
}

}  // namespace rcText
}  // namespace Corvane
