#include "support/FastCgiClient.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

namespace CorvaneTest {

namespace {

enum RecordType { kBeginRequest = 1, kEndRequest = 3, kParams = 4, kStdin = 5, kStdout = 6, kStderr = 7 };
constexpr size_t kMaxContent = 65535;

std::string length(size_t n) {
    if (n < 128)
        return std::string(1, static_cast<char>(n));
    const char bytes[] = {static_cast<char>(0x80 | (n >> 24)), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                          static_cast<char>(n)};
    return std::string(bytes, 4);
}

}  // namespace

FastCgiClient::FastCgiClient(const std::string& socketPath) {
    ScopedFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (fd.valid() && ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        fd_ = std::move(fd);
}

bool FastCgiClient::record(int type, const std::string& content) {
    const char header[8] = {1, static_cast<char>(type), 0, 1, static_cast<char>(content.size() >> 8),
                            static_cast<char>(content.size() & 0xff), 0, 0};
    return sendAll(fd_.get(), std::string(header, 8) + content);
}

bool FastCgiClient::send(const std::map<std::string, std::string>& variables, const std::string& body, bool keep,
                         bool endBody) {
    const char begin[8] = {0, 1, static_cast<char>(keep ? 1 : 0), 0, 0, 0, 0, 0};
    std::string params;
    for (const auto& kv : variables)
        params += length(kv.first.size()) + length(kv.second.size()) + kv.first + kv.second;
    bool ok = record(kBeginRequest, std::string(begin, 8));
    for (size_t at = 0; ok && at < params.size(); at += kMaxContent)
        ok = record(kParams, params.substr(at, kMaxContent));
    ok = ok && record(kParams, "");
    for (size_t at = 0; ok && at < body.size(); at += kMaxContent)
        ok = record(kStdin, body.substr(at, kMaxContent));
    return ok && (!endBody || record(kStdin, ""));
}

FastCgiAnswer FastCgiClient::receive(int timeoutMs) {
    FastCgiAnswer answer;
    while (!answer.ended) {
        const std::string header = recvUpTo(fd_.get(), 8, timeoutMs);
        if (header.size() < 8) {
            char c;
            answer.closed = ::recv(fd_.get(), &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
            break;
        }
        const size_t size = (static_cast<unsigned char>(header[4]) << 8 | static_cast<unsigned char>(header[5])) +
                            static_cast<unsigned char>(header[6]);
        const std::string content = size ? recvUpTo(fd_.get(), size, timeoutMs) : std::string();
        if (content.size() < size)
            break;
        const std::string data = content.substr(0, size - static_cast<unsigned char>(header[6]));
        if (header[1] == kStdout)
            answer.out += data;
        else if (header[1] == kStderr)
            answer.err += data;
        else if (header[1] == kEndRequest)
            answer.ended = true;
    }
    return answer;
}

}  // namespace CorvaneTest
