// Design note. Every operation writes its whole request (method, string and
// integer tokens, and a small parameter block) in one write, so that no
// request waits on delayed acknowledgements, then reads the reply on the
// same connection. A reply that can not be trusted (a bad token, a count
// that does not fit) closes the connection: the bytes still on their way
// would otherwise be read as the next reply.
#include "client/api/CorvaneFrameClientAPI.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "base/env/EnvVar.h"
#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/tcp/CoIoDescriptor.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneRawDataClientConnection.h"

namespace {

Corvane::EnvVar<bool> traceVar("XQ_CORVANE_TRACE", false);
Corvane::RegEnvVar<bool> traceReg(__FILE__, traceVar);

// Parameter blocks up to this size travel in the request's own write.
constexpr size_t kInlineParamsBytes = 65536;

using Method = CorvaneFrameInterface::Method;

[[noreturn]] void throwText(const std::string& text) { throw Corvane::CoException(text.c_str(), __LINE__, __FILE__); }

std::string errnoText(int err) { return Corvane::CoIoDescriptor::errnoText(err); }

void appendToken(std::string& out, const char* text) {
    out += text;
    out += '\0';
}

void appendInteger(std::string& out, int64_t value) { appendToken(out, std::to_string(value).c_str()); }

// Debug lines around an operation when XQ_CORVANE_TRACE is set.
class Trace {
public:
    Trace(const char* method, const char* str = nullptr, int64_t value = 0) : method_(method) {
        if (!traceVar.getValue())
            return;
        if (str)
            CO_DEBUG("Calling %s(%s, %" PRId64 ")", method, str, value);
        else
            CO_DEBUG("Calling %s()", method);
    }
    ~Trace() {
        if (traceVar.getValue())
            CO_DEBUG("Finished %s()", method_);
    }
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

private:
    const char* method_;
};

// The mode a new file gets from "wb": 0666 less the process's umask,
// read without changing it (umask() would race with other threads).
mode_t newFileMode() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, 6, "Umask:") == 0)
            return static_cast<mode_t>(0666 & ~std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return 0644;
}

// The local side of a pull: the bytes go to a hidden file beside the
// target, which replaces it only when the whole file came.
class LocalDownload {
public:
    explicit LocalDownload(const std::string& path) : path_(path) {
        const size_t slash = path.rfind('/');
        const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        temp_ = dir + "." + path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
        fd_ = ::mkostemp(&temp_[0], O_CLOEXEC);
        if (fd_ < 0)
            throwText("Could not create '" + path + "': " + errnoText(errno));
    }
    ~LocalDownload() {
        if (fd_ >= 0)
            ::close(fd_);
        if (!committed_)
            ::unlink(temp_.c_str());
    }
    LocalDownload(const LocalDownload&) = delete;
    LocalDownload& operator=(const LocalDownload&) = delete;

    void write(const char* data, size_t size) {
        while (size > 0) {
            const ssize_t n = ::write(fd_, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throwText("Could not write '" + path_ + "': " + errnoText(n < 0 ? errno : ENOSPC));
            data += n;
            size -= static_cast<size_t>(n);
        }
    }
    void commit() {
        const bool ok = ::fchmod(fd_, newFileMode()) == 0 && ::close(fd_) == 0;
        fd_ = -1;
        if (!ok || ::rename(temp_.c_str(), path_.c_str()) != 0)
            throwText("Could not write '" + path_ + "': " + errnoText(errno));
        committed_ = true;
    }

private:
    std::string path_;
    std::string temp_;
    int fd_ = -1;
    bool committed_ = false;
};

struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

}  // namespace

void writeMethodStringAndInt(CorvaneRawDataClientConnection& connection, CorvaneFrameInterface::Method method,
                             const char* str, int64_t value) {
    assert(str != 0 && "str != 0");
    std::string request;
    appendToken(request, CorvaneFrameInterface::methodName(method));
    appendToken(request, str);
    appendInteger(request, value);
    connection.writeExactly(request.data(), request.size());
}

CorvaneFrameClientAPI::CorvaneFrameClientAPI(CorvaneRawDataClientConnection& connection,
                                             const CorvaneDaemonInfo& server, size_t redirections)
    : connection_(connection), cache_(redirections), redirections_(redirectionsSupported(server)) {}

CorvaneFrameClientAPI::~CorvaneFrameClientAPI() = default;

