#include "support/FastCgiClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace CorvaneTest {

namespace {

enum RecordType { kBeginRequest = 1, kEndRequest = 3, kParams = 4, kStdin = 5, kStdout = 6, kStderr = 7 };
constexpr int kRequestId = 1;
constexpr int kResponder = 1;
constexpr size_t kHeaderBytes = 8;
constexpr size_t kMaxContentBytes = 65535;

void appendLength(std::string* out, size_t length) {
    if (length < 128) {
        out->push_back(static_cast<char>(length));
        return;
    }
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back(static_cast<char>(((length >> shift) & 0xff) | (shift == 24 ? 0x80 : 0)));
}

}  // namespace

FastCgiClient::FastCgiClient(const std::string& socketPath) {
    ScopedFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!fd.valid() || socketPath.size() >= sizeof address.sun_path)
        return;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        fd_ = std::move(fd);
}

std::string FastCgiClient::record(int type, int requestId, const std::string& content) {
    std::string record{1, static_cast<char>(type), static_cast<char>(requestId >> 8), static_cast<char>(requestId & 0xff)};
    record.push_back(static_cast<char>(content.size() >> 8));
    record.push_back(static_cast<char>(content.size() & 0xff));
    record.append(2, '\0');  // no padding, reserved
    record += content;
    return record;
}

bool FastCgiClient::sendRecord(int type, const std::string& content) {
    return sendAll(fd_.get(), record(type, kRequestId, content));
}

bool FastCgiClient::sendRaw(const std::string& bytes) { return sendAll(fd_.get(), bytes); }

bool FastCgiClient::closedWithin(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        pollfd entry{fd_.get(), POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (::poll(&entry, 1, static_cast<int>(std::max<long long>(left, 1))) <= 0)
            continue;
        char scratch[4096];
        const ssize_t got = ::recv(fd_.get(), scratch, sizeof scratch, 0);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
            return true;
    }
    return false;
}

bool FastCgiClient::begin(const std::map<std::string, std::string>& variables) { return begin(variables, false); }

bool FastCgiClient::begin(const std::map<std::string, std::string>& variables, bool keepConnection) {
    const std::string body{0, static_cast<char>(kResponder), static_cast<char>(keepConnection ? 1 : 0), 0, 0, 0, 0, 0};
    if (!sendRecord(kBeginRequest, body))
        return false;
    std::string params;
    for (const auto& variable : variables) {
        appendLength(&params, variable.first.size());
        appendLength(&params, variable.second.size());
        params += variable.first + variable.second;
    }
    for (size_t at = 0; at < params.size(); at += kMaxContentBytes)
        if (!sendRecord(kParams, params.substr(at, kMaxContentBytes)))
            return false;
    return sendRecord(kParams, "");
}

bool FastCgiClient::sendBody(const std::string& bytes) {
    if (bytes.empty())
        return sendRecord(kStdin, "");
    for (size_t at = 0; at < bytes.size(); at += kMaxContentBytes)
        if (!sendRecord(kStdin, bytes.substr(at, kMaxContentBytes)))
            return false;
    return true;
}

bool FastCgiClient::readAnswer(std::string* out, int timeoutMs, std::string* err) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto msLeft = [&] {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return static_cast<int>(std::max<long long>(left, 0));
    };
    out->clear();
    for (;;) {
        const std::string header = recvUpTo(fd_.get(), kHeaderBytes, msLeft());
        if (header.size() != kHeaderBytes)
            return false;
        const unsigned char* h = reinterpret_cast<const unsigned char*>(header.data());
        const size_t length = (static_cast<size_t>(h[4]) << 8) | h[5];
        const std::string content = recvUpTo(fd_.get(), length + h[6], msLeft());
        if (content.size() != length + h[6])
            return false;
        if (h[1] == kStdout)
            out->append(content, 0, length);
        else if (h[1] == kStderr && err)
            err->append(content, 0, length);
        else if (h[1] == kEndRequest)
            return true;
    }
}

bool FastCgiClient::readUntil(const std::string& text, std::string* out, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // Whole records first.
        while (pending_.size() >= kHeaderBytes) {
            const unsigned char* h = reinterpret_cast<const unsigned char*>(pending_.data());
            const size_t length = (static_cast<size_t>(h[4]) << 8) | h[5];
            const size_t whole = kHeaderBytes + length + h[6];
            if (pending_.size() < whole)
                break;
            // A record a FastCGI web server would refuse ends the read.
            if (h[0] != 1 || (h[1] == kEndRequest && length != 8))
                return false;
            if (h[1] == kStdout)
                out->append(pending_, kHeaderBytes, length);
            else if (h[1] == kEndRequest)
                ended_ = pending_.size() == whole;  // the request's last bytes
            pending_.erase(0, whole);
        }
        if (out->find(text) != std::string::npos)
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (ended_ || left <= 0)
            return false;
        pollfd entry{fd_.get(), POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(left)) <= 0)
            continue;
        char scratch[65536];
        const ssize_t got = ::recv(fd_.get(), scratch, sizeof scratch, 0);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
            return false;
        if (got > 0)
            pending_.append(scratch, static_cast<size_t>(got));
    }
}

std::string FastCgiClient::request(const std::string& socketPath, const std::map<std::string, std::string>& variables,
                                   const std::string& body, int timeoutMs) {
    FastCgiClient client(socketPath);
    std::string out;
    if (!client.valid() || !client.begin(variables) || (!body.empty() && !client.sendBody(body)) ||
        !client.sendBody("") || !client.readAnswer(&out, timeoutMs))
        return std::string();
    return out;
}

}  // namespace CorvaneTest
