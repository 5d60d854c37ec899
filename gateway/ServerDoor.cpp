#include "ServerDoor.h"

#include <algorithm>
#include <cassert>

#include "RequestLimits.h"
#include "RequestLog.h"
#include "ServerPolicy.h"
#include "base/env/EnvVar.h"

namespace {
constexpr int32_t kDefaultBrowseLimitMs = 25000;
}  // namespace

ServerDoor::ServerDoor(const ServerPolicy& servers, int32_t browseLimitMs, int32_t loginLimitMs,
                       const RequestLimits& limits, RequestWatchdog& watchdog)
    : servers_(servers),
      browseLimitMs_(browseLimitMs),
      loginLimitMs_(loginLimitMs),
      limits_(limits),
      watchdog_(watchdog) {
    assert(browseLimitMs >= 0 && loginLimitMs >= 0);
}

void ServerDoor::admit(const std::string& host) const { servers_.check(host); }

TimeoutCorvaneServerHandle ServerDoor::open(const std::string& host) {
    RequestLog::enter(RequestLog::Phase::Connect);  // the allow-list may look the name up
    lastHost_ = host;
    admit(host);
    return TimeoutCorvaneServerHandle(host.c_str(), watchdog_, browseLimitMs_, std::min(loginLimitMs_, browseLimitMs_),
                                      limits_);
}

std::unique_ptr<CorvaneServerHandle> ServerDoor::openForEvents(const std::string& host) const {
    admit(host);
    auto handle = std::make_unique<CorvaneServerHandle>(host.c_str());
    handle->setLoginTimeout(static_cast<unsigned int>(loginLimitMs_));
    return handle;
}

int32_t ServerDoor::browseLimitFrom(const char* setting) {
    return setting ? Corvane::leadingDigits(setting) : kDefaultBrowseLimitMs;
}

int32_t ServerDoor::loginLimitFrom(const char* setting) {
    return setting
               ? Corvane::leadingDigits(setting)
               : static_cast<int32_t>(std::min<unsigned int>(CorvaneServerHandle::defaultLoginTimeout(), INT32_MAX));
}
