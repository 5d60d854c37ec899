// One command line from client to server: mode ("sync" or "async"), target
// object id in decimal, method name and the escaped argument text, the
// first three followed by single blanks and the whole ended by a newline.
// The parser takes one received character at a time and reports when a
// newline completes the command; it accepts any bytes, so the reader must
// bound how many it feeds. A plain value; not thread-safe.
#pragma once

#include <cstddef>
#include <string>

#include "base/rcApi/CoStringBuilder.h"
#include "base/rcApi/rcValue.h"

namespace Corvane {

class rcCommand {
public:
    rcCommand() = default;
    virtual ~rcCommand() = default;

    // Fills the command for sending.
    void set(bool sync, int objectId, const char* method, const char* args);

    // Appends the command line, newline included, to out.
    void render(std::string& out) const;
    std::string toString() const;

    // Starts parsing a new command.
    void reset();
    // Feeds one received character; true when it completed the command.
    bool addChar(char c) {
        if (c == '\n')
            return true;
        if (state_ == 3) {
            args_.append(c);
            return false;
        }
        if (c == ' ') {
            ++state_;
            return false;
        }
        (state_ == 0 ? mode_ : state_ == 1 ? objectId_ : method_).append(c);
        return false;
    }

    // Feeds up to n received bytes, stopping after a newline that completes
    // the command (*complete set); returns how many bytes were used.
    size_t feed(const char* p, size_t n, bool* complete);

    const char* mode() const { return mode_.c_str(); }
    bool isSync() const;
    // The object-id field as strtol reads it, clamped to int.
    int objectId() const;
    const char* method() const { return method_.c_str(); }
    // The unescaped argument text.
    const char* args() const { return args_.c_str(); }
    const rcValue& argValue() const { return args_; }

private:
    CoStringBuilder mode_;
    CoStringBuilder objectId_;
    CoStringBuilder method_;
    rcValue args_;
    int state_ = 0;
};

}  // namespace Corvane
