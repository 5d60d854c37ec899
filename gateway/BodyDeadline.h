// Internal to the gateway.
// Ends the reading of a request's body at the body's deadline: while one
// lives, the watchdog aborts the body's reads once the deadline passes.
#pragma once

#include "RequestLimits.h"
#include "RequestWatchdog.h"

class RequestIo;

class BodyDeadline : private RequestWatchdog::Client {
public:
    // The watchdog and io outlive this.
    BodyDeadline(RequestWatchdog& watchdog, RequestIo& io, RequestLimits::Clock::time_point deadline);
    ~BodyDeadline();
    BodyDeadline(const BodyDeadline&) = delete;
    BodyDeadline& operator=(const BodyDeadline&) = delete;

private:
    void step() override;

    RequestWatchdog& watchdog_;
    RequestIo& io_;
    const RequestLimits::Clock::time_point deadline_;
};
