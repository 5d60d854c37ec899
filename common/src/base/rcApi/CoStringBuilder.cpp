#include "base/rcApi/CoStringBuilder.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/loggerBase/CoException.h"

namespace Corvane {

namespace {

// a * b, or SIZE_MAX when that does not fit.
size_t product(size_t a, size_t b) { return b != 0 && a > SIZE_MAX / b ? SIZE_MAX : a * b; }

}  // namespace

CoStringBuilder::CoStringBuilder(size_t capacity) : size_(capacity), buf_(nullptr), len_(0) {
    assert(size_ > 0 && "_size > 0");
    if (size_ == 0)
        size_ = 1;
    buf_ = static_cast<char*>(std::malloc(size_));
    if (!buf_)
        CO_THROW_ERRNO(ENOMEM, "Unable to allocate %zu bytes.", size_);
}

CoStringBuilder::CoStringBuilder(const CoStringBuilder& other) : CoStringBuilder(other.size_) {
    std::memcpy(buf_, other.buf_, other.len_);
    len_ = other.len_;
}

CoStringBuilder& CoStringBuilder::operator=(const CoStringBuilder& other) {
    if (this != &other)
        assign(other.buf_, other.len_);
    return *this;
}

CoStringBuilder::~CoStringBuilder() { std::free(buf_); }

void CoStringBuilder::assign(const char* text) { assign(text, text ? std::strlen(text) : 0); }

void CoStringBuilder::assign(const char* text, size_t n) {
    if (n > size_ - 1) {
        const size_t newSize = product((n + 1) / size_ + 1, size_);
        char* fresh = newSize == SIZE_MAX ? nullptr : static_cast<char*>(std::malloc(newSize));
        if (!fresh)
            CO_THROW_ERRNO(ENOMEM, "Unable to allocate buffer of %zu bytes.", newSize);
        std::free(buf_);
        buf_ = fresh;
        size_ = newSize;
    }
    if (n > 0)
        std::memmove(buf_, text, n);
    len_ = n;
}

void CoStringBuilder::append(const char* bytes, size_t n) {
    if (n > SIZE_MAX - len_ - 1)
        CO_THROW_ERRNO(ENOMEM, "Unable to grow string buffer to %zu bytes.", static_cast<size_t>(SIZE_MAX));
    if (len_ + n > size_ - 1)
        grow((size_ + n + 1) / size_ + 1);
    std::memcpy(buf_ + len_, bytes, n);
    len_ += n;
}

void CoStringBuilder::grow(size_t factor) {
    if (factor <= 1)
        return;
    const size_t newSize = product(size_, factor);
    char* grown = newSize == SIZE_MAX ? nullptr : static_cast<char*>(std::realloc(buf_, newSize));
    if (!grown)
        CO_THROW_ERRNO(ENOMEM, "Unable to grow string buffer to %zu bytes.", newSize);
    buf_ = grown;
    size_ = newSize;
}

}  // namespace Corvane
