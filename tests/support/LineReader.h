// Reads lines from a pipe or socket it does not own, keeping what arrives
// after a line for the next call. One thread reads at a time.
#pragma once

#include <string>

namespace CorvaneTest {

class LineReader {
public:
    enum class Result { Line, Closed, Timeout };

    explicit LineReader(int fd) : fd_(fd) {}

    // One line without its newline. With timeoutMs 0 only what has already
    // arrived is looked at.
    Result readLine(std::string* line, int timeoutMs);

private:
    int fd_;
    std::string pending_;
};

}  // namespace CorvaneTest
