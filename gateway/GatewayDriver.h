// Internal to the gateway.
// The gateway's main sequence for one request: decode it, write the
// header, run its mode, write one <response> document (and on failure the
// error line), all through the request's RequestIo. A CGI driver starts
// and stops the client library around each request; a persistent one
// (FastCGI) starts it with its first request and keeps it, with its
// server connections, logins and discovery list, until it is destroyed.
// Nothing else of a request outlives it: user, watchdog counts, parameters
// and log level are set afresh for each; only the watchdog's thread stays.
// One thread serves at a time.
#pragma once

#include "BrowseWatchdog.h"
#include "RequestIo.h"

class GatewayDriver {
public:
    explicit GatewayDriver(bool persistent);
    ~GatewayDriver();
    GatewayDriver(const GatewayDriver&) = delete;
    GatewayDriver& operator=(const GatewayDriver&) = delete;

    // argv's name=value arguments come before the request's CGI input.
    void serve(int argc, char** argv, RequestIo& io);

private:
    // True when the library is up (starting it if need be).
    bool startLibrary();

    const bool persistent_;
    bool started_ = false;  // persistent: corvaneInit has been called
    bool ready_ = false;    // and succeeded
    int logLevel_ = 0;      // the level the library's start left
    BrowseWatchdog watchdog_;
};

// The program: FastCGI when started on a listening socket, CGI otherwise.
int runGateway(int argc, char** argv);
