// Design note. A pool of threads serves the requests (see FastCgiPool):
// the pool takes the connections and hands each thread one whose request's
// records have arrived; the thread has libfcgi read them, runs the driver
// and finishes the request, then asks the pool again, all with its own
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
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FastCgiPool.h"
#include "GatewayDriver.h"
#include "RequestIo.h"
#include "base/env/EnvVar.h"

namespace {

// The first descriptor of systemd's socket activation.
constexpr int kFirstActivatedFd = 3;
// Bytes moved per library call: its counts are int.
constexpr size_t kChunkBytes = 1 << 20;
// Enough that a request waiting on a silent server leaves others served;
// each waiting thread costs little but its stack.
constexpr int kDefaultThreads = 8;
constexpr int kMaxThreads = 256;
// A request's time for its body by default: a web server sends what its
// client sent at once.
constexpr int kDefaultArrivalMs = 30000;
// A request that moved more than this may have left the heap holding
// memory it no longer needs; smaller ones leave too little to matter.
constexpr size_t kTrimAfterBytes = 1 << 20;
// Blocks this large (a request's body, its answer) come from the system
// and go back to it when freed.
constexpr int kMmapThresholdBytes = 128 * 1024;

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

// A name and its value, both inside one "NAME=value" string of a request's
// variables or of the process environment.
struct NamedValue {
    const char* name;
    size_t length;  // of the name
    const char* value;
};

// Fills table with the entries of a "NAME=value" array, in order. Each
// request looks up a dozen names among some thirty variables, and the
// process environment, which never changes while the process serves, as
// often: compared by length first, the names cost less than half of
// comparing each text from the front.
void indexEntries(char** entries, std::vector<NamedValue>* table) {
    table->clear();
    for (char** entry = entries; entry && *entry; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals)
            table->push_back({*entry, static_cast<size_t>(equals - *entry), equals + 1});
    }
}

// The value of the first entry named name, or null.
const char* findValue(const std::vector<NamedValue>& table, const char* name) {
    const size_t length = std::strlen(name);
    for (const NamedValue& entry : table)
        if (entry.length == length && std::memcmp(entry.name, name, length) == 0)
            return entry.value;
    return nullptr;
}

// The process environment, indexed once, on first use.
const std::vector<NamedValue>& processEnvironment() {
    static const std::vector<NamedValue> table = [] {
        std::vector<NamedValue> entries;
        indexEntries(environ, &entries);
        return entries;
    }();
    return table;
}

// One request's FastCGI streams and variables, and how many bytes it moved.
// variables is the thread's table, filled afresh for each request.
class FastCgiIo : public RequestIo {
public:
    FastCgiIo(FCGX_Request& request, std::vector<NamedValue>& variables)
        : request_(request), socket_(request.ipcFd), variables_(variables) {
        indexEntries(request_.envp, &variables_);
    }

    const char* variable(const char* name) const override { return findValue(variables_, name); }
    const char* setting(const char* name) const override {
        const char* value = variable(name);
        return value ? value : findValue(processEnvironment(), name);
    }
    bool fromWebServer() const override { return true; }
    size_t readBody(char* buffer, size_t size) override {
        size_t got = 0;
        while (got < size && !aborted_.load()) {
            const int n = FCGX_GetStr(buffer + got, static_cast<int>(std::min(size - got, kChunkBytes)), request_.in);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        moved_ += got;
        if (got < size && aborted_.load())
            errno = ETIMEDOUT;
        return got;
    }
    // The reading side only: the answer still goes out.
    void abortBody() override {
        aborted_.store(true);
        ::shutdown(socket_, SHUT_RD);
    }
    void out(const char* data, size_t size) override { put(data, size, request_.out); }
    void err(const char* data, size_t size) override { put(data, size, request_.err); }
    using RequestIo::err;
    using RequestIo::out;

    size_t bytesMoved() const { return moved_; }

private:
    void put(const char* data, size_t size, FCGX_Stream* stream) {
        moved_ += size;
        while (size > 0) {
            const int n = static_cast<int>(std::min(size, kChunkBytes));
            if (FCGX_PutStr(data, n, stream) != n)
                return;  // the web server went away; the request ends anyway
            data += n;
            size -= static_cast<size_t>(n);
        }
    }

    FCGX_Request& request_;
    const int socket_;  // the request's connection, as abortBody() sees it
    std::vector<NamedValue>& variables_;
    std::atomic<bool> aborted_{false};
    size_t moved_ = 0;  // the request's thread only
};

// How the heap serves the request threads, so that what a request took
// can be given back. Large blocks are mapped and unmapped by themselves:
// glibc would otherwise raise its threshold after the first one freed and
// serve the later ones from the heap. One heap for all threads: glibc
// gives back the free memory inside a thread's own heap, but never the top
// of it, and a process serving for weeks would hold what the largest
// request ever needed, on each thread. Small blocks mostly come from each
// thread's cache, without the heap's lock.
void shapeHeap() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, kMmapThresholdBytes);
    mallopt(M_ARENA_MAX, 1);
#endif
}

// Hands back to the system the free memory a large request left inside
// the heaps.
void giveBackMemory(size_t bytesMoved) {
#ifdef __GLIBC__
    if (bytesMoved > kTrimAfterBytes)
        malloc_trim(0);
#else
    (void)bytesMoved;
#endif
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

// One thread of the pool: accepts and serves requests until accepting fails.
void serveRequests(FastCgiPool& pool, bool local, GatewayDriver& driver, char* programName) {
    FCGX_Request request;
    if (FCGX_InitRequest(&request, -1, 0) != 0)  // the pool accepts
        return;
    char* argv[] = {programName, nullptr};
    const int argc = programName ? 1 : 0;
    std::vector<NamedValue> variables;  // grown once, then reused
    FastCgiPool::Place place;
    while (pool.accept(request, place) >= 0) {
        size_t moved = 0;
        {
            FastCgiIo io(request, variables);
            driver.serve(argc, argv, io);
            moved = io.bytesMoved();
        }
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
        giveBackMemory(moved);
    }
    FCGX_Free(&request, 1);
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
    if (FCGX_Init() != 0)
        return 1;
    const bool local = isLocalSocket(listener);
    shapeHeap();
    // First: every thread made after it leaves the stop signals to it.
    FastCgiPool pool(listener, poolOptions());
    // Made, and the library started, before any request thread runs.
    GatewayDriver driver(true, threadCount());
    pool.run(threadCount(), [&] { serveRequests(pool, local, driver, programName); });
    return 0;
}
