// The runtime-monitor plug-in that the loader test loads and finds its
// factory in.
#include "base/dso/XqRtMonAPI.h"

// Defined nowhere: the plug-in opens only while binding is lazy.
extern "C" void corvaneRtmonUnresolvedHook();

extern "C" Corvane::XqRtMonAbstract* createXqRtMon() { return nullptr; }

extern "C" void xqRtmonCallUnresolvedHook() { corvaneRtmonUnresolvedHook(); }
