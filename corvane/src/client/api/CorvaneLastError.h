// Internal to corvane_client.
// The last-error text of a client object, for the classes that report
// failure as false plus a reason: fail() records the reason and returns
// false, guarded() turns anything a step throws into one. Success leaves the
// text unchanged. Belongs to the object's operating thread; no lock.
#pragma once

#include <exception>
#include <string>

class CorvaneLastError {
public:
    // Never null.
    const char* lastError() const { return lastError_.c_str(); }

protected:
    bool fail(const std::string& text) {
        lastError_ = text;
        return false;
    }

    template <typename Body>
    bool guarded(Body&& body) {
        try {
            return body();
        } catch (const std::exception& e) {
            return fail(e.what());
        }
    }

private:
    std::string lastError_;
};