bool CorvaneFrameClientAPI::redirectionsSupported(const CorvaneDaemonInfo& server) {
    const int major = server.getVersionMajor();
    const int minor = server.getVersionMinor();
    if (major != 2010)
        return major > 2010;
    return minor >= 2 || (minor == 1 && server.getVersionMaint() == 1);
}

char* CorvaneFrameClientAPI::transferBuffer() {
    if (!buffer_)
        buffer_.reset(new char[kTransferBytes]);
    return buffer_.get();
}

CorvaneRawDataClientConnection& CorvaneFrameClientAPI::connectionFor(const char* frameId) {
    CorvaneRawDataClientConnection* redirected = redirections_ ? cache_.connectionFor(frameId) : nullptr;
    return redirected ? *redirected : connection_;
}

void CorvaneFrameClientAPI::interrupt() {
    connection_.interrupt();
    cache_.interruptAll();
}

void CorvaneFrameClientAPI::readFrame(const char* frameId, char* buffer, int bufSize, const void* params,
                                      unsigned int paramsSize, const char* readAhead1, const char* readAhead2,
                                      bool noAck) {
    Trace trace("readFrame", frameId ? frameId : "", bufSize);
    if (bufSize < 0)
        throwText("Invalid frame buffer size " + std::to_string(bufSize));
    const size_t size = static_cast<size_t>(bufSize);
    const bool fast = noAck && size >= kMinNoAckBytes;
    for (const char* ahead : {readAhead1, readAhead2})
        if (ahead && *ahead)
            readAhead(ahead, params, paramsSize, size);
    if (!frameId || !*frameId || !buffer || size == 0)
        return;

    CorvaneRawDataClientConnection& c = connectionFor(frameId);
    c.beginOperation();
    const Method method = params ? (fast ? Method::ReadFrameParamsNoAck : Method::ReadFrameParams)
                                 : (fast ? Method::ReadFrameNoAck : Method::ReadFrame);
    std::string request;
    appendToken(request, methodName(method));
    appendToken(request, frameId);
    appendInteger(request, bufSize);
    const bool inlineParams = params && paramsSize <= kInlineParamsBytes;
    if (params)
        appendInteger(request, static_cast<int64_t>(paramsSize));
    if (inlineParams)
        request.append(static_cast<const char*>(params), paramsSize);
    c.writeExactly(request.data(), request.size());
    if (params && !inlineParams)
        c.writeExactly(params, paramsSize);
    if (!fast)
        checkFrameStatus(c);
    c.readExactly(buffer, size);
    if (fast) {
        const size_t prefixLen = std::strlen(FAST_ACK_ERROR_PREFIX);
        assert(prefixLen < size && "prefixLen < bufSize");
        if (std::memcmp(buffer, FAST_ACK_ERROR_PREFIX, prefixLen) == 0) {
            const char* text = buffer + prefixLen;
            throwText(std::string(text, strnlen(text, size - prefixLen)));
        }
    }
}

void CorvaneFrameClientAPI::readAhead(const char* frameId, const void* params, size_t paramsSize, size_t bufSize) {
    Trace trace("readAhead", frameId, static_cast<int64_t>(bufSize));
    CorvaneRawDataClientConnection& c = connectionFor(frameId);
    c.beginOperation();
    const Method method =
        redirections_ ? Method::ReadAheadRedirect : (params ? Method::ReadAheadParams : Method::ReadAhead);
    std::string request;
    appendToken(request, methodName(method));
    appendToken(request, frameId);
    appendInteger(request, static_cast<int64_t>(bufSize));
    const size_t blockSize = params ? paramsSize : 0;
    if (method != Method::ReadAhead)
        appendInteger(request, static_cast<int64_t>(blockSize));
    const bool inlineParams = blockSize <= kInlineParamsBytes;
    if (blockSize > 0 && inlineParams)
        request.append(static_cast<const char*>(params), blockSize);
    c.writeExactly(request.data(), request.size());
    if (blockSize > 0 && !inlineParams)
        c.writeExactly(params, blockSize);
    if (!redirections_)
        return;
    const int64_t n = readFrameInteger(c);
    if (n <= 0)
        return;
    if (n > kMaxRedirectBytes) {
        c.close();
        throwText("Invalid redirection from the Corvane server: " + std::to_string(n) + " bytes");
    }
    std::string record(static_cast<size_t>(n), '\0');
    c.readExactly(&record[0], record.size());
    cache_.store(frameId, CorvaneDaemonInfo(Corvane::rcAttrStream(record)));
}

