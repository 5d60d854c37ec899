#include "support/LineReader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace CorvaneTest {

LineReader::Result LineReader::readLine(std::string* line, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            line->assign(pending_, 0, nl);
            pending_.erase(0, nl + 1);
            return Result::Line;
        }
        const auto leftMs = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p = {fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, leftMs > 0 ? static_cast<int>(leftMs) : 0);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return Result::Timeout;
        char buf[65536];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Result::Closed;
        pending_.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace CorvaneTest
