// Internal to corvane_base.
// Scoped change of the effective user id: changes it in the constructor when
// it differs from the current one, and puts the ids recorded at construction
// back in the destructor only if it changed them. Same thread-safety as
// CoUser: identity is process-wide, so keep the scope to one short call.
#pragma once

#include <sys/types.h>

namespace Corvane {

class CoEffectiveUserChanger {
public:
    enum class Target {
        Root,          // effective id 0
        InvokingUser,  // the real id at start, or the last effective id set
    };

    explicit CoEffectiveUserChanger(uid_t effectiveUid);
    explicit CoEffectiveUserChanger(Target target);
    ~CoEffectiveUserChanger();
    CoEffectiveUserChanger(const CoEffectiveUserChanger&) = delete;
    CoEffectiveUserChanger& operator=(const CoEffectiveUserChanger&) = delete;

    // True when the constructor changed the ids (and the destructor will
    // restore them).
    bool changed() const { return changed_; }

private:
    void change(uid_t effectiveUid);

    uid_t savedRealUid_;
    uid_t savedEffectiveUid_;
    bool changed_ = false;
};

}  // namespace Corvane
