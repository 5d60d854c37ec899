// Internal to the gateway.
// The request pipeline: one request runs through decode -> refuse ->
// dispatch -> write, all through its RequestIo.
// - decode: the request's limits, its place in its user's share, its
//   parameters (under a persistent driver the body is read no later than
//   the body's deadline);
// - refuse: cross-site, method, user (Refusals), and a user past the share;
// - dispatch: the mode the request names, with a ServerDoor made for the
//   request as its only way to the servers (ModeTable);
// - write: the header, one <response> document, and on failure the error
//   line naming the host the failure concerns (HttpOutput).
// A CGI driver serves one request and starts and stops the client library
// around it. A persistent driver (FastCGI) serves many at once, one per
// thread: everything of a request (variables, body, parameters, user,
// limits, door, output) is that thread's own and ends with it; the client
// library, the watchdog's thread and the user share are all the requests
// share. No user holds more than CORVANE_MAX_USER_REQUESTS of its threads
// at once (default: half of them, at least one; 0: no limit): one request
// more is answered at once with 503.
// Locks: the user share's and the library start's are each taken alone.
// A watchdog step cancels a server call under the watchdog's lock, so the
// client library's locks come after it, never before: nothing watches or
// forgets under a lock of the library.
#pragma once

#include <memory>

#include "ClientLibrary.h"
#include "GatewayMode.h"
#include "RequestIo.h"
#include "RequestWatchdog.h"
#include "UserShare.h"

class CgiRequest;
class RequestLimits;
class WatchHub;
struct WatchFailure;

class GatewayDriver {
public:
    // threads: how many requests a persistent driver serves at once.
    explicit GatewayDriver(bool persistent, int threads = 1);
    ~GatewayDriver();
    GatewayDriver(const GatewayDriver&) = delete;
    GatewayDriver& operator=(const GatewayDriver&) = delete;

    // argv's name=value arguments come before the request's CGI input.
    // Thread-safe for a persistent driver.
    void serve(int argc, char** argv, RequestIo& io);

private:
    // The request's parameters; under a persistent driver its body is read
    // no later than the body's deadline.
    CgiRequest readRequest(int argc, char** argv, RequestIo& io, const RequestLimits& limits);
    // The request's place in its user's share; granted for a CGI run and
    // for a request with no user (which is refused anyway).
    UserShare::Claim claimShare(const RequestIo& io);
    // A watch request of a persistent driver: true once its stream runs
    // (the request is over), false with *failure to answer as any mode's.
    bool serveWatch(const ModeContext& context, RequestIo& io, WatchFailure* failure);

    const bool persistent_;
    const int threads_;
    UserShare share_;
    RequestWatchdog watchdog_;
    // Stops before the watchdog's thread does.
    ClientLibrary library_;
    // A persistent driver's live-update streams; they end, and their
    // registrations go, before the library stops.
    std::unique_ptr<WatchHub> watchHub_;
};
