// Internal to the gateway.
// One FastCGI request as the driver sees it: its variables, its body, its
// output and error streams, and how many bytes it moved. Borrows the
// library, the request, which libfcgi accepted, and the serving thread's
// variables table, which it fills afresh; all outlive it. Made, used and destroyed
// by the request's thread; abortBody() is safe from any thread.
#pragma once

#include <fcgiapp.h>

#include <atomic>
#include <cstddef>

#include "FastCgiLibrary.h"
#include "FastCgiVariables.h"
#include "RequestIo.h"

class FastCgiIo : public RequestIo {
public:
    FastCgiIo(const FastCgiLibrary& fcgi, FCGX_Request& request, FastCgiVariables& variables);
    FastCgiIo(const FastCgiIo&) = delete;
    FastCgiIo& operator=(const FastCgiIo&) = delete;

    const char* variable(const char* name) const override;
    const char* setting(const char* name) const override;
    bool fromWebServer() const override { return true; }
    size_t readBody(char* buffer, size_t size) override;
    void abortBody() override;
    void out(const char* data, size_t size) override;
    void err(const char* data, size_t size) override;
    using RequestIo::err;
    using RequestIo::out;

    // The body read and the output and error written so far.
    size_t bytesMoved() const { return moved_; }

private:
    void put(const char* data, size_t size, FCGX_Stream* stream);

    const FastCgiLibrary& fcgi_;
    FCGX_Request& request_;
    const int socket_;  // the request's connection, as abortBody() sees it
    FastCgiVariables& variables_;
    std::atomic<bool> aborted_{false};
    size_t moved_ = 0;  // the request's thread only
};
