#include "base/osal/CoEffectiveGroupChanger.h"

#include <unistd.h>

#include "base/osal/CoUser.h"

namespace Corvane {

CoEffectiveGroupChanger::CoEffectiveGroupChanger(gid_t effectiveGid)
    : savedRealGid_(getgid()), savedEffectiveGid_(getegid()) {
    if (effectiveGid != savedEffectiveGid_)
        changed_ = CoUser::setGroupIds(savedRealGid_, effectiveGid);
}

CoEffectiveGroupChanger::~CoEffectiveGroupChanger() {
    if (changed_)
        CoUser::setGroupIds(savedRealGid_, savedEffectiveGid_);
}

}  // namespace Corvane
