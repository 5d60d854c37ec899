// One reply line from server to client: the status ("ok" or "error"), a
// blank, the escaped value (on failure the error message) and a newline.
// The parser takes one received character at a time and reports when a
// newline completes the reply; it accepts any bytes, so the reader must
// bound how many it feeds. A plain value; not thread-safe.
#pragma once

#include <cstddef>
#include <string>

#include "base/rcApi/rcValue.h"

namespace Corvane {

class rcResult {
public:
    enum Status : int { kOk = 0, kError = 1 };

    rcResult() = default;
    virtual ~rcResult() = default;

    // Fills the reply for sending; a status other than kOk and kError is
    // written "unknown".
    void set(int status, const std::string& value);
    void set(int status, const char* value);

    // Appends the reply line, newline included, to out.
    void render(std::string& out) const;
    std::string toString() const;

    // Starts parsing a new reply.
    void reset();
    // Feeds one received character; true when it completed the reply.
    bool addChar(char c) {
        if (c == '\n')
            return true;
        if (state_ == 1)
            value_.append(c);
        else if (c == ' ')
            state_ = 1;
        else
            status_ += c;
        return false;
    }

    // Feeds up to n received bytes, stopping after a newline that completes
    // the reply (*complete set); returns how many bytes were used.
    size_t feed(const char* p, size_t n, bool* complete);

    bool isOk() const { return status_ == "ok"; }
    const std::string& status() const { return status_; }
    // The unescaped value.
    const rcValue& value() const { return value_; }

private:
    std::string status_;
    rcValue value_;
    int state_ = 0;
};

}  // namespace Corvane
