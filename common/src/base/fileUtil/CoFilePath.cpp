#include "base/fileUtil/CoFilePath.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "base/env/EnvVar.h"
#include "base/env/EnvVarRegistry.h"
#include "base/fileUtil/CoBuffer.h"
#include "base/fileUtil/CoDirectIO.h"
#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoMsg.h"
#include "base/osal/CoUser.h"

namespace Corvane {

namespace {

EnvVar<int> gChownRetries("XQ_CHOWN_NUM_RETRIES", 10);
RegEnvVar<int> gChownRetriesReg(__FILE__, gChownRetries);

std::atomic<CoFilePath::ChownFunction> gTestChown{nullptr};

int changeOwnerOf(const char* path, uid_t owner, gid_t group, bool link) {
    const CoFilePath::ChownFunction test = gTestChown.load();
    if (test)
        return test(path, owner, group, link);
    return link ? lchown(path, owner, group) : chown(path, owner, group);
}

// The pieces of a copy across file systems: large enough for the device to
// stream direct transfers, small enough that faulting the buffer in does not
// cost more than the transfers (bench/cross_fs_copy.sh measures both).
constexpr size_t kCopyBufferBytes = 4 * 1024 * 1024;

std::string homeOf(const std::string& user) {
    if (user.empty()) {
        const char* home = std::getenv("HOME");
        if (!home)
            CO_THROW_ERRNO(ENOENT, "HOME is not set");
        return home;
    }
    passwd record;
    std::vector<char> buffer;
    if (!CoUser::passwdByName(user.c_str(), &record, &buffer))
        CO_THROW_ERRNO(ENOENT, "Unknown user '%s'", user.c_str());
    return record.pw_dir;
}

// Folds repeated separators, "." and "..": ".." at the root stays at the
// root, and leading ".." of a relative path are kept.
std::string normalise(const std::string& path) {
    if (path.empty())
        return path;
    const bool absolute = path[0] == CoFilePath::kSeparator;
    std::vector<std::string> parts;
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = path.find(CoFilePath::kSeparator, begin);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(begin, end - begin);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (!absolute)
                parts.push_back(part);
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        begin = end + 1;
    }
    std::string result = absolute ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i)
        result += (i ? "/" : "") + parts[i];
    return result.empty() ? "." : result;
}

// Where the last component starts and ends, trailing separators left out.
void lastComponentBounds(const std::string& path, size_t* begin, size_t* end) {
    *end = path.size();
    while (*end > 1 && path[*end - 1] == CoFilePath::kSeparator)
        --*end;
    const size_t separator = path.rfind(CoFilePath::kSeparator, *end ? *end - 1 : 0);
    *begin = separator == std::string::npos || *end == 0 ? 0 : separator + 1;
    if (*begin > *end)  // the root itself
        *begin = *end;
}

// Offset of the "." that starts the extension, or npos.
size_t extensionDot(const std::string& path) {
    size_t begin, end;
    lastComponentBounds(path, &begin, &end);
    const size_t dot = path.rfind('.', end ? end - 1 : 0);
    if (dot == std::string::npos || dot < begin || dot == begin || dot + 1 >= end)
        return std::string::npos;
    return dot;
}

}  // namespace

void CoFilePath::setPath(std::string path) {
    path_ = std::move(path);
    kind_ = Kind::Unknown;
}

mode_t CoFilePath::toMode(const Permissions& permissions) {
    // Read, write, execute as 1, 2, 4: the reverse of a mode digit.
    auto digit = [](int bits) { return ((bits & 1) ? 4 : 0) | (bits & 2) | ((bits & 4) ? 1 : 0); };
    return static_cast<mode_t>(digit(permissions.owner) << 6 | digit(permissions.group) << 3 |
                               digit(permissions.others));
}

