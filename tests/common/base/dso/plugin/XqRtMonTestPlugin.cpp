// The runtime-monitor plug-in that the loader test loads and finds its
// factory in.
#include "base/dso/XqRtMonAPI.h"

extern "C" Corvane::XqRtMonAbstract* createXqRtMon() { return nullptr; }
