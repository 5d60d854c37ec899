// Internal to the gateway.
// Where one request comes from and where its answer goes. A CGI run takes
// its variables from the process environment and speaks through the
// standard streams; a FastCGI request has its own variables and streams,
// and nothing of one request may reach the next. One thread uses an
// object at a time, except abortBody().
#pragma once

#include <cstddef>
#include <string>

class RequestIo {
public:
    virtual ~RequestIo() = default;

    // One of the request's CGI variables (REQUEST_METHOD, REMOTE_USER, ...);
    // null when the request has none.
    virtual const char* variable(const char* name) const = 0;
    // A setting such as XQ_CVC_BROWSE_TIMEOUT: the request's own variable
    // when it carries one, else the process environment's.
    virtual const char* setting(const char* name) const = 0;
    // True when a web server sent the request (any FastCGI request; a CGI
    // run with GATEWAY_INTERFACE set), false when run by hand.
    virtual bool fromWebServer() const { return variable("GATEWAY_INTERFACE") != nullptr; }
    // Reads up to size bytes of the request body; fewer only at its end or
    // on an error, with errno telling which (ETIMEDOUT after abortBody()).
    virtual size_t readBody(char* buffer, size_t size) = 0;
    // Ends a read of the body in progress, and every later one, at once.
    // Safe from another thread. A CGI run has nothing to end: the web
    // server bounds it by ending the process.
    virtual void abortBody() {}
    // The response (standard output of a CGI run) and the complaints
    // (standard error).
    virtual void out(const char* data, size_t size) = 0;
    virtual void err(const char* data, size_t size) = 0;

    void out(const std::string& text) { out(text.data(), text.size()); }
    void err(const std::string& text) { err(text.data(), text.size()); }
};

// The CGI run: the process environment, standard input, output and error.
class ProcessIo : public RequestIo {
public:
    const char* variable(const char* name) const override;
    const char* setting(const char* name) const override;
    size_t readBody(char* buffer, size_t size) override;
    void out(const char* data, size_t size) override;
    void err(const char* data, size_t size) override;
    using RequestIo::err;
    using RequestIo::out;
};
