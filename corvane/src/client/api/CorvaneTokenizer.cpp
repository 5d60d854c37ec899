#include "client/api/CorvaneTokenizer.h"

#include <cassert>

CorvaneTokenizer::CorvaneTokenizer(char* input, char separator) : input_(input), separator_(separator) {
    assert(input_ && "input_");
}

char* CorvaneTokenizer::next() {
    if (finished_)
        return nullptr;
    if (pos_ != 0 || start_ != 0) {
        input_[pos_] = separator_;
        ++pos_;
    }
    while (input_[pos_] != '\0' && input_[pos_] != separator_)
        ++pos_;
    if (input_[pos_] == separator_) {
        input_[pos_] = '\0';
        char* token = input_ + start_;
        start_ = pos_ + 1;
        return token;
    }
    finished_ = true;
    if (start_ != 0)
        return input_ + start_;
    return pos_ != 0 ? input_ : nullptr;
}
