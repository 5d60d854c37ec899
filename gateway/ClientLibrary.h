// Internal to the gateway.
// The client library's start and stop around the requests. A CGI run
// starts it for its one request and stops it after; a persistent process
// (FastCGI) starts it once, before any request thread runs, and keeps it,
// with its server connections, logins and discovery list, until this goes.
// A failed persistent start is retried by a later request; until one
// succeeds no request uses the library. Thread-safe.
#pragma once

#include <mutex>

class ClientLibrary {
public:
    explicit ClientLibrary(bool persistent);
    ~ClientLibrary();
    ClientLibrary(const ClientLibrary&) = delete;
    ClientLibrary& operator=(const ClientLibrary&) = delete;

    // True when the library is up for the calling request (starting it if
    // need be).
    bool start();
    // After a request: a CGI run's library stops.
    void requestDone();

private:
    const bool persistent_;
    // Guards started_, ready_ and logLevel_, and serialises the library's
    // start and stop.
    std::mutex mutex_;
    bool started_ = false;  // persistent: corvaneInit has been called
    bool ready_ = false;    // and succeeded
    int logLevel_ = 0;      // the level the library's start left
};
