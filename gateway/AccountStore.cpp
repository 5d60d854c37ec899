#include "AccountStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "CgiRequest.h"
#include "CoXmlWriter.h"

namespace {

const char kAccountDirectory[] = "./account";
// A user's document is theirs: other users of the host never read it.
constexpr mode_t kAccountFileMode = 0640;
const char kLoadFailure[] = "Failed to open account for loading persistent user data";
const char kSaveFailure[] = "Failed to open account for saving persistent user data";
// Short enough that a lock freed meanwhile is taken almost at once.
constexpr int kMaxLockBackoffMs = 50;

// Owns one open account file and its advisory lock. The lock is waited for
// no longer than a server operation may take: a holder that is stuck must
// not hang the web request. fd() is -1 when the file could not be opened or
// locked in time.
class LockedFile {
public:
    LockedFile(const std::string& path, int flags, int lockType, int32_t limitMs)
        : fd_(::open(path.c_str(), flags | O_CLOEXEC, kAccountFileMode)) {
        if (fd_ >= 0 && !lock(lockType, limitMs)) {
            ::close(fd_);
            fd_ = -1;
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
    bool lock(int lockType, int32_t limitMs) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        int backoffMs = 1;
        while (flock(fd_, lockType | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                return true;  // a file system without locks: go on unlocked
            const Clock::time_point now = Clock::now();
            if (now >= deadline)
                return false;
            std::this_thread::sleep_for(
                std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(backoffMs)));
            backoffMs = std::min(backoffMs * 2, kMaxLockBackoffMs);
        }
        return true;
    }

    int fd_;
};

// Room for ".xml" and the temporary suffix within a file name's 255 bytes.
constexpr size_t kMaxFileNameBytes = 200;

// The web user's name cut after its last backslash (domain\user -> user).
std::string domainStripped(const std::string& user) {
    const size_t slash = user.find_last_of('\\');
    return slash == std::string::npos ? user : user.substr(slash + 1);
}

// The user's name as a file name of the account directory: every byte
// outside A-Z a-z 0-9 . _ - @, and a leading ".", written as %XX, so that
// no two names share a file and none names another directory.
std::string fileNameOf(const std::string& user) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < user.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(user[i]);
        if (std::isalnum(c) || c == '_' || c == '-' || c == '@' || (c == '.' && i > 0)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

std::string accountPath(const ModeContext& context, const char* refusal) {
    struct stat st;
    if (stat(kAccountDirectory, &st) != 0 || !S_ISDIR(st.st_mode))
        throw std::string("Invalid account directory");
    const std::string& user = context.request.remoteUserName();
    const std::string name = fileNameOf(context.stripDomain ? domainStripped(user) : user);
    if (name.empty() || name.size() > kMaxFileNameBytes)
        throw std::string(refusal);
    return std::string(kAccountDirectory) + "/" + name + ".xml";
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

std::string getUser(ModeContext& context) {
    return CoXmlWriter::escape(domainStripped(context.request.remoteUserName()));
}

std::string loadUser(ModeContext& context) {
    const std::string path = accountPath(context, kLoadFailure);
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return std::string();
    // Non-blocking open: a FIFO in place of the file must not hang the request.
    LockedFile file(path, O_RDONLY | O_NONBLOCK, LOCK_SH, context.browseLimitMs);
    if (file.fd() < 0)
        throw std::string(kLoadFailure);
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
    return content;
}

std::string saveUser(ModeContext& context) {
    const std::string path = accountPath(context, kSaveFailure);
    const std::string data = context.request.get("corvaneMetadata");
    if (data.empty())
        throw std::string("Specify corvaneMetadta when saving persistent user data");
    // Truncate only once the lock is held, so that a reader holding the
    // shared lock never sees the file shrink under it.
    LockedFile file(path, O_WRONLY | O_CREAT | O_NONBLOCK, LOCK_EX, context.browseLimitMs);
    if (file.fd() < 0)
        throw std::string(kSaveFailure);
    if (ftruncate(file.fd(), 0) == 0)
        writeAll(file.fd(), data.data(), data.size());  // a failed write is not reported
    return std::string();
}
