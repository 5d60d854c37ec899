// The server-level operations as the server handles see them. Every
// operation returns false on failure and leaves the reason in lastError();
// success leaves lastError() unchanged. One thread uses an object at a time.
#pragma once

#include <string>

class CorvaneBaseInterface {
public:
    CorvaneBaseInterface() = default;
    virtual ~CorvaneBaseInterface() = default;
    CorvaneBaseInterface(const CorvaneBaseInterface&) = delete;
    CorvaneBaseInterface& operator=(const CorvaneBaseInterface&) = delete;

    // Asks the server to stop.
    virtual bool shutdown() = 0;

    // Never null.
    const char* lastError() const { return lastError_.c_str(); }

protected:
    // Stores text as the last error and returns false.
    bool fail(const std::string& text) {
        lastError_ = text;
        return false;
    }

    std::string lastError_;
};
