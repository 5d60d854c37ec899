#include "base/tcp/CoLocalAddressCache.h"

#include "base/threads/CoLockGuard.h"
#include "base/time/CoClock.h"

namespace Corvane {

CoLocalAddressCache& CoLocalAddressCache::instance() {
    static CoLocalAddressCache cache;
    return cache;
}

std::string CoLocalAddressCache::address(const std::function<std::string()>& resolve) {
    const int64_t nowMs = CoClock::monotonicMs();
    {
        CoLockGuard guard(mutex_);
        if (!address_.empty() && nowMs - fetchedMs_ < kLifetimeMs)
            return address_;
    }
    const std::string fresh = resolve();
    CoLockGuard guard(mutex_);
    address_ = fresh;
    fetchedMs_ = nowMs;
    return fresh;
}

}  // namespace Corvane
