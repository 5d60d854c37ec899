#include "sim/SimFrameConnection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/loggerBase/CoMsg.h"
#include "sim/SimEvents.h"
#include "sim/SimFrames.h"

namespace CorvaneSim {

namespace {

constexpr size_t kBufferBytes = 65536;
// PushFile stops here: a test server's disk is not for filling.
constexpr int64_t kMaxFileBytes = 16LL * 1024 * 1024 * 1024;

// A frame written as "<clip>#<n>" belongs to that clip.
std::string clipOf(const std::string& frameId) {
    const size_t hash = frameId.rfind('#');
    return hash == std::string::npos || hash == 0 ? std::string() : frameId.substr(0, hash);
}

}  // namespace

SimFrameConnection::SimFrameConnection(SimFrames& frames, int fd) : frames_(frames), fd_(fd), buffer_(kBufferBytes) {}

void SimFrameConnection::run() {
    while (serveOne()) {
    }
}

bool SimFrameConnection::fill() {
    if (begin_ == end_)
        begin_ = end_ = 0;
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer_.data() + end_, buffer_.size() - end_, 0);
        if (n > 0) {
            end_ += static_cast<size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return false;
    }
}

bool SimFrameConnection::token(std::string* out, size_t maxBytes) {
    out->clear();
    for (;;) {
        const char* start = buffer_.data() + begin_;
        const char* nul = static_cast<const char*>(std::memchr(start, '\0', end_ - begin_));
        const size_t take = nul ? static_cast<size_t>(nul - start) : end_ - begin_;
        if (out->size() + take > maxBytes)
            return false;
        out->append(start, take);
        begin_ += take;
        if (nul) {
            ++begin_;
            return true;
        }
        if (!fill())
            return false;
    }
}

bool SimFrameConnection::integer(int64_t* out) {
    std::string text;
    return token(&text, CorvaneFrameInterface::kMaxIntegerBytes) && parseFrameInteger(text, out);
}

