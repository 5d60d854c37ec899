// A growable character buffer for texts built one character at a time, as
// the command, reply and value parsers do. It grows by whole multiples of
// its capacity and terminates the text only when c_str() reads it.
// Allocation failures throw CoException. A plain value; not thread-safe.
#pragma once

#include <cassert>
#include <cstddef>
#include <string>

namespace Corvane {

class CoStringBuilder {
public:
    static constexpr size_t kDefaultCapacity = 256;

    explicit CoStringBuilder(size_t capacity = kDefaultCapacity);
    CoStringBuilder(const CoStringBuilder& other);
    CoStringBuilder& operator=(const CoStringBuilder& other);
    virtual ~CoStringBuilder();

    void assign(const char* text);
    void assign(const std::string& text) { assign(text.data(), text.size()); }
    void assign(const char* text, size_t n);

    void append(char c) {
        if (len_ + 1 > size_ - 1)
            grow(2);
        buf_[len_++] = c;
    }
    void append(const char* bytes, size_t n);

    void clear() { len_ = 0; }

    const char* c_str() const {
        assert(len_ < size_ && "_len < _size");
        buf_[len_] = '\0';
        return buf_;
    }
    const char* data() const { return buf_; }
    size_t length() const { return len_; }
    bool empty() const { return len_ == 0; }
    size_t capacity() const { return size_; }
    std::string str() const { return std::string(buf_, len_); }

private:
    void grow(size_t factor);

    size_t size_;  // capacity in bytes, always > 0
    char* buf_;    // malloc'ed, owned
    size_t len_;
};

}  // namespace Corvane
