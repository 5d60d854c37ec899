#include "base/time/CoClock.h"

#include <sys/time.h>
#include <time.h>

namespace Corvane {
namespace CoClock {

int64_t monotonicUs() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int64_t wallUs() {
    timeval tv;
    ::gettimeofday(&tv, nullptr);
    return static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

}  // namespace CoClock
}  // namespace Corvane
