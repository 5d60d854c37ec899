#include "AccountStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "CgiRequest.h"

namespace {

const char kAccountDirectory[] = "./account";

// Owns one open account file and its advisory lock.
class LockedFile {
public:
    LockedFile(const std::string& path, int flags, int lockType) : fd_(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {
        if (fd_ < 0)
            return;
        while (flock(fd_, lockType) != 0 && errno == EINTR) {
        }
    }
    ~LockedFile() {
        if (fd_ >= 0)
            ::close(fd_);  // releases the lock
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    int fd() const { return fd_; }

private:
    int fd_;
};

std::string accountPath() {
    struct stat st;
    if (stat(kAccountDirectory, &st) != 0 || !S_ISDIR(st.st_mode))
        throw std::string("Invalid account directory");
    return std::string(kAccountDirectory) + "/" + accountName(CgiRequest::remoteUserName()) + ".xml";
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string accountName(const std::string& remoteUser) {
    const size_t slash = remoteUser.find_last_of('\\');
    return slash == std::string::npos ? remoteUser : remoteUser.substr(slash + 1);
}

void loadUser(const CgiRequest&) {
    const std::string path = accountPath();
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        std::fputs("<response></response>\n", stdout);
        return;
    }
    // Non-blocking open: a FIFO in place of the file must not hang the request.
    LockedFile file(path, O_RDONLY | O_NONBLOCK, LOCK_SH);
    if (file.fd() < 0)
        throw std::string("Failed to open account for loading persistent user data");
    // The size is taken under the lock: a save may have run since the stat.
    if (fstat(file.fd(), &st) != 0)
        throw std::string("Failed to read persistent user data");
    std::string content(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < content.size()) {
        const ssize_t n = ::read(file.fd(), &content[got], content.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    if (got < content.size())
        throw std::string("Failed to read persistent user data");
    // The document ends at its first NUL, if it has one.
    content.resize(std::strlen(content.c_str()));
    std::fputs("<response>", stdout);
    std::fwrite(content.data(), 1, content.size(), stdout);
    std::fputs("</response>\n", stdout);
}

void saveUser(const CgiRequest& request) {
    const std::string path = accountPath();
    const std::string data = request.get("corvaneMetadata");
    if (data.empty())
        throw std::string("Specify corvaneMetadta when saving persistent user data");
    // Truncate only once the lock is held, so that a reader holding the
    // shared lock never sees the file shrink under it.
    LockedFile file(path, O_WRONLY | O_CREAT | O_NONBLOCK, LOCK_EX);
    if (file.fd() < 0)
        throw std::string("Failed to open account for saving persistent user data");
    if (ftruncate(file.fd(), 0) == 0)
        writeAll(file.fd(), data.data(), data.size());  // a failed write is not reported
    std::fputs("<response></response>\n", stdout);
}
