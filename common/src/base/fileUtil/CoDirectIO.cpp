#include "base/fileUtil/CoDirectIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/env/EnvVar.h"
#include "base/fileUtil/BufferAllocator.h"
#include "base/fileUtil/CoBuffer.h"
#include "base/loggerBase/CoMsg.h"

namespace Corvane {

namespace {

size_t configuredChunkSize() {
    static const size_t size = [] {
        const char* text = std::getenv("XQ_DIO_OPTIMAL_CHUNK_SIZE");
        const size_t page = BufferAllocator::pageSize();
        const size_t wanted = text ? static_cast<size_t>(leadingDigits(text)) : 0;
        // 0 would never finish a transfer; a ragged size would misalign
        // every direct piece after the first.
        return wanted == 0 ? CoDirectIO::kDefaultChunkSize : std::max(page, wanted - wanted % page);
    }();
    return size;
}

struct ReadAtLoadTime {
    ReadAtLoadTime() { configuredChunkSize(); }
} gReadAtLoadTime;

std::atomic<size_t> gTestChunkSize{0};
std::atomic<CoDirectIO::ReadFunction> gTestRead{nullptr};

bool disabledByEnvironment() {
    static const bool disabled = std::getenv("XQ_BDSIO_DISABLE") || std::getenv("XQ_DISABLE_DIRECT_IO");
    return disabled;
}

std::atomic<bool> gDisabledNoticePending{true};

ssize_t readSome(int fd, void* buffer, size_t size) {
    const CoDirectIO::ReadFunction read = gTestRead.load();
    return read ? read(fd, buffer, size) : ::read(fd, buffer, size);
}

bool isAligned(uint64_t value) { return value % CoDirectIO::pageSize() == 0; }

// Reads from the current position (or from offset when it is not negative)
// until size bytes, the end of the file or an error.
int readDescriptor(int fd, const char* path, char* buffer, size_t size, size_t* bytesRead, int64_t offset) {
    *bytesRead = 0;
    if (size == 0) {
        CO_ERROR("File \"%s\" is empty.", path);
        return ENOENT;
    }
    if (offset >= 0 && lseek64(fd, offset, SEEK_SET) < 0) {
        const int err = errno;
        CO_ERROR("Failed to seek file \"%s\" at offset %lld: %s", path, static_cast<long long>(offset),
                 std::strerror(err));
        return err;
    }
    const size_t chunk = CoDirectIO::chunkSize();
    while (*bytesRead < size) {
        const size_t piece = std::min(size - *bytesRead, chunk);
        const ssize_t n = readSome(fd, buffer + *bytesRead, piece);
        if (n < 0) {
            const int err = errno;
            if (err == EINTR)
                continue;
            CO_ERROR("Unable to read %zu bytes from '%s': %s", size, path, std::strerror(err));
            return err;
        }
        if (n == 0)
            break;
        *bytesRead += static_cast<size_t>(n);
    }
    return 0;
}

// Opens path for reading; -1 with *err set when that fails.
int openForReading(const char* path, int* err) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_LARGEFILE);
    *err = fd < 0 ? errno : 0;
    if (fd < 0)
        CO_ERROR("Unable to open file '%s': %s", path, std::strerror(*err));
    return fd;
}

// The shared tail of both reads: direct when allowed, and once more without
// it when the direct read failed with EIO.
int readWithFallback(int fd, const char* path, char* buffer, size_t size, size_t* bytesRead, int64_t offset) {
    int ignored = 0;
    const bool direct = CoDirectIO::checkDirectIO(buffer, size, offset, &ignored);
    if (direct)
        CoDirectIO::enableDirectIO(fd, path);
    int err = readDescriptor(fd, path, buffer, size, bytesRead, offset);
    if (err == EIO && direct) {
        CoDirectIO::disableDirectIO(fd, path);
        CO_WARNING("Read failed.  Retrying without Direct IO");
        err = readDescriptor(fd, path, buffer, size, bytesRead, offset < 0 ? 0 : offset);
    }
    return err;
}

}  // namespace

size_t CoDirectIO::pageSize() { return BufferAllocator::pageSize(); }

size_t CoDirectIO::chunkSize() {
    const size_t test = gTestChunkSize.load();
    return test ? test : configuredChunkSize();
}

