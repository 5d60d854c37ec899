// Design note. One thread accepts a connection, reads one request's
// records, runs the driver and finishes the request before the next is
// accepted; the only other threads are the watchdog's and the library's
// own (discovery). A web server that drops the connection mid-request makes the
// writes fail (SIGPIPE is ignored for that), the request is finished all
// the same and the next one is accepted as usual.
#include "FastCgiServer.h"

#include <fcgiapp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "GatewayDriver.h"
#include "RequestIo.h"
#include "base/env/EnvVar.h"

namespace {

// The first descriptor of systemd's socket activation.
constexpr int kFirstActivatedFd = 3;
// Bytes moved per library call: its counts are int.
constexpr size_t kChunkBytes = 1 << 20;

bool isListening(int fd) {
    int listening = 0;
    socklen_t size = sizeof listening;
    return ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening;
}

// libfcgi ends a request by shutting its side down and reading, idle,
// until the web server closes: a close with input left unread resets the
// connection, which can cost the web server the answer it has yet to read.
// That wait cost a busy gateway a fifth of its requests. On a local socket
// the gateway reads the rest of the input itself instead (for a GET, the
// empty record every web server sends after the parameters) and then
// closes at once; TCP keeps libfcgi's way.
bool isLocalSocket(int fd) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0 && address.ss_family == AF_UNIX;
}

// Reads the request's input to its end (or to an error).
void dropRemainingInput(FCGX_Stream* in) {
    char scratch[4096];
    while (FCGX_GetStr(scratch, sizeof scratch, in) > 0) {
    }
}

// One request's FastCGI streams and variables.
class FastCgiIo : public RequestIo {
public:
    explicit FastCgiIo(FCGX_Request& request) : request_(request) {}

    const char* variable(const char* name) const override { return FCGX_GetParam(name, request_.envp); }
    const char* setting(const char* name) const override {
        const char* value = variable(name);
        return value ? value : std::getenv(name);
    }
    bool fromWebServer() const override { return true; }
    size_t readBody(char* buffer, size_t size) override {
        size_t got = 0;
        while (got < size) {
            const int n = FCGX_GetStr(buffer + got, static_cast<int>(std::min(size - got, kChunkBytes)), request_.in);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        return got;
    }
    void out(const char* data, size_t size) override { put(data, size, request_.out); }
    void err(const char* data, size_t size) override { put(data, size, request_.err); }
    using RequestIo::err;
    using RequestIo::out;

private:
    static void put(const char* data, size_t size, FCGX_Stream* stream) {
        while (size > 0) {
            const int n = static_cast<int>(std::min(size, kChunkBytes));
            if (FCGX_PutStr(data, n, stream) != n)
                return;  // the web server went away; the request ends anyway
            data += n;
            size -= static_cast<size_t>(n);
        }
    }

    FCGX_Request& request_;
};

}  // namespace

int fastCgiListener() {
    if (isListening(STDIN_FILENO))
        return STDIN_FILENO;
    const char* pid = std::getenv("LISTEN_PID");
    if (pid && Corvane::leadingDigits(pid) == static_cast<int>(::getpid()) &&
        Corvane::leadingDigits(std::getenv("LISTEN_FDS")) >= 1 && isListening(kFirstActivatedFd))
        return kFirstActivatedFd;
    return -1;
}

int serveFastCgi(int listener, char* programName) {
    // A write to a web server that closed the connection must fail, not
    // end the process.
    ::signal(SIGPIPE, SIG_IGN);
    if (FCGX_Init() != 0)
        return 1;
    FCGX_Request request;
    if (FCGX_InitRequest(&request, listener, 0) != 0)
        return 1;
    char* argv[] = {programName, nullptr};
    const int argc = programName ? 1 : 0;
    const bool local = isLocalSocket(listener);
    GatewayDriver driver(true);
    while (FCGX_Accept_r(&request) >= 0) {
        FastCgiIo io(request);
        driver.serve(argc, argv, io);
        // A kept connection carries the next request: libfcgi leaves it open.
        if (local && !request.keepConnection) {
            // The answer and its end record first, as libfcgi's finish
            // sends them, so that the web server never waits for the input.
            FCGX_FClose(request.err);
            FCGX_FClose(request.out);
            dropRemainingInput(request.in);
            FCGX_Detach(&request);  // closes at once; see isLocalSocket
        }
        FCGX_Finish_r(&request);
    }
    return 0;
}
