#include "client/api/CorvaneLocale.h"

#include <algorithm>
#include <climits>
#include <clocale>
#include <cstring>
#include <cwchar>

#include "base/loggerBase/CoMsg.h"

namespace {

const char* localeName() {
    const char* name = std::setlocale(LC_CTYPE, nullptr);
    return name ? name : "C";
}

// Only the exact spelling counts: "utf8" goes through the C library.
bool localeIsUtf8() {
    const char* dot = std::strchr(localeName(), '.');
    return dot && std::strcmp(dot + 1, "UTF-8") == 0;
}

unsigned byteAt(const std::string& s, size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0; }

void appendUtf8(std::string& out, unsigned long c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xc0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xe0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    }
}

}  // namespace

void corvaneUtf8ToLocale(std::string& text) {
    if (localeIsUtf8())
        return;
    // Four NULs let a sequence cut short at the end read them as its
    // continuation bytes without running off the text.
    const size_t length = text.size();
    std::string source = text + std::string(4, '\0');
    std::string out;
    std::mbstate_t state{};
    size_t i = 0;
    while (i < length) {
        const unsigned lead = byteAt(source, i);
        unsigned long code = 0;
        int extra = 0;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xe0) == 0xc0) {
            code = lead & 0x1f;
            extra = 1;
        } else if ((lead & 0xf0) == 0xe0) {
            code = lead & 0x0f;
            extra = 2;
        } else if ((lead & 0xf8) == 0xf0) {
            code = lead & 0x07;
            extra = 3;
        } else {
            CO_WARNING("Invalid UTF8 character in string: %02x %02x %02x %02x", lead, byteAt(source, i + 1),
                       byteAt(source, i + 2), byteAt(source, i + 3));
            break;
        }
        for (int k = 1; k <= extra; ++k)
            code = (code << 6) | (byteAt(source, i + static_cast<size_t>(k)) & 0x3f);
        char mb[MB_LEN_MAX];
        const size_t n = std::wcrtomb(mb, static_cast<wchar_t>(code), &state);
        if (n == static_cast<size_t>(-1)) {
            CO_WARNING("Cannot convert Unicode character 0x%lx to locale %s", code, localeName());
            CO_WARNING("Source UTF8: %02x %02x %02x %02x", lead, byteAt(source, i + 1), byteAt(source, i + 2),
                       byteAt(source, i + 3));
            out += '?';
            state = std::mbstate_t{};
        } else {
            out.append(mb, n);
        }
        i += static_cast<size_t>(extra) + 1;
    }
    // A sequence cut short by the end may decode to NUL: never hand that on.
    out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());
    text = out;
}

std::string corvaneLocaleToUtf8(const char* text) {
    if (!text)
        return std::string();
    if (localeIsUtf8())
        return text;
    std::string out;
    std::mbstate_t state{};
    const char* p = text;
    size_t left = std::strlen(text);
    while (left > 0) {
        wchar_t wc = 0;
        const size_t n = std::mbrtowc(&wc, p, left, &state);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
            const auto at = [&](size_t k) { return k < left ? static_cast<unsigned char>(p[k]) : 0u; };
            CO_WARNING("Invalid character for locale %s: %02x %02x %02x %02x", localeName(), at(0), at(1), at(2),
                       at(3));
            out += '?';
            break;
        }
        if (n == 0)
            break;
        const unsigned long code = static_cast<unsigned long>(wc);
        if (code > 0x10FFFF) {
            CO_WARNING("Unsupported character in string: 0x%lx", code);
            out += '?';
        } else {
            appendUtf8(out, code);
        }
        p += n;
        left -= n;
    }
    return out;
}
