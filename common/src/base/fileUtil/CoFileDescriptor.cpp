#include "base/fileUtil/CoFileDescriptor.h"

#include <unistd.h>

#include <cerrno>

namespace Corvane {

bool CoFileDescriptor::closeNow() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
}

namespace {

const void* advanced(const void* data, size_t bytes) { return static_cast<const char*>(data) + bytes; }
void* advanced(void* data, size_t bytes) { return static_cast<char*>(data) + bytes; }

// Moves size bytes with transfer (read or write), again after a signal or
// a short transfer; false when one fails or moves nothing.
template <typename Buffer>
bool transferAll(ssize_t (*transfer)(int, Buffer, size_t), int fd, Buffer data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = transfer(fd, advanced(data, done), size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool writeAll(int fd, const void* data, size_t size) { return transferAll(::write, fd, data, size); }

bool readAll(int fd, void* data, size_t size) { return transferAll(::read, fd, data, size); }

}  // namespace Corvane
