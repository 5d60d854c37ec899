// The one exception type of the lower layers, thrown when construction or a
// resource fails. Fixed-size buffers, so that throwing never allocates.
// what() gives the text; detail() the formatted detail (or, with
// XQ_VERBOSE_EXCEPTIONS set, what() carries location and detail too).
#pragma once

#include <cstdarg>
#include <cstring>
#include <exception>

namespace Corvane {

class CoException : public std::exception {
public:
    static constexpr int kFileSize = 128;
    static constexpr int kMessageSize = 1600;

    CoException(int line, const char* file);
    CoException(const char* text, int line, const char* file);

    // Fills the message from text and a printf-style detail, then throws a copy.
    [[noreturn]] void raise(const char* text, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

    const char* what() const noexcept override { return message_; }
    const char* detail() const { return message_ + detailOffset_; }
    const char* file() const { return file_; }
    int line() const { return line_; }

    static void setVerbose(bool verbose);
    static bool verbose();

private:
    void fill(const char* text, const char* fmt, va_list* args);

    char file_[kFileSize];
    char message_[kMessageSize];
    int line_;
    int detailOffset_;
};

}  // namespace Corvane

// Throws a CoException carrying the system text for err and a detail.
#define CO_THROW_ERRNO(err, ...) Corvane::CoException(__LINE__, __FILE__).raise(std::strerror(err), __VA_ARGS__)
