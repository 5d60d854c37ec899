// Internal to corvane_base.
// The monitor installed when no plug-in is: every event does nothing and
// start-up succeeds. Stateless, so thread-safe.
#pragma once

#include "base/dso/XqRtMonAPI.h"

namespace Corvane {

class XqRtMonNull : public XqRtMonAbstract {
public:
    bool startUp() override { return true; }
    void event(int, int, int, int, int, int, int, int, int) override {}
    void event(int, int) override {}
    void event() override {}
};

}  // namespace Corvane
