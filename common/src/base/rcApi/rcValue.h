// The text of one argument list or result as it travels on a command or
// reply line. On the wire a newline is written as backslash and "n", a tab
// as backslash and "t" and a backslash as two backslashes; nothing else is
// changed. Received characters are unescaped one at a time as they arrive.
// Also home of the argument quoting that callers use to build argument
// texts. A plain value; not thread-safe.
#pragma once

#include <cstddef>
#include <string>

#include "base/rcApi/CoStringBuilder.h"

namespace Corvane {

class rcValue {
public:
    rcValue() = default;
    virtual ~rcValue() = default;

    // Empty text, no escape pending.
    void reset() {
        text_.clear();
        escapePending_ = false;
    }

    // Adds one received character, undoing the wire escapes.
    void append(char c) {
        if (!escapePending_) {
            if (c == '\\')
                escapePending_ = true;
            else
                text_.append(c);
            return;
        }
        escapePending_ = false;
        text_.append(c == 'n' ? '\n' : c == 't' ? '\t' : c);
    }

    // Adds n received characters, undoing the wire escapes; the same as n
    // calls of append(), in runs.
    void appendReceived(const char* p, size_t n);
    // Appends received characters up to the line's newline: the count
    // consumed (the newline included), with *complete set when the line ended.
    size_t appendReceivedLine(const char* p, size_t n, bool* complete);

    // Sets the plain (unescaped) text.
    void assign(const char* text) {
        text_.assign(text);
        escapePending_ = false;
    }
    void assign(const std::string& text) {
        text_.assign(text);
        escapePending_ = false;
    }

    // The text escaped for sending; it ends at the first NUL.
    std::string escapedValue() const;
    // Appends the escaped text to out.
    void appendEscaped(std::string& out) const;

    const char* c_str() const { return text_.c_str(); }
    const char* data() const { return text_.data(); }
    size_t length() const { return text_.length(); }
    std::string str() const { return text_.str(); }

    // Argument quoting: s in double quotes with a backslash before every
    // double quote and backslash; a null s gives "" (no quotes at all).
    static std::string quote(const char* s);
    // The inverse: drops a double quote at the first or last position and
    // every backslash (copying the character after it).
    static std::string unquote(const char* s);

private:
    CoStringBuilder text_;
    bool escapePending_ = false;
};

}  // namespace Corvane
