// Internal to corvane_client.
// The server-level operations as the server handles see them. Every
// operation returns false on failure and leaves the reason in lastError();
// success leaves lastError() unchanged. One thread uses an object at a time.
#pragma once

#include <string>

#include "client/api/CorvaneLastError.h"

class CorvaneBaseInterface : public CorvaneLastError {
public:
    CorvaneBaseInterface() = default;
    virtual ~CorvaneBaseInterface() = default;
    CorvaneBaseInterface(const CorvaneBaseInterface&) = delete;
    CorvaneBaseInterface& operator=(const CorvaneBaseInterface&) = delete;

    // Asks the server to stop.
    virtual bool shutdown() = 0;
};
