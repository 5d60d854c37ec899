#include "client/api/CorvaneStr.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <utility>

char CorvaneStr::defaultBuff_[1] = {'\0'};

CorvaneStr::CorvaneStr(const char* text) : buff_(defaultBuff_) { assign(text); }

CorvaneStr::CorvaneStr(const CorvaneStr& other) : buff_(defaultBuff_) { assign(other.buff_); }

CorvaneStr& CorvaneStr::operator=(const char* text) {
    assign(text);
    return *this;
}

CorvaneStr& CorvaneStr::operator=(const CorvaneStr& other) {
    if (this != &other)
        assign(other.buff_);
    return *this;
}

CorvaneStr::~CorvaneStr() { freeBuff(); }

unsigned int CorvaneStr::length() const { return static_cast<unsigned int>(std::strlen(buff_)); }

void CorvaneStr::freeBuff() {
    if (buff_ != defaultBuff_)
        std::free(buff_);
    buff_ = defaultBuff_;
}

void CorvaneStr::reallocBuff(unsigned int n) {
    const bool fresh = buff_ == defaultBuff_;
    char* block = static_cast<char*>(fresh ? std::malloc(static_cast<size_t>(n) + 1)
                                           : std::realloc(buff_, static_cast<size_t>(n) + 1));
    if (!block) {
        // Out of memory: the string is left empty rather than broken.
        freeBuff();
        return;
    }
    if (fresh)
        block[0] = '\0';
    buff_ = block;
}

void CorvaneStr::assign(const char* text) {
    if (!text || !*text) {
        freeBuff();
        return;
    }
    const size_t len = std::strlen(text);
    if (text >= buff_ && text <= buff_ + std::strlen(buff_)) {
        // Assigning a tail of ourselves: copy before the block moves.
        CorvaneStr copy(text);
        std::swap(buff_, copy.buff_);
        return;
    }
    reallocBuff(static_cast<unsigned int>(len));
    if (buff_ != defaultBuff_)
        std::memcpy(buff_, text, len + 1);
}

bool CorvaneStr::operator==(const CorvaneStr& other) const { return std::strcmp(buff_, other.buff_) == 0; }

bool CorvaneStr::operator<(const CorvaneStr& other) const { return std::strcmp(buff_, other.buff_) < 0; }

bool CorvaneStr::operator==(const char* text) const { return text && std::strcmp(buff_, text) == 0; }
