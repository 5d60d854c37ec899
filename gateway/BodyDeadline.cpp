#include "BodyDeadline.h"

#include "RequestIo.h"

BodyDeadline::BodyDeadline(RequestWatchdog& watchdog, RequestIo& io, RequestLimits::Clock::time_point deadline)
    : watchdog_(watchdog), io_(io), deadline_(deadline) {
    watchdog_.watch(*this);
}

BodyDeadline::~BodyDeadline() { watchdog_.forget(*this); }

// Aborting again until the read ends is harmless: it only shuts the
// reading side once more.
void BodyDeadline::step() {
    if (RequestLimits::Clock::now() >= deadline_)
        io_.abortBody();
}
