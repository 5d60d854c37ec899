// Internal to the gateway.
// The gateway's main sequence for one request: decode it, write the
// header, run its mode, write one <response> document (and on failure the
// error line), all through the request's RequestIo. A CGI driver starts
// and stops the client library around its one request; a persistent one
// (FastCGI) starts it when it is made, before any request thread runs, and
// keeps it, with its server connections, logins and discovery list, until
// it is destroyed. A persistent driver serves many requests at once, one
// per thread: everything of a request (variables, body, parameters, user,
// limits, output) is that thread's own and ends with it; the library,
// shared as the library allows, and the watchdog's thread are all the
// requests share. A CGI driver serves one request. A persistent driver
// lets no user hold more than CORVANE_MAX_USER_REQUESTS of its threads at
// once (default: half of them, at least one; 0: no limit): one request
// more is answered at once with 503.
#pragma once

#include <mutex>

#include "BrowseWatchdog.h"
#include "RequestIo.h"
#include "UserShare.h"

class CgiRequest;
class RequestLimits;

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
    // True when the library is up (starting it if need be).
    bool startLibrary();
    // The request's parameters; under a persistent driver its body is read
    // no later than the body's deadline.
    CgiRequest readRequest(int argc, char** argv, RequestIo& io, const RequestLimits& limits);
    // The request's place in its user's share; granted for a CGI run and
    // for a request with no user (which is refused anyway).
    UserShare::Claim claimShare(const RequestIo& io);

    const bool persistent_;
    const int threads_;
    UserShare share_;
    // Guards started_, ready_ and logLevel_, and serialises the library's
    // start and stop. A failed start is retried by a later request; until
    // one succeeds no request uses the library.
    std::mutex libraryMutex_;
    bool started_ = false;  // persistent: corvaneInit has been called
    bool ready_ = false;    // and succeeded
    int logLevel_ = 0;      // the level the library's start left
    BrowseWatchdog watchdog_;
};

// The program: FastCGI when started on a listening socket, CGI otherwise.
int runGateway(int argc, char** argv);
