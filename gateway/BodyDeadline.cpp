#include "BodyDeadline.h"

#include "RequestIo.h"

BodyDeadline::BodyDeadline(RequestWatchdog& watchdog, RequestIo& io, RequestLimits::Clock::time_point deadline)
    : watchdog_(watchdog), io_(io), deadline_(deadline) {
    watchdog_.watch(*this);
}

BodyDeadline::~BodyDeadline() { watchdog_.forget(*this); }

void BodyDeadline::step() {
    if (!fired_ && RequestLimits::Clock::now() >= deadline_) {
        fired_ = true;
        io_.abortBody();
    }
}