bool CoFilePath::exists(struct stat64* status) const {
    struct stat64 own;
    if (stat64(path_.c_str(), status ? status : &own) == 0)
        return true;
    const int err = errno;
    if (status)
        CO_THROW_ERRNO(err, "%s", path_.c_str());
    return false;
}

CoFilePath::Kind CoFilePath::kind() const {
    struct stat64 status;
    if (kind_ == Kind::Unknown && stat64(path_.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode))
            kind_ = Kind::Directory;
        else if (S_ISREG(status.st_mode))
            kind_ = Kind::File;
    }
    return kind_;
}

bool CoFilePath::isSymbolicLink() const {
    struct stat64 status;
    return lstat64(path_.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

bool CoFilePath::mayAccess(int bits) const {
    const int mode = (bits & 1 ? R_OK : 0) | (bits & 2 ? W_OK : 0) | (bits & 4 ? X_OK : 0);
    if (euidaccess(path_.c_str(), mode ? mode : F_OK) == 0)
        return true;
    const int err = errno;
    if (err == EIO || err == ENOENT || err == EACCES || err == ETIMEDOUT)
        return false;
    CO_THROW_ERRNO(err, "%s", path_.c_str());
}

std::string CoFilePath::extension() const {
    const size_t dot = extensionDot(path_);
    if (dot == std::string::npos)
        return "";
    size_t begin, end;
    lastComponentBounds(path_, &begin, &end);
    return path_.substr(dot + 1, end - dot - 1);
}

std::string CoFilePath::directory() const {
    size_t begin, end;
    lastComponentBounds(path_, &begin, &end);
    if (begin == 0)
        return path_.empty() || path_[0] != kSeparator ? "." : "/";
    size_t stop = begin - 1;
    while (stop > 0 && path_[stop - 1] == kSeparator)
        --stop;
    return stop == 0 ? "/" : path_.substr(0, stop);
}

std::string CoFilePath::lastComponent() const {
    size_t begin, end;
    lastComponentBounds(path_, &begin, &end);
    return path_.substr(begin, end - begin);
}

CoFilePath CoFilePath::currentDirectory() {
    std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
    if (!cwd) {
        const int err = errno;
        CO_THROW_ERRNO(err, "current directory");
    }
    return CoFilePath(cwd.get());
}

void CoFilePath::removeExtension() {
    const size_t dot = extensionDot(path_);
    if (dot == std::string::npos)
        return;
    size_t begin, end;
    lastComponentBounds(path_, &begin, &end);
    setPath(path_.substr(0, dot) + path_.substr(end));
}

void CoFilePath::replaceExtension(const char* extension) {
    if (!extension || !*extension)
        return;
    removeExtension();
    size_t begin, end;
    lastComponentBounds(path_, &begin, &end);
    const bool hasDot = (end > begin && path_[end - 1] == '.') || extension[0] == '.';
    setPath(path_.substr(0, end) + (hasDot ? "" : ".") + extension + path_.substr(end));
}

void CoFilePath::append(const std::string& component) {
    if (path_.empty()) {
        setPath(component);
        return;
    }
    const size_t start = component.find_first_not_of(kSeparator);
    std::string joined = path_;
    if (joined.back() != kSeparator)
        joined += kSeparator;
    setPath(joined + (start == std::string::npos ? "" : component.substr(start)));
}

void CoFilePath::convertSeparators() {
    std::string converted = path_;
    for (char& c : converted)
        if (c == '\\')
            c = kSeparator;
    setPath(converted);
}

void CoFilePath::expand() {
    std::string out;
    for (size_t i = 0; i < path_.size();) {
        const char c = path_[i];
        const bool home = c == '~' && (i == 0 || path_[i - 1] == kSeparator);
        if (!home && c != '$') {
            out += c;
            ++i;
            continue;
        }
        size_t end = path_.find(kSeparator, i + 1);
        if (end == std::string::npos)
            end = path_.size();
        const std::string name = path_.substr(i + 1, end - i - 1);
        if (name.size() > kMaxNameBytes)
            CO_THROW_ERRNO(ENAMETOOLONG, "Name too long in '%s'", path_.c_str());
        if (home) {
            out += homeOf(name);
        } else {
            const char* value = std::getenv(name.c_str());
            if (!value)
                CO_THROW_ERRNO(ENOENT, "Variable '%s' of '%s' is not set", name.c_str(), path_.c_str());
            out += value;
        }
        i = end;
    }
    setPath(normalise(out));
}

void CoFilePath::createFile(const Permissions& permissions, bool exclusive) {
    const int flags = O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_LARGEFILE | (exclusive ? O_EXCL : 0);
    const int fd = open(path_.c_str(), flags, toMode(permissions));
    if (fd < 0) {
        const int err = errno;
        CO_THROW_ERRNO(err, "%s", path_.c_str());
    }
    close(fd);
    kind_ = Kind::File;
}

void CoFilePath::linkTo(const CoFilePath& target, bool symbolic) {
    const int result = symbolic ? symlink(target.c_str(), path_.c_str()) : link(target.c_str(), path_.c_str());
    if (result != 0) {
        const int err = errno;
        CO_THROW_ERRNO(err, "%s", path_.c_str());
    }
    kind_ = Kind::Unknown;
}

void CoFilePath::changeMode(const Permissions& permissions) {
    if (chmod(path_.c_str(), toMode(permissions)) != 0) {
        const int err = errno;
        CO_THROW_ERRNO(err, "chmod %s", path_.c_str());
    }
}

void CoFilePath::removeDirectory() {
    if (rmdir(path_.c_str()) != 0) {
        const int err = errno;
        CO_THROW_ERRNO(err, "rmdir %s", path_.c_str());
    }
    kind_ = Kind::Unknown;
}

void CoFilePath::removeFile() {
    if (unlink(path_.c_str()) != 0) {
        const int err = errno;
        CO_THROW_ERRNO(err, "unlink %s", path_.c_str());
    }
    kind_ = Kind::Unknown;
}

void CoFilePath::makeDirectory(const Permissions& permissions, bool recursive) {
    if (recursive) {
        const CoFilePath parent(directory());
        if (parent.path() != path_ && !parent.exists())
            CoFilePath(parent).makeDirectory(permissions, true);
    }
    if (mkdir(path_.c_str(), toMode(permissions)) != 0) {
        const int err = errno;
        CO_THROW_ERRNO(err, "mkdir %s", path_.c_str());
    }
    kind_ = Kind::Directory;
}

void CoFilePath::renameTo(const CoFilePath& destination) {
    if (rename(path_.c_str(), destination.c_str()) != 0) {
        const int err = errno;
        CO_THROW_ERRNO(err, "%s", path_.c_str());
    }
    setPath(destination.path());
}

void CoFilePath::moveTo(const CoFilePath& destination) {
    if (rename(path_.c_str(), destination.c_str()) != 0) {
        const int err = errno;
        if (err != EXDEV)
            CO_THROW_ERRNO(err, "%s", path_.c_str());
        copyTo(destination);
        removeFile();
    }
    setPath(destination.path());
}

void CoFilePath::copyTo(const CoFilePath& destination) const {
    struct stat64 status;
    exists(&status);
    const char* target = destination.c_str();
    // Created with the source's mode, as a rename would keep it: a private
    // file must not become readable for a moment on the way.
    const mode_t mode = status.st_mode & 07777;
    int err = 0;
    bool emptied = false;  // the destination is ours to remove on failure
    const int fd = open(target, O_WRONLY | O_CREAT | O_CLOEXEC | O_LARGEFILE, mode);
    struct stat64 made;
    if (fd < 0 || fstat64(fd, &made) != 0)
        err = errno;
    else if (made.st_dev == status.st_dev && made.st_ino == status.st_ino)
        err = EINVAL;  // the source itself: emptying it would lose it
    else if (!(emptied = ftruncate64(fd, 0) == 0) || fchmod(fd, mode) != 0)
        err = errno;
    if (fd >= 0)
        close(fd);

    // One buffer carries the file piece by piece. A buffer of the whole file
    // would cost its size in memory (more than a 32-bit process has, for a
    // long clip) and a page fault for every page of it.
    const size_t page = CoDirectIO::pageSize();
    auto wholePages = [page](uint64_t bytes) { return (bytes + page - 1) / page * page; };
    const uint64_t length = static_cast<uint64_t>(status.st_size);
    const size_t bufferBytes = std::min(CoDirectIO::chunkSize(), kCopyBufferBytes);
    CoBuffer buffer(static_cast<size_t>(std::min<uint64_t>(wholePages(length), bufferBytes)), 0);
    uint64_t copied = 0;
    while (err == 0 && copied < length) {
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(wholePages(length - copied), buffer.capacity()));
        size_t got = 0;
        const int64_t offset = static_cast<int64_t>(copied);
        err = CoDirectIO::read(path_.c_str(), buffer.data(), wanted, &got, offset);
        if (err != 0 || got == 0)  // got 0: the file has shrunk since
            break;
        // Whole pages go out directly; the tail beyond the data is cut off below.
        err = CoDirectIO::write(target, buffer.data(), static_cast<size_t>(wholePages(got)), offset);
        copied += got;
    }
    if (err == 0 && truncate64(target, static_cast<off64_t>(copied)) != 0)
        err = errno;
    if (err != 0) {
        if (emptied)
            unlink(target);
        CO_THROW_ERRNO(err, "%s", path_.c_str());
    }
}

void CoFilePath::changeOwner(const char* user, const char* group) {
    passwd userRecord;
    std::vector<char> userBuffer;
    if (!CoUser::passwdByName(user, &userRecord, &userBuffer))
        CO_THROW_ERRNO(ENOENT, "Error while retrieve user '%s' information.", user);
    gid_t gid = static_cast<gid_t>(-1);
    if (group) {
        struct group groupRecord;
        std::vector<char> groupBuffer;
        if (!CoUser::groupByName(group, &groupRecord, &groupBuffer))
            CO_THROW_ERRNO(ENOENT, "Error while retrieve group '%s' information.", group);
        gid = groupRecord.gr_gid;
    }
    const int result =
        isSymbolicLink() ? lchown(path_.c_str(), userRecord.pw_uid, gid) : chown(path_.c_str(), userRecord.pw_uid, gid);
    if (result != 0) {
        const int err = errno;
        CO_THROW_ERRNO(err, "Error while changing ownership of '%s'", path_.c_str());
    }
}

bool CoFilePath::giveToRealUser() const {
    uid_t realUid, effectiveUid, savedUid;
    if (getresuid(&realUid, &effectiveUid, &savedUid) != 0) {
        CO_WARNING("Unable to retrieve effective and real user ID");
        return false;
    }
    if (realUid == effectiveUid || effectiveUid != 0)
        return true;
    int retries = gChownRetries.getValue();
    const int effective = static_cast<int>(effectiveUid);
    const int real = static_cast<int>(realUid);
    for (;;) {
        if (changeOwnerOf(path_.c_str(), realUid, static_cast<gid_t>(-1), isSymbolicLink()) == 0)
            return true;
        const int err = errno;
        if (err != EPERM || retries <= 0) {
            CO_WARNING("Unable to set the ownership from user %d to user %d for %s : %s.", effective, real,
                       path_.c_str(), std::strerror(err));
            return false;
        }
        CO_WARNING("Unable to set the ownership from user %d to user %d for link %s: Permission denied. Retrying.",
                   effective, real, path_.c_str());
        std::this_thread::sleep_for(std::chrono::seconds(1));
        --retries;
    }
}

void CoFilePath::setChownForTesting(ChownFunction chown) { gTestChown.store(chown); }

}  // namespace Corvane
