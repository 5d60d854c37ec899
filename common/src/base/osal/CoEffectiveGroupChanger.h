// Internal to corvane_base.
// Scoped change of the effective group id: changes it in the constructor
// when it differs from the current one, and puts the ids recorded at
// construction back in the destructor only if it changed them. Same
// thread-safety as CoUser.
#pragma once

#include <sys/types.h>

namespace Corvane {

class CoEffectiveGroupChanger {
public:
    explicit CoEffectiveGroupChanger(gid_t effectiveGid);
    ~CoEffectiveGroupChanger();
    CoEffectiveGroupChanger(const CoEffectiveGroupChanger&) = delete;
    CoEffectiveGroupChanger& operator=(const CoEffectiveGroupChanger&) = delete;

    bool changed() const { return changed_; }

private:
    gid_t savedRealGid_;
    gid_t savedEffectiveGid_;
    bool changed_ = false;
};

}  // namespace Corvane
