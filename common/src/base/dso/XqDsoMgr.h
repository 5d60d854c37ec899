// Internal to corvane_base.
// The process's loaded shared libraries, in load order, each opened once,
// and the directory a library was mapped from. A process-wide singleton
// created on first use and never destroyed: the libraries it loads stay
// mapped until the process ends, so the XqDso pointers it hands out stay
// valid. Thread-safe.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/threads/CoMutex.h"

namespace Corvane {

class XqDso;

class XqDsoMgr {
public:
    // Set from XQ_USE_PURE_DSO when the manager is created: load() then
    // opens "<name>.pure" instead of name.
    static bool usePure_S;

    static XqDsoMgr& instance();
    ~XqDsoMgr();
    XqDsoMgr(const XqDsoMgr&) = delete;
    XqDsoMgr& operator=(const XqDsoMgr&) = delete;

    // A loaded library whose path contains name, or name newly opened;
    // null when it can not be opened.
    XqDso* load(const char* name);

    // The directory of the last library in this process's memory map whose
    // line names it; false when none does. Reads the map as root, for a
    // process whose own map is closed to its user.
    bool getDsoLocation(const char* name, std::string* location) const;

private:
    XqDsoMgr();
    XqDso* findLocked(const char* name) const;

    mutable CoMutex mutex_;  // guards loaded_ (the XqDso objects are immutable)
    std::vector<std::unique_ptr<XqDso>> loaded_;
};

}  // namespace Corvane
