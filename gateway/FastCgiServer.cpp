// Design note. A pool of threads serves the requests (see FastCgiPool):
// the pool takes the connections, and one thread at a time waits for them;
// it hands its own thread a connection whose request's records have
// arrived, and that thread has libfcgi read them, runs the driver and
// finishes the request, then asks the pool again. Each thread has its own
// FCGX_Request, made on no listening socket so that libfcgi never accepts.
// Beside the pool run the driver's watchdog thread (server operations and
// request bodies past their time) and the library's own threads
// (discovery). A request whose body is withheld is ended by the watchdog,
// which shuts the reading side of its socket down: the read in progress
// returns at once. A web server that drops the connection mid-request
// makes the writes fail (SIGPIPE is ignored for that); the request is
// finished all the same and its thread asks for the next one as usual.
#include "FastCgiServer.h"

#include <fcgiapp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FastCgiHeap.h"
#include "FastCgiIo.h"
#include "FastCgiLibrary.h"
#include "FastCgiPool.h"
#include "FastCgiVariables.h"
#include "GatewayDriver.h"
#include "Restart.h"
#include "base/env/EnvVar.h"

namespace {

// The first descriptor of systemd's socket activation.
constexpr int kFirstActivatedFd = 3;
// Enough that a request waiting on a silent server leaves others served;
// each waiting thread costs little but its stack.
constexpr int kDefaultThreads = 8;
constexpr int kMaxThreads = 256;
// A request's time for its body by default: a web server sends what its
// client sent at once.
constexpr int kDefaultArrivalMs = 30000;

bool isListening(int fd) {
    int listening;
    socklen_t size = sizeof listening;
    return ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening;
}

// libfcgi ends a request by shutting its side down and reading, idle,
// until the web server closes: a close with input left unread resets the
// connection, which can cost the web server the answer it has yet to read.
// That wait cost a busy gateway a fifth of its requests. On a local socket
// the gateway reads the rest of the input itself (for a GET, the empty
// record every web server sends after the parameters) and then closes at
// once; TCP keeps libfcgi's way.
bool isLocalSocket(int fd) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0 && address.ss_family == AF_UNIX;
}

// Reads the request's input to its end (or to an error).
void dropRemainingInput(const FastCgiLibrary& fcgi, FCGX_Stream* in) {
    char scratch[4096];
    while (fcgi.getStr(scratch, sizeof scratch, in) > 0) {
    }
}

// CORVANE_FASTCGI_THREADS, read as the other settings are: its leading
// digits; unset, the default. At least one thread serves.
int threadCount() {
    const char* value = std::getenv("CORVANE_FASTCGI_THREADS");
    if (!value)
        return kDefaultThreads;
    return std::clamp(Corvane::leadingDigits(value), 1, kMaxThreads);
}

// How the pool takes connections: a connection has as long to send its
// variables as a request has for its body (CORVANE_BODY_TIMEOUT, read as
// the other settings are), and a TCP listener takes them from the web
// servers libfcgi would take them from (FCGI_WEB_SERVER_ADDRS).
FastCgiPool::Options poolOptions() {
    FastCgiPool::Options options;
    const char* timeout = std::getenv("CORVANE_BODY_TIMEOUT");
    options.arrivalLimit = std::chrono::milliseconds(timeout ? Corvane::leadingDigits(timeout) : kDefaultArrivalMs);
    const char* webServers = std::getenv("FCGI_WEB_SERVER_ADDRS");
    if (webServers)
        options.webServers = webServers;
    return options;
}

// One thread of the pool: takes requests from the pool and serves them
// until the pool has none to give (the process stops).
void serveRequests(const FastCgiLibrary& fcgi, FastCgiPool& pool, bool local, GatewayDriver& driver,
                   char* programName) {
    FCGX_Request request;
    if (fcgi.initRequest(&request, -1, 0) != 0)  // the pool accepts
        return;
    char* argv[] = {programName, nullptr};
    const int argc = programName ? 1 : 0;
    FastCgiVariables variables;  // grown once, then reused
    FastCgiPool::Place place;
    while (pool.accept(request, place)) {
        FastCgiIo io(fcgi, request, variables);
        driver.serve(argc, argv, io);
        // A live-update stream goes on elsewhere; libfcgi has let it go.
        if (io.handedOver())
            continue;
        // A kept connection carries the next request: libfcgi leaves it open.
        if (local && !request.keepConnection) {
            // The answer and its end record first, as libfcgi's finish
            // sends them, so that the web server never waits for the input.
            fcgi.close(request.err);
            fcgi.close(request.out);
            dropRemainingInput(fcgi, request.in);
            fcgi.detach(&request);  // closes at once; see isLocalSocket
        }
        fcgi.finish(&request);
        giveBackMemoryAfter(io.bytesMoved());
    }
    // FCGX_Finish_r freed what the last request held.
}

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
    std::string error;
    const FastCgiLibrary* fcgi = fastCgiLibrary(&error);
    if (!fcgi) {
        std::fprintf(stderr, "corvane-gateway: %s\n", error.c_str());
        return 1;
    }
    if (fcgi->init() != 0)
        return 1;
    const bool local = isLocalSocket(listener);
    shapeHeapForRequests();
    holdStopSignals();
    // First: every thread made after it leaves the stop signals to it.
    FastCgiPool pool(listener, poolOptions());
    // Made, and the library started, before any request thread runs.
    GatewayDriver driver(true, threadCount());
    pool.run(threadCount(), [&] { serveRequests(*fcgi, pool, local, driver, programName); });
    return pool.stopSignal() == SIGHUP ? kRestartStatus : 0;
}
