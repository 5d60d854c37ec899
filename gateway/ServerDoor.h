// Internal to the gateway.
// The one way a request reaches a media server. The pipeline makes one per
// request from the request's settings; a mode gets every server handle
// from it. open() refuses a server outside the site's list before any
// connection is made, and gives a handle bounded by the browse limit, the
// request's deadline and the login limit (the shorter of it and the browse
// limit). The door remembers the host of the last handle it opened: a
// failure after that concerns that host, one before any concerns the
// request's own. Used by the request's thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "TimeoutCorvaneServerHandle.h"

class RequestLimits;
class RequestWatchdog;
class ServerPolicy;

class ServerDoor {
public:
    // Every argument outlives the door and its handles. Limits in
    // milliseconds, never negative (as browseLimitFrom and loginLimitFrom
    // give them).
    ServerDoor(const ServerPolicy& servers, int32_t browseLimitMs, int32_t loginLimitMs, const RequestLimits& limits,
               RequestWatchdog& watchdog);
    ServerDoor(const ServerDoor&) = delete;
    ServerDoor& operator=(const ServerDoor&) = delete;

    // Throws "Invalid Corvane server '<host>'" or "Corvane server '<host>'
    // is not allowed" as a std::string for a host outside the list. A mode
    // over a list of hosts admits them all before it opens any.
    void admit(const std::string& host) const;
    // A handle on host, after admit(host); host becomes the one failures
    // name, even when it is refused.
    TimeoutCorvaneServerHandle open(const std::string& host);
    // A handle on host for the process's live updates, after admit(host):
    // it outlives the request, so neither the browse limit nor the
    // request's deadline bounds it, and its owner bounds each call itself.
    // The login limit holds.
    std::unique_ptr<CorvaneServerHandle> openForEvents(const std::string& host) const;
    // The host a failure of the request concerns: the last one open() was
    // given, or the request's own before any.
    const std::string& failureHost(const std::string& requestHost) const {
        return lastHost_.empty() ? requestHost : lastHost_;
    }

    // The browse limit an XQ_CVC_BROWSE_TIMEOUT value gives: its leading
    // digits (anything else reads as 0), or 25000 when it is unset (null).
    static int32_t browseLimitFrom(const char* setting);
    // The login limit a CORVANE_LOGIN_TIMEOUT value gives: its leading
    // digits, or the library's default when it is unset (null).
    static int32_t loginLimitFrom(const char* setting);

private:
    const ServerPolicy& servers_;
    const int32_t browseLimitMs_;
    const int32_t loginLimitMs_;
    const RequestLimits& limits_;
    RequestWatchdog& watchdog_;
    std::string lastHost_;
};
