// The runtime-monitor plug-in of the loader tests. It writes down every call
// it gets in a text the tests read back through "xqRtmonTestLog", and its
// start-up fails, so that its answer differs from the do-nothing monitor's.
#include <string>

#include "base/dso/XqRtMonAPI.h"

// Defined nowhere: the plug-in opens only while binding is lazy.
extern "C" void corvaneRtmonUnresolvedHook();

namespace {

std::string& calls() {
    static std::string text;
    return text;
}

class RecordingMonitor : public Corvane::XqRtMonAbstract {
public:
    ~RecordingMonitor() override { calls() += "destroyed\n"; }
    bool startUp() override {
        calls() += "start-up\n";
        return false;
    }
    void event(int a0, int a1, int a2, int a3, int a4, int a5, int a6, int a7, int a8) override {
        for (int a : {a0, a1, a2, a3, a4, a5, a6, a7, a8})
            calls() += std::to_string(a) + " ";
        calls() += "\n";
    }
    void event(int a0, int a1) override { calls() += std::to_string(a0) + " " + std::to_string(a1) + "\n"; }
    void event() override { calls() += "event\n"; }
};

}  // namespace

extern "C" Corvane::XqRtMonAbstract* createXqRtMon() { return new RecordingMonitor; }

extern "C" const char* xqRtmonTestLog() { return calls().c_str(); }

extern "C" void xqRtmonCallUnresolvedHook() { corvaneRtmonUnresolvedHook(); }
