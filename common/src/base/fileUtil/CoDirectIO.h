// Internal to corvane_base.
// Whole-file and positioned reads and writes that bypass the page cache
// when the buffer address, the size and the offset are all page-aligned, and
// use ordinary I/O otherwise. A direct read that fails with EIO is made
// again without direct I/O. Failures are posted at error level and returned
// as errno values; nothing is thrown. Stateless apart from settings read
// once, so any thread may call it.
//
// XQ_BDSIO_DISABLE or XQ_DISABLE_DIRECT_IO (present at the first check)
// turn direct I/O off for the process; XQ_DIO_OPTIMAL_CHUNK_SIZE (bytes,
// read at load time, default 16 MiB) is the largest single read or write.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace Corvane {

class CoBuffer;

class CoDirectIO {
public:
    CoDirectIO() = delete;

    static constexpr size_t kDefaultChunkSize = 16 * 1024 * 1024;

    static size_t pageSize();
    // A multiple of the page size, so that every piece of a direct transfer
    // stays aligned.
    static size_t chunkSize();

    // True when direct I/O is allowed for this transfer. A misaligned
    // argument sets *err to EINVAL and is warned about; the environment
    // switch leaves *err at 0.
    static bool checkDirectIO(const void* buffer, size_t size, int64_t offset, int* err);
    // Failures are posted as debug messages and otherwise ignored.
    static void enableDirectIO(int fd, const char* path);
    static void disableDirectIO(int fd, const char* path);

    // Reads up to size bytes from offset (a negative offset: from the start)
    // into buffer. 0 or an errno value; ENOENT for size 0.
    static int read(const char* path, void* buffer, size_t size, size_t* bytesRead, int64_t offset = 0);
    // Reads the file from offset to its end into buffer, resized to that
    // length rounded up to whole pages.
    static int read(const char* path, CoBuffer* buffer, size_t* bytesRead, int64_t offset = 0);
    // Writes size bytes at offset, creating the file (mode 0777 less the
    // umask) but never truncating it.
    static int write(const char* path, const void* buffer, size_t size, int64_t offset = 0);

    // Test seams. The read function replaces read(2) (null: read(2) again);
    // a chunk size of 0 goes back to the configured one.
    typedef ssize_t (*ReadFunction)(int fd, void* buffer, size_t size);
    static void setReadForTesting(ReadFunction read);
    static void setChunkSizeForTesting(size_t size);
};

}  // namespace Corvane