bool SimFrameConnection::exact(void* data, size_t size) {
    if (size == 0)
        return true;  // an empty block may come without a buffer
    char* p = static_cast<char*>(data);
    const size_t buffered = std::min(size, end_ - begin_);
    std::memcpy(p, buffer_.data() + begin_, buffered);
    begin_ += buffered;
    for (size_t got = buffered; got < size;) {
        const ssize_t n = ::recv(fd_, p + got, size - got, MSG_WAITALL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

bool SimFrameConnection::params() {
    int64_t size = 0;
    if (!integer(&size) || size < 0 || size > SimFrames::kMaxParamsBytes)
        return false;
    std::vector<char> block(static_cast<size_t>(size));
    return exact(block.data(), block.size());
}

bool SimFrameConnection::send(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd_, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool SimFrameConnection::sendText(const std::string& text) { return send(text.c_str(), text.size() + 1); }

bool SimFrameConnection::sendInteger(int64_t value) { return sendText(std::to_string(value)); }

bool SimFrameConnection::sendZeros(size_t size) {
    static const char zeros[kBufferBytes] = {};
    while (size > 0) {
        const size_t n = std::min(size, sizeof zeros);
        if (!send(zeros, n))
            return false;
        size -= n;
    }
    return true;
}

bool SimFrameConnection::serveOne() {
    std::string name;
    Method method;
    if (!token(&name, 64))
        return false;
    if (!CorvaneFrameInterface::methodFromName(name, &method)) {
        CO_WARNING("Closing a frame connection after the unknown method '%s'", name.c_str());
        return false;
    }
    switch (method) {
        case Method::ReadFrame:
        case Method::ReadFrameNoAck:
        case Method::ReadFrameParams:
        case Method::ReadFrameParamsNoAck:
            return readFrame(method);
        case Method::ReadAhead:
        case Method::ReadAheadParams:
        case Method::ReadAheadRedirect:
            return readAhead(method);
        case Method::WriteFrame:
            return writeFrame();
        case Method::ReadStream:
            return readStream();
        case Method::PullFile:
            return pullFile();
        case Method::PushFile:
            return pushFile();
        case Method::InvalidateCache:
            frames_.log(name);
            return sendText("");
        case Method::NoOp:
            frames_.log(name);
            return true;
    }
    return false;
}

bool SimFrameConnection::readFrame(Method method) {
    std::string id;
    int64_t size = 0;
    if (!token(&id, SimFrames::kMaxTokenBytes) || !integer(&size) || size < 0)
        return false;
    const bool withParams = method == Method::ReadFrameParams || method == Method::ReadFrameParamsNoAck;
    if (withParams && !params())
        return false;
    frames_.log(std::string(CorvaneFrameInterface::methodName(method)) + " " + id + " " + std::to_string(size));
    const bool ack = method == Method::ReadFrame || method == Method::ReadFrameParams;
    const SimFrames::FramePtr frame = frames_.find(id);
    std::string error;
    if (size > SimFrames::kMaxFrameBytes)
        error = "Frame buffer of " + std::to_string(size) + " bytes is larger than the server sends";
    else if (!frame)
        error = "Frame '" + id + "' does not exist";
    if (ack && !sendText(error))
        return false;
    if (!error.empty()) {
        if (ack)
            return true;
        if (size > SimFrames::kMaxFrameBytes)
            return false;
        // Without acknowledgement the error travels in the buffer itself.
        std::string text = CorvaneFrameInterface::FAST_ACK_ERROR_PREFIX + error;
        text.resize(static_cast<size_t>(size), '\0');
        return send(text.data(), text.size());
    }
    const size_t n = std::min(frame->size, static_cast<size_t>(size));
    return send(frame->bytes.get(), n) && sendZeros(static_cast<size_t>(size) - n);
}

bool SimFrameConnection::readAhead(Method method) {
    std::string id;
    int64_t size = 0;
    if (!token(&id, SimFrames::kMaxTokenBytes) || !integer(&size))
        return false;
    if (method != Method::ReadAhead && !params())
        return false;
    frames_.log(std::string(CorvaneFrameInterface::methodName(method)) + " " + id + " " + std::to_string(size));
    if (method != Method::ReadAheadRedirect)
        return true;
    const std::string& record = frames_.redirectRecord();
    if (record.empty() || frames_.find(id))
        return sendInteger(0);
    return sendInteger(static_cast<int64_t>(record.size())) && send(record.data(), record.size());
}

bool SimFrameConnection::writeFrame() {
    std::string id;
    int64_t size = 0;
    if (!token(&id, SimFrames::kMaxTokenBytes) || !integer(&size) || size < 0)
        return false;
    frames_.log("WriteFrame " + id + " " + std::to_string(size));
    if (size > SimFrames::kMaxFrameBytes) {
        // The data is on its way: answer, then drop the connection.
        sendText("Frame of " + std::to_string(size) + " bytes is larger than the server keeps");
        return false;
    }
    auto frame = std::make_shared<SimFrames::Frame>();
    frame->bytes.reset(new char[static_cast<size_t>(size)]);
    frame->size = static_cast<size_t>(size);
    if (!exact(frame->bytes.get(), frame->size))
        return false;
    std::string error;
    if (!frames_.store(id, std::move(frame), &error))
        return sendText(error);
    const std::string clip = clipOf(id);
    if (!clip.empty())
        if (SimEvents* events = SimEvents::current())
            events->changed(clip, "FramesChanged", {{"Frame", id}});
    return sendText("");
}

bool SimFrameConnection::readStream() {
    std::string id;
    int64_t bufSize = 0, position = 0, elementSize = 0, count = 0;
    if (!token(&id, SimFrames::kMaxTokenBytes) || !integer(&bufSize) || !integer(&position) || !integer(&elementSize) ||
        !integer(&count))
        return false;
    frames_.log("ReadStream " + id + " " + std::to_string(bufSize) + " " + std::to_string(position) + " " +
                std::to_string(elementSize) + " " + std::to_string(count));
    // The stream's bytes are those of the frame of the same identifier; the
    // position counts elements. The buffer size is not looked at, as a
    // server that trusts its client would not.
    const SimFrames::FramePtr frame = frames_.find(id);
    if (!frame)
        return sendText("Stream '" + id + "' does not exist");
    if (elementSize <= 0 || elementSize > SimFrames::kMaxFrameBytes || count < 0)
        return sendText("Element size and count must be positive");
    const int64_t available = static_cast<int64_t>(frame->size) / elementSize;
    if (position < 0 || position > available)
        return sendText("Position " + std::to_string(position) + " is outside stream '" + id + "'");
    const int64_t n = std::min(count, available - position);
    return sendText("") && sendInteger(n) &&
           send(frame->bytes.get() + position * elementSize, static_cast<size_t>(n * elementSize));
}

bool SimFrameConnection::pullFile() {
    std::string path;
    int64_t blockSize = 0;
    if (!token(&path, SimFrames::kMaxTokenBytes) || !integer(&blockSize))
        return false;
    frames_.log("PullFile " + path + " " + std::to_string(blockSize));
    std::string error;
    int64_t size = 0;
    const int fd = frames_.files().openForReading(path, &size, &error);
    if (fd < 0)
        return sendInteger(0) && sendText(error);
    bool ok = sendInteger(size);
    // Read and sent in blocks: from a file in memory (tmpfs) that beat
    // sendfile, which copies such pages on its way too.
    std::vector<char> block(kBufferBytes * 4);
    for (int64_t left = size; ok && left > 0;) {
        const ssize_t n = ::read(fd, block.data(), static_cast<size_t>(std::min<int64_t>(left, block.size())));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0 && send(block.data(), static_cast<size_t>(n));  // a file that shrank can not be sent as announced
        left -= n;
    }
    ::close(fd);
    return ok && sendText("");
}

bool SimFrameConnection::pushFile() {
    std::string path;
    int64_t size = 0;
    if (!token(&path, SimFrames::kMaxTokenBytes) || !integer(&size) || size < 0)
        return false;
    frames_.log("PushFile " + path + " " + std::to_string(size));
    if (size > kMaxFileBytes)
        return sendText("File of " + std::to_string(size) + " bytes is larger than the server takes");
    std::string error;
    std::unique_ptr<SimFileDir::Upload> upload = frames_.files().startUpload(path, &error);
    if (!upload)
        return sendText(error);
    if (!sendText(""))
        return false;
    std::vector<char> block(kBufferBytes * 4);
    bool written = true;
    int writeErr = 0;
    for (int64_t left = size; left > 0;) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(block.size())));
        if (!exact(block.data(), n))
            return false;  // the upload is removed, the old file stays
        for (size_t done = 0; written && done < n;) {
            const ssize_t w = ::write(upload->fd(), block.data() + done, n - done);
            if (w < 0 && errno == EINTR)
                continue;
            written = w > 0;
            writeErr = w < 0 ? errno : ENOSPC;
            done += written ? static_cast<size_t>(w) : 0;
        }
        // The rest is still read, so that the connection stays in step.
        if (!written && error.empty())
            error = "Could not write '" + path + "': " + std::strerror(writeErr);
        left -= static_cast<int64_t>(n);
    }
    if (written && !upload->commit(&error))
        written = false;
    return sendText(written ? "" : error);
}

}  // namespace CorvaneSim
