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
#include <string>
#include <vector>

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

    // Ends libfcgi's part in the request without its end records, so that
    // another owner goes on answering it: sends what was written so far,
    // frees libfcgi's streams and variables and gives up the connection.
    // Its descriptor; a web server that went away is the new owner's to
    // find. The request's thread serves no more of it afterwards,
    // but its log still reads variables (from a copy kept here) and writes
    // lines (to the process's standard error); its output is dropped.
    int handOver();
    // The request's FastCGI number, for the records of a new owner.
    int requestId() const { return request_.requestId; }
    bool handedOver() const { return handedOver_; }

private:
    void put(const char* data, size_t size, FCGX_Stream* stream);

    const FastCgiLibrary& fcgi_;
    FCGX_Request& request_;
    const int socket_;  // the request's connection, as abortBody() sees it
    FastCgiVariables& variables_;
    std::atomic<bool> aborted_{false};
    size_t moved_ = 0;  // the request's thread only
    bool handedOver_ = false;
    // The variables once libfcgi's are freed; variables_ points into them.
    std::vector<std::string> keptVariables_;
    std::vector<char*> keptEntries_;
};
