#include "base/dso/XqRtMonAPI.h"

#include <cstdlib>

#include "base/dso/XqDso.h"
#include "base/dso/XqDsoMgr.h"
#include "base/dso/XqRtMonNull.h"
#include "base/loggerBase/CoMsg.h"

namespace Corvane {

// Never destroyed: at exit a plug-in's own statics may go before the front
// would, and its monitor must not be deleted after them.
XqRtMonAPI& XqRtMonAPI::instance() {
    static XqRtMonAPI* const api = new XqRtMonAPI;
    return *api;
}

XqRtMonAPI::XqRtMonAPI() = default;

XqRtMonAPI::~XqRtMonAPI() = default;

bool XqRtMonAPI::startUp() {
    monitor_.reset();
    requested_ = std::getenv("XQ_RTMON") != nullptr;
    if (requested_) {
        XqDso* plugin = XqDsoMgr::instance().load(kPluginName);
        void* factory = plugin ? plugin->getSymbol(kFactoryName) : nullptr;
        if (factory) {
            monitor_.reset(reinterpret_cast<XqRtMonFactory>(factory)());
            if (monitor_)
                CO_NOTICE("rtmon: loading...");
        }
    }
    if (!monitor_)
        monitor_ = std::make_unique<XqRtMonNull>();
    return monitor_->startUp();
}

void XqRtMonAPI::event(int a0, int a1, int a2, int a3, int a4, int a5, int a6, int a7, int a8) {
    if (monitor_)
        monitor_->event(a0, a1, a2, a3, a4, a5, a6, a7, a8);
}

void XqRtMonAPI::event(int a0, int a1) {
    if (monitor_)
        monitor_->event(a0, a1);
}

void XqRtMonAPI::event() {
    if (monitor_)
        monitor_->event();
}

}  // namespace Corvane
