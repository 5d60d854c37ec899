// One open file's descriptor, closed on destruction, and whole writes to a
// descriptor. For plain files and pipes, where a socket's cancellable waits
// (CoIoDescriptor) would only cost a pipe of their own. One thread uses an
// object at a time.
#pragma once

#include <cstddef>

namespace Corvane {

class CoFileDescriptor {
public:
    // Takes ownership of fd; -1 (a failed open) owns nothing.
    explicit CoFileDescriptor(int fd) : fd_(fd) {}
    ~CoFileDescriptor() { closeNow(); }
    CoFileDescriptor(const CoFileDescriptor&) = delete;
    CoFileDescriptor& operator=(const CoFileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes at once; false when the close reported an error (a write the
    // file system could not complete). The object owns nothing afterwards.
    bool closeNow();

private:
    int fd_;
};

// Writes all size bytes, again after a signal or a short write; false when
// a write fails or writes nothing (a full disk, a closed pipe).
bool writeAll(int fd, const void* data, size_t size);
// Reads size bytes, again after a signal or a short read; false when a
// read fails or the end comes first.
bool readAll(int fd, void* data, size_t size);

}  // namespace Corvane
