#include "XmlBounds.h"

#include <cstring>

namespace {

bool startsWith(const std::string& text, size_t at, const char* prefix) {
    return text.compare(at, std::strlen(prefix), prefix) == 0;
}

// Where a section that ends with terminator ends: just behind it, or the
// text's end.
size_t behind(const std::string& text, size_t from, const char* terminator) {
    const size_t at = text.find(terminator, from);
    return at == std::string::npos ? text.size() : at + std::strlen(terminator);
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

// Where unsure, a section ends at its earliest possible end: the text
// behind it is then read as markup, which can only count more elements.
bool withinXmlBounds(const std::string& text, const XmlBounds& bounds) {
    if (text.size() > bounds.maxBytes)
        return false;
    int depth = 0;
    size_t at = text.find('<');
    while (at != std::string::npos && at + 1 < text.size()) {
        const char next = text[at + 1];
        if (startsWith(text, at, "<!--")) {
            at = behind(text, at + 4, "-->");
        } else if (startsWith(text, at, "<![CDATA[")) {
            at = behind(text, at + 9, "]]>");
        } else if (next == '!' || next == '?') {
            at = behind(text, at + 2, ">");  // declarations, instructions
        } else if (next == '/') {
            if (depth > 0)
                --depth;
            at = behind(text, at + 2, ">");
        } else {
            // An element's start tag. A quote opens a value only behind
            // "=", as for the parser; a quote elsewhere makes it fail.
            int attributes = 0;
            char quote = 0;
            bool afterEquals = false;
            size_t i = at + 1;
            for (; i < text.size(); ++i) {
                const char c = text[i];
                if (quote) {
                    if (c == quote)
                        quote = 0;
                } else if (c == '>') {
                    break;
                } else if (c == '=') {
                    if (++attributes > bounds.maxAttributes)
                        return false;
                    afterEquals = true;
                } else if (afterEquals && (c == '"' || c == '\'')) {
                    quote = c;
                    afterEquals = false;
                } else if (!isSpace(c)) {
                    afterEquals = false;
                }
            }
            if (i == text.size())
                break;
            // An empty element is as deep as one with content.
            if (depth + 1 > bounds.maxDepth)
                return false;
            if (text[i - 1] != '/')
                ++depth;
            at = i + 1;
        }
        at = text.find('<', at);
    }
    return true;
}
