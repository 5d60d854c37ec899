// Internal to corvane_base.
// The process's cached answer to "what is this host's address?". Resolving
// the host name may wait on the network and the answer rarely changes, so
// one answer serves every thread for a minute. Thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/threads/CoMutex.h"

namespace Corvane {

class CoLocalAddressCache {
public:
    static CoLocalAddressCache& instance();

    // The kept address while it is fresh; otherwise the one resolve() gives
    // now, which is kept. Whatever resolve() throws passes through, and the
    // lock is not held while it runs.
    std::string address(const std::function<std::string()>& resolve);

private:
    static constexpr int64_t kLifetimeMs = 60 * 1000;

    CoMutex mutex_;  // guards address_ and fetchedMs_
    std::string address_;
    int64_t fetchedMs_ = 0;
};

}  // namespace Corvane
