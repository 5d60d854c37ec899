#include "base/fileUtil/CoFileIO.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <cassert>
#include <cerrno>
#include <cstring>
#include <limits>

#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoMsg.h"

namespace Corvane {

namespace {

using FileSystem = CoFileIO::Preallocator::FileSystem;
using Method = CoFileIO::Preallocator::Method;

constexpr long kXfsMagic = 0x58465342;

// The XFS space-reservation request: unwritten extents, no zeroing.
struct XfsFlock64 {
    int16_t l_type;
    int16_t l_whence;
    int64_t l_start;
    int64_t l_len;
    int32_t l_sysid;
    uint32_t l_pid;
    int32_t l_pad[4];
};
constexpr unsigned long kXfsIocResvsp64 = _IOW('X', 42, XfsFlock64);

FileSystem fromMagic(long magic) { return magic == kXfsMagic ? FileSystem::XFS : FileSystem::Generic; }

// 0 or an errno value.
int reserveOnXfs(int fd, uint64_t offset, uint64_t length) {
    XfsFlock64 request{};
    request.l_whence = SEEK_SET;
    request.l_start = static_cast<int64_t>(offset);
    request.l_len = static_cast<int64_t>(length);
    return ioctl(fd, kXfsIocResvsp64, &request) == 0 ? 0 : errno;
}

int fallocate(int fd, uint64_t offset, uint64_t length) {
    constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<off64_t>::max());
    if (offset > kMax || length > kMax - offset)
        return EFBIG;
    return posix_fallocate64(fd, static_cast<off64_t>(offset), static_cast<off64_t>(length));
}

}  // namespace

const char* CoFileIO::Preallocator::name(FileSystem fileSystem) {
    switch (fileSystem) {
        case FileSystem::Unknown:
            return "Unknown";
        case FileSystem::Generic:
            return "Generic";
        case FileSystem::XFS:
            return "XFS";
        case FileSystem::HFS:
            return "HFS/HFS Plus";
    }
    assert(!"file system out of range");
    return "";
}

const char* CoFileIO::Preallocator::name(Method method) {
    switch (method) {
        case Method::Invalid:
            return "Invalid";
        case Method::None:
            return "None";
        case Method::FAllocate:
            return "FAllocate";
        case Method::Reserve:
            return "Reserve";
        case Method::F_Preallocate:
            return "F_Preallocate";
    }
    assert(!"preallocation method out of range");
    return "";
}

FileSystem CoFileIO::Preallocator::fileSystemFromName(const char* text) {
    for (FileSystem fs : {FileSystem::Generic, FileSystem::XFS, FileSystem::HFS})
        if (text && strcasecmp(text, name(fs)) == 0)
            return fs;
    CO_WARNING("Invalid file system type string '%s'", text ? text : "");
    return FileSystem::Unknown;
}

Method CoFileIO::Preallocator::methodFromName(const char* text) {
    for (Method method : {Method::None, Method::FAllocate, Method::Reserve, Method::F_Preallocate})
        if (text && strcasecmp(text, name(method)) == 0)
            return method;
    CO_WARNING("Invalid media preallocation type string '%s'", text ? text : "");
    return Method::Invalid;
}

FileSystem CoFileIO::Preallocator::detect(FILE* stream) {
    struct statfs64 info;
    if (fstatfs64(fileno(stream), &info) != 0) {
        const int err = errno;
        CO_ERROR("Could not determine file system type: %s.", std::strerror(err));
        return FileSystem::Unknown;
    }
    return fromMagic(static_cast<long>(info.f_type));
}

FileSystem CoFileIO::Preallocator::detect(const CoFilePath& path) {
    struct statfs64 info;
    if (statfs64(path.c_str(), &info) == 0)
        return fromMagic(static_cast<long>(info.f_type));
    const int err = errno;
    // A file about to be made lives on its directory's file system.
    const CoFilePath directory(path.directory());
    if (err == ENOENT && directory.path() != path.path())
        return detect(directory);
    CO_WARNING("Could not determine file system type for '%s': %s.", path.c_str(), std::strerror(err));
    return FileSystem::Unknown;
}

CoFileIO::~CoFileIO() { close(); }

void CoFileIO::open(const char* mode) {
    close();
    // "e": the descriptor is not inherited by programs this process starts.
    const std::string withCloseOnExec = std::string(mode) + "e";
    stream_ = fopen64(c_str(), withCloseOnExec.c_str());
    if (!stream_) {
        const int err = errno;
        CO_THROW_ERRNO(err, "Could not open \"%s\" (flags:%s)", c_str(), mode);
    }
}

void CoFileIO::close() {
    if (stream_)
        std::fclose(stream_);
    stream_ = nullptr;
}

void CoFileIO::seek(uint64_t offset) {
    const bool fits = offset <= static_cast<uint64_t>(std::numeric_limits<off64_t>::max());
    if (!stream_ || !fits || fseeko64(stream_, static_cast<off64_t>(offset), SEEK_SET) != 0) {
        const int err = !stream_ ? EBADF : !fits ? EOVERFLOW : errno;
        CO_THROW_ERRNO(err, "Could not seek to %llu in \"%s\"", static_cast<unsigned long long>(offset), c_str());
    }
}

std::string CoFileIO::readAll() {
    struct stat64 status;
    exists(&status);
    open("r");
    std::string text(static_cast<size_t>(status.st_size), '\0');
    const size_t got = std::fread(&text[0], 1, text.size(), stream_);
    const int err = std::ferror(stream_) ? errno : 0;
    close();
    if (err != 0)
        CO_THROW_ERRNO(err, "Could not read \"%s\"", c_str());
    // A file that shrank since the stat gives what is left.
    text.resize(got);
    return text;
}

void CoFileIO::preallocate(uint64_t offset, uint64_t length, Preallocator& preallocator) {
    if (!stream_)
        open("w+");
    if (preallocator.fileSystem() == FileSystem::Unknown)
        preallocator.setFileSystem(Preallocator::detect(stream_));
    const Method method = preallocator.method();
    const FileSystem fileSystem = preallocator.fileSystem();
    const bool supported = method == Method::None || method == Method::FAllocate ||
                           (method == Method::Reserve && fileSystem == FileSystem::XFS);
    if (!supported) {
        CO_ERROR("Unsupported preallocation type '%s' on filesystem type '%s'.", Preallocator::name(method),
                 Preallocator::name(fileSystem));
        CO_THROW_ERRNO(EOPNOTSUPP, "Unsupported preallocation type");
    }
    int err = 0;
    if (method == Method::FAllocate)
        err = fallocate(fileno(stream_), offset, length);
    else if (method == Method::Reserve)
        err = reserveOnXfs(fileno(stream_), offset, length);
    if (err != 0) {
        CO_ERROR("Could not preallocate space: %s.", std::strerror(err));
        CO_THROW_ERRNO(err, "Could not preallocate space: %s.", std::strerror(err));
    }
}

}  // namespace Corvane