void CorvaneFrameClientAPI::writeFrame(const char* frameId, const void* data, size_t size) {
    Trace trace("writeFrame", frameId, static_cast<int64_t>(size));
    connection_.beginOperation();
    writeMethodStringAndInt(connection_, Method::WriteFrame, frameId, static_cast<int64_t>(size));
    if (size > 0)
        connection_.writeExactly(data, size);
    checkFrameStatus(connection_);
}

void CorvaneFrameClientAPI::readStream(const char* streamId, char* buffer, size_t bufSize, int64_t position,
                                       size_t elementSize, int64_t* count) {
    Trace trace("readStream", streamId, static_cast<int64_t>(bufSize));
    CorvaneRawDataClientConnection& c = connection_;
    c.beginOperation();
    std::string request;
    appendToken(request, methodName(Method::ReadStream));
    appendToken(request, streamId);
    appendInteger(request, static_cast<int64_t>(bufSize));
    appendInteger(request, position);
    appendInteger(request, static_cast<int64_t>(elementSize));
    appendInteger(request, *count);
    c.writeExactly(request.data(), request.size());
    checkFrameStatus(c);
    const int64_t n = readFrameInteger(c);
    *count = n;
    // The elements are on their way whatever we do: a count that does not
    // fit leaves the connection out of step.
    if (n < 0 || (elementSize > 0 && static_cast<uint64_t>(n) > bufSize / elementSize)) {
        c.close();
        throwText(n < 0 ? "Invalid number '" + std::to_string(n) + "' from the Corvane server" : "Buffer too small.");
    }
    c.readExactly(buffer, elementSize * static_cast<size_t>(n));
}

void CorvaneFrameClientAPI::pullFile(const char* remotePath, const char* localPath) {
    Trace trace("pullFile", remotePath, static_cast<int64_t>(kTransferBytes));
    connection_.beginOperation();
    writeMethodStringAndInt(connection_, Method::PullFile, remotePath, static_cast<int64_t>(kTransferBytes));
    const int64_t size = readFrameInteger(connection_);
    if (size < 0) {
        connection_.close();
        throwText("Invalid file size " + std::to_string(size) + " from the Corvane server");
    }
    char* buffer = transferBuffer();
    std::unique_ptr<LocalDownload> file;
    try {
        file = std::make_unique<LocalDownload>(localPath);
        for (int64_t left = size; left > 0;) {
            const size_t n = static_cast<size_t>(left < static_cast<int64_t>(kTransferBytes) ? left : kTransferBytes);
            connection_.readExactly(buffer, n);
            file->write(buffer, n);
            left -= static_cast<int64_t>(n);
        }
    } catch (const Corvane::CoException&) {
        connection_.close();  // the rest of the file is still coming
        throw;
    }
    checkFrameStatus(connection_);
    file->commit();
}

void CorvaneFrameClientAPI::pushFile(const char* remotePath, const char* localPath) {
    Trace trace("pushFile", remotePath, 0);
    const int fd = ::open(localPath, O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int err = errno;
        if (fd >= 0)
            ::close(fd);
        throwText("Could not read '" + std::string(localPath) + "': " + errnoText(err));
    }
    const FdCloser closer{fd};
    connection_.beginOperation();
    writeMethodStringAndInt(connection_, Method::PushFile, remotePath, static_cast<int64_t>(st.st_size));
    checkFrameStatus(connection_);
    char* buffer = transferBuffer();
    for (int64_t left = st.st_size; left > 0;) {
        const size_t want = static_cast<size_t>(left < static_cast<int64_t>(kTransferBytes) ? left : kTransferBytes);
        const ssize_t n = ::read(fd, buffer, want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // The server waits for the size it was told: it can not be
            // told less.
            const int err = n < 0 ? errno : 0;
            connection_.close();
            throwText(err ? "Could not read '" + std::string(localPath) + "': " + errnoText(err)
                          : "File '" + std::string(localPath) + "' shrank while it was sent");
        }
        connection_.writeExactly(buffer, static_cast<size_t>(n));
        left -= n;
    }
    checkFrameStatus(connection_);
}

void CorvaneFrameClientAPI::invalidateCache() {
    Trace trace("invalidateCache");
    connection_.beginOperation();
    std::string request;
    appendToken(request, methodName(Method::InvalidateCache));
    connection_.writeExactly(request.data(), request.size());
    checkFrameStatus(connection_);
}

void CorvaneFrameClientAPI::noOp() {
    Trace trace("noOp");
    connection_.beginOperation();
    std::string request;
    appendToken(request, methodName(Method::NoOp));
    connection_.writeExactly(request.data(), request.size());
}
