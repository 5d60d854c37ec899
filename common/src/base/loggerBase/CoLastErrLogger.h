// Error poster embedded in an object that reports errors: posts each error
// at its location and remembers the last text for lastError(). Owned by one
// object; not shared between threads.
#pragma once

#include <string>

namespace Corvane {

class CoLastErrLogger {
public:
    CoLastErrLogger() = default;

    // Sets the location of the next error; returns *this so that a report
    // reads as one expression (see CO_LAST_ERR).
    const CoLastErrLogger& setLocation(const char* file, int line) const;
    // Routed whatever the current level, unless silent; always remembered.
    void postError(const char* fmt, ...) const __attribute__((format(printf, 2, 3)));

    void setSilentMode(bool silent) { silent_ = silent; }
    bool silentMode() const { return silent_; }
    const std::string& lastError() const { return lastError_; }

private:
    bool silent_ = false;
    mutable std::string file_;
    mutable int line_ = 0;
    mutable std::string lastError_;
};

}  // namespace Corvane

#define CO_LAST_ERR(logger) (logger).setLocation(__FILE__, __LINE__)
