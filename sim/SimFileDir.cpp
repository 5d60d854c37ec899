#include "sim/SimFileDir.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/loggerBase/CoException.h"
#include "base/tcp/CoIoDescriptor.h"

namespace CorvaneSim {

namespace {

constexpr size_t kMaxPathBytes = 1024;

std::string errnoText(int err) { return Corvane::CoIoDescriptor::errnoText(err); }

}  // namespace

SimFileDir::SimFileDir(const std::string& dir) : dir_(dir) {
    if (dir.empty())
        return;
    dirFd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) {
        const std::string text = "Could not open the file directory '" + dir + "': " + errnoText(errno);
        throw Corvane::CoException(text.c_str(), __LINE__, __FILE__);
    }
}

SimFileDir::~SimFileDir() {
    if (dirFd_ >= 0)
        ::close(dirFd_);
}

bool SimFileDir::relative(const std::string& path, std::string* rel, std::string* error) const {
    if (dirFd_ < 0) {
        *error = "No file directory: start the server with --file-dir";
        return false;
    }
    // A leading "/" means the directory itself, as a client sees it.
    const size_t start = path.find_first_not_of('/');
    *rel = start == std::string::npos ? std::string() : path.substr(start);
    bool ok = !rel->empty() && rel->size() <= kMaxPathBytes && rel->back() != '/';
    for (size_t at = 0; ok && at <= rel->size();) {
        const size_t slash = std::min(rel->find('/', at), rel->size());
        const std::string part = rel->substr(at, slash - at);
        ok = !part.empty() && part != "." && part != "..";
        at = slash + 1;
    }
    for (char c : *rel)
        ok = ok && static_cast<unsigned char>(c) >= 0x20;
    if (!ok)
        *error = "Path '" + path + "' is not a file inside the file directory";
    return ok;
}

int SimFileDir::openBeneath(const std::string& rel, int flags, mode_t mode) const {
    open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    static std::atomic<bool> noOpenat2{false};
    if (!noOpenat2.load()) {
        const long fd = ::syscall(SYS_openat2, dirFd_, rel.c_str(), &how, sizeof how);
        if (fd >= 0 || errno != ENOSYS)
            return static_cast<int>(fd);
        noOpenat2.store(true);
    }
    // An older kernel: the path has no "..", and the file itself is no link.
    return ::openat(dirFd_, rel.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, mode);
}

int SimFileDir::openForReading(const std::string& path, int64_t* size, std::string* error) const {
    std::string rel;
    if (!relative(path, &rel, error))
        return -1;
    const int fd = openBeneath(rel, O_RDONLY, 0);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = fd < 0 ? errno : EISDIR;
        if (fd >= 0)
            ::close(fd);
        *error = err == EXDEV ? "Path '" + path + "' is not a file inside the file directory"
                              : "Could not read '" + path + "': " + errnoText(err);
        return -1;
    }
    *size = st.st_size;
    return fd;
}

std::unique_ptr<SimFileDir::Upload> SimFileDir::startUpload(const std::string& path, std::string* error) const {
    std::string rel;
    if (!relative(path, &rel, error))
        return nullptr;
    const size_t slash = rel.rfind('/');
    std::unique_ptr<Upload> upload(new Upload);  // the constructor is private to this class
    upload->name_ = slash == std::string::npos ? rel : rel.substr(slash + 1);
    upload->dirFd_ = slash == std::string::npos ? ::fcntl(dirFd_, F_DUPFD_CLOEXEC, 0)
                                                : openBeneath(rel.substr(0, slash), O_RDONLY | O_DIRECTORY, 0);
    if (upload->dirFd_ < 0) {
        *error = "Could not write '" + path + "': " + errnoText(errno);
        return nullptr;
    }
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100 && upload->fd_ < 0; ++attempt) {
        upload->temp_ = "." + upload->name_ + "." + std::to_string(::getpid()) + "." + std::to_string(++serial);
        upload->fd_ =
            ::openat(upload->dirFd_, upload->temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (upload->fd_ < 0 && errno != EEXIST)
            break;
    }
    if (upload->fd_ < 0) {
        *error = "Could not write '" + path + "': " + errnoText(errno);
        upload->temp_.clear();
        return nullptr;
    }
    return upload;
}

SimFileDir::Upload::~Upload() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!temp_.empty())
        ::unlinkat(dirFd_, temp_.c_str(), 0);
    if (dirFd_ >= 0)
        ::close(dirFd_);
}

bool SimFileDir::Upload::commit(std::string* error) {
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0 || ::renameat(dirFd_, temp_.c_str(), dirFd_, name_.c_str()) != 0) {
        *error = "Could not write '" + name_ + "': " + errnoText(errno);
        return false;
    }
    temp_.clear();
    return true;
}

}  // namespace CorvaneSim
