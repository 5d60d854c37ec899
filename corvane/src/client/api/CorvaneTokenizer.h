// Internal to corvane_client.
// Splits a writable text at one separator, in place: each token is ended
// by a NUL written over its separator, and the separator is put back when
// the next token is asked for. Empty tokens are kept. Not thread-safe.
#pragma once

class CorvaneTokenizer {
public:
    CorvaneTokenizer(char* input, char separator);

    // The next token, or null when there are no more.
    char* next();

private:
    char* input_;
    char separator_;
    unsigned start_ = 0;
    unsigned pos_ = 0;
    bool finished_ = false;
};