bool CoDirectIO::checkDirectIO(const void* buffer, size_t size, int64_t offset, int* err) {
    *err = 0;
    if (disabledByEnvironment()) {
        if (gDisabledNoticePending.exchange(false))
            CO_WARNING("Direct I/O disabled by env. var.");
        return false;
    }
    if (!isAligned(reinterpret_cast<uintptr_t>(buffer))) {
        CO_WARNING("Direct I/O disabled, misaligned buffer %p.", buffer);
        *err = EINVAL;
        return false;
    }
    if (!isAligned(size)) {
        CO_WARNING("Direct I/O disabled, read size %zd not multiple of page size.", static_cast<ssize_t>(size));
        *err = EINVAL;
        return false;
    }
    // A negative offset reads from the start of a freshly opened file.
    if (offset > 0 && !isAligned(static_cast<uint64_t>(offset))) {
        CO_WARNING("Direct I/O disabled, offset %lld not multiple of page size.", static_cast<long long>(offset));
        *err = EINVAL;
        return false;
    }
    return true;
}

void CoDirectIO::enableDirectIO(int fd, const char* path) {
    if (fcntl(fd, F_SETFL, O_DIRECT) != 0) {
        const int err = errno;
        CO_DEBUG("Cannot enable direct I/O for file: '%s' : %s ", path, std::strerror(err));
    }
}

void CoDirectIO::disableDirectIO(int fd, const char* path) {
    if (fcntl(fd, F_SETFL, 0) != 0) {
        const int err = errno;
        CO_DEBUG("Cannot disable direct I/O for file: '%s' : %s ", path, std::strerror(err));
    }
}

int CoDirectIO::read(const char* path, void* buffer, size_t size, size_t* bytesRead, int64_t offset) {
    *bytesRead = 0;
    int err = 0;
    const int fd = openForReading(path, &err);
    if (fd < 0)
        return err;
    err = readWithFallback(fd, path, static_cast<char*>(buffer), size, bytesRead, offset);
    close(fd);
    return err;
}

int CoDirectIO::read(const char* path, CoBuffer* buffer, size_t* bytesRead, int64_t offset) {
    *bytesRead = 0;
    int err = 0;
    const int fd = openForReading(path, &err);
    if (fd < 0)
        return err;
    struct stat64 status;
    if (fstat64(fd, &status) != 0) {
        err = errno;
        CO_ERROR("Unable to stat file '%s': %s.", path, std::strerror(err));
        close(fd);
        return err;
    }
    const int64_t start = std::max<int64_t>(offset, 0);
    const uint64_t length = status.st_size > start ? static_cast<uint64_t>(status.st_size - start) : 0;
    const uint64_t rounded = (length + pageSize() - 1) / pageSize() * pageSize();
    if (rounded > SIZE_MAX) {
        CO_ERROR("Unable to read %llu bytes from '%s': %s", static_cast<unsigned long long>(length), path,
                 std::strerror(EFBIG));
        close(fd);
        return EFBIG;
    }
    // The read stops at the rounded size even if the file has grown since.
    buffer->resize(static_cast<size_t>(rounded), 0);
    err = readWithFallback(fd, path, buffer->data(), static_cast<size_t>(rounded), bytesRead, offset);
    close(fd);
    return err;
}

int CoDirectIO::write(const char* path, const void* buffer, size_t size, int64_t offset) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_LARGEFILE, 0777);
    if (fd < 0) {
        const int err = errno;
        CO_ERROR("Unable to open file '%s': %s", path, std::strerror(err));
        return err;
    }
    int err = 0;
    bool direct = checkDirectIO(buffer, size, offset, &err);
    if (direct)
        enableDirectIO(fd, path);
    err = 0;
    if (offset != 0 && lseek64(fd, offset, SEEK_SET) < 0) {
        err = errno;
        CO_ERROR("Unable to lseek file '%s' at offset %lld: %s", path, static_cast<long long>(offset),
                 std::strerror(err));
    }
    const char* data = static_cast<const char*>(buffer);
    const size_t chunk = chunkSize();
    for (size_t done = 0; err == 0 && done < size;) {
        const size_t piece = std::min(size - done, chunk);
        const ssize_t n = ::write(fd, data + done, piece);
        if (n < 0) {
            err = errno;
            if (err == EINTR) {
                err = 0;
                continue;
            }
            CO_ERROR("Unable to write %zu bytes to '%s': %s", piece, path, std::strerror(err));
            break;
        }
        if (n == 0) {  // never for a file; stops the loop if it ever happens
            err = EIO;
            CO_ERROR("Unable to write %zu bytes to '%s': %s", piece, path, std::strerror(err));
            break;
        }
        done += static_cast<size_t>(n);
        // A short write (a full disk, say) leaves the position unaligned; the
        // rest goes without direct I/O so that the next write tells why.
        if (direct && static_cast<size_t>(n) < piece) {
            disableDirectIO(fd, path);
            direct = false;
        }
    }
    close(fd);
    return err;
}

void CoDirectIO::setReadForTesting(ReadFunction read) { gTestRead.store(read); }

void CoDirectIO::setChunkSizeForTesting(size_t size) { gTestChunkSize.store(size); }

}  // namespace Corvane
