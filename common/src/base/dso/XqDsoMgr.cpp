#include "base/dso/XqDsoMgr.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/dso/XqDso.h"
#include "base/loggerBase/CoMsg.h"
#include "base/osal/CoEffectiveUserChanger.h"
#include "base/threads/CoLockGuard.h"

namespace Corvane {

bool XqDsoMgr::usePure_S = false;

// Never destroyed: libraries stay mapped to the very end of the process,
// for whatever calls into them while it exits.
XqDsoMgr& XqDsoMgr::instance() {
    static XqDsoMgr* const manager = new XqDsoMgr;
    return *manager;
}

XqDsoMgr::XqDsoMgr() { usePure_S = std::getenv("XQ_USE_PURE_DSO") != nullptr; }

XqDsoMgr::~XqDsoMgr() = default;

XqDso* XqDsoMgr::findLocked(const char* name) const {
    for (const auto& dso : loaded_)
        if (dso->path().find(name) != std::string::npos)
            return dso.get();
    return nullptr;
}

XqDso* XqDsoMgr::load(const char* name) {
    {
        CoLockGuard guard(mutex_);
        if (XqDso* found = findLocked(name))
            return found;
    }
    // Opened outside the lock: a library's constructors may load others.
    const std::string path = usePure_S ? std::string(name) + ".pure" : std::string(name);
    std::unique_ptr<XqDso> opened = XqDso::create(path.c_str());
    if (!opened)
        return nullptr;
    CoLockGuard guard(mutex_);
    // Another thread may have loaded it meanwhile; ours then just drops a
    // reference count of the loader.
    if (XqDso* found = findLocked(name))
        return found;
    loaded_.push_back(std::move(opened));
    return loaded_.back().get();
}

bool XqDsoMgr::getDsoLocation(const char* name, std::string* location) const {
    char mapsPath[64];
    std::snprintf(mapsPath, sizeof mapsPath, "/proc/%d/maps", static_cast<int>(getpid()));
    bool found = false;
    CoEffectiveUserChanger root(CoEffectiveUserChanger::Target::Root);
    std::unique_ptr<FILE, decltype(&std::fclose)> maps(std::fopen(mapsPath, "re"), &std::fclose);
    char* text = nullptr;
    size_t capacity = 0;
    while (maps && getline(&text, &capacity, maps.get()) > 0) {
        const std::string line(text, std::strcspn(text, "\n"));
        const size_t first = line.find('/');
        if (first == std::string::npos)
            continue;
        // The name is looked for in the path only, not in the addresses.
        const size_t at = line.find(name, first);
        if (at == std::string::npos)
            continue;
        size_t end = line.rfind('/');
        if (at < end)
            end = at > first ? at - 1 : first;
        *location = line.substr(first, end - first);
        found = true;
    }
    std::free(text);
    CO_DEBUG("getDsoLocation(%s): found=%d, location=%s\n", name, found ? 1 : 0, found ? location->c_str() : "");
    return found;
}

}  // namespace Corvane
