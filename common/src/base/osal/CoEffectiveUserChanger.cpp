#include "base/osal/CoEffectiveUserChanger.h"

#include <unistd.h>

#include "base/osal/CoUser.h"

namespace Corvane {

CoEffectiveUserChanger::CoEffectiveUserChanger(uid_t effectiveUid)
    : savedRealUid_(getuid()), savedEffectiveUid_(geteuid()) {
    change(effectiveUid);
}

CoEffectiveUserChanger::CoEffectiveUserChanger(Target target) : savedRealUid_(getuid()), savedEffectiveUid_(geteuid()) {
    if (target == Target::Root)
        change(0);
    else
        change(CoUser::startRealUid() != 0 ? CoUser::startRealUid() : CoUser::lastEffectiveUid());
}

CoEffectiveUserChanger::~CoEffectiveUserChanger() {
    if (changed_)
        CoUser::setUserIds(savedRealUid_, savedEffectiveUid_);
}

void CoEffectiveUserChanger::change(uid_t effectiveUid) {
    if (effectiveUid != savedEffectiveUid_)
        changed_ = CoUser::setUserIds(savedRealUid_, effectiveUid);
}

}  // namespace Corvane
