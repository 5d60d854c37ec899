#include "FastCgiIo.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

namespace {

// Bytes moved per library call: its counts are int.
constexpr size_t kChunkBytes = 1 << 20;

}  // namespace

FastCgiIo::FastCgiIo(const FastCgiLibrary& fcgi, FCGX_Request& request, FastCgiVariables& variables)
    : fcgi_(fcgi), request_(request), socket_(request.ipcFd), variables_(variables) {
    variables_.index(request_.envp);
}

const char* FastCgiIo::variable(const char* name) const { return variables_.find(name); }

const char* FastCgiIo::setting(const char* name) const {
    const char* value = variable(name);
    return value ? value : processEnvironment().find(name);
}

size_t FastCgiIo::readBody(char* buffer, size_t size) {
    size_t got = 0;
    while (got < size && !aborted_.load()) {
        const int n = fcgi_.getStr(buffer + got, static_cast<int>(std::min(size - got, kChunkBytes)), request_.in);
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
void FastCgiIo::abortBody() {
    aborted_.store(true);
    ::shutdown(socket_, SHUT_RD);
}

// Once handed over, the connection carries only what its new owner
// writes, and libfcgi's streams are gone.
void FastCgiIo::out(const char* data, size_t size) {
    if (!handedOver_)
        put(data, size, request_.out);
}

void FastCgiIo::err(const char* data, size_t size) {
    if (!handedOver_) {
        put(data, size, request_.err);
        return;
    }
    std::fwrite(data, 1, size, stderr);
    std::fflush(stderr);
}

void FastCgiIo::put(const char* data, size_t size, FCGX_Stream* stream) {
    moved_ += size;
    while (size > 0) {
        const int n = static_cast<int>(std::min(size, kChunkBytes));
        if (fcgi_.putStr(data, n, stream) != n)
            return;  // the web server went away; the request ends anyway
        data += n;
        size -= static_cast<size_t>(n);
    }
}

int FastCgiIo::handOver() {
    // First, so that running out of memory leaves the request as it was.
    for (char** entry = request_.envp; entry && *entry; ++entry)
        keptVariables_.emplace_back(*entry);
    for (std::string& entry : keptVariables_)
        keptEntries_.push_back(&entry[0]);
    keptEntries_.push_back(nullptr);
    variables_.index(keptEntries_.data());
    handedOver_ = true;
    // A web server gone by now fails the flush here and the stream's first
    // read or send in the hub, which ends it.
    fcgi_.flush(request_.out);
    // Freed without closing: libfcgi writes no end record and keeps no
    // part of the connection.
    fcgi_.free(&request_, 0);
    return std::exchange(request_.ipcFd, -1);
}
