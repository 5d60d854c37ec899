// The process's clocks. Deadlines, time-outs and ages use the monotonic
// clock, which never jumps when someone sets the system time; wall time is
// only for what carries a date (log records, and the time stamps the cache,
// the discovery client and the daemon records keep since the epoch).
// Thread-safe.
#pragma once

#include <cstdint>

namespace Corvane {
namespace CoClock {

// Microseconds since an arbitrary start (CLOCK_MONOTONIC).
int64_t monotonicUs();
inline int64_t monotonicMs() { return monotonicUs() / 1000; }

// Microseconds since the epoch, as gettimeofday gives them.
int64_t wallUs();

}  // namespace CoClock
}  // namespace Corvane
