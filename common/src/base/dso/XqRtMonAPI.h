// Internal to corvane_base.
// Optional runtime-monitor hook. When XQ_RTMON is set, startUp() installs
// the monitor made by "createXqRtMon" of the plug-in "libXQrtmon.so";
// otherwise, or when the plug-in is missing, a monitor that does nothing.
// What a monitor records for an event is its own business.
//
// XqRtMonAPI is a process-wide singleton, never destroyed. startUp() is called at
// configuration time, before other threads send events; events may then
// come from any thread and reach the monitor unchanged (a monitor that
// takes events from several threads guards itself).
#pragma once

#include <memory>

namespace Corvane {

// The monitor interface a plug-in implements. The plug-in is built against
// this header: keep the order of the virtual functions.
class XqRtMonAbstract {
public:
    virtual ~XqRtMonAbstract() = default;
    // True when the monitor is ready.
    virtual bool startUp() = 0;
    virtual void event(int a0, int a1, int a2, int a3, int a4, int a5, int a6, int a7, int a8) = 0;
    virtual void event(int a0, int a1) = 0;
    virtual void event() = 0;
};

// The plug-in's factory, exported as "createXqRtMon"; the caller owns the result.
extern "C" typedef XqRtMonAbstract* (*XqRtMonFactory)();

class XqRtMonAPI {
public:
    static constexpr const char* kPluginName = "libXQrtmon.so";
    static constexpr const char* kFactoryName = "createXqRtMon";

    static XqRtMonAPI& instance();
    ~XqRtMonAPI();
    XqRtMonAPI(const XqRtMonAPI&) = delete;
    XqRtMonAPI& operator=(const XqRtMonAPI&) = delete;

    // Replaces the current monitor (see above) and returns its start-up result.
    bool startUp();
    // Whether XQ_RTMON was set at the last startUp().
    bool rtmonRequested() const { return requested_; }

    // Passed on to the monitor; nothing happens before startUp().
    void event(int a0, int a1, int a2, int a3, int a4, int a5, int a6, int a7, int a8);
    void event(int a0, int a1);
    void event();

private:
    XqRtMonAPI();

    std::unique_ptr<XqRtMonAbstract> monitor_;
    bool requested_ = false;
};

}  // namespace Corvane
