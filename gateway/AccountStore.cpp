#include "AccountStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "RequestLimits.h"
#include "base/fileUtil/CoFileDescriptor.h"

namespace {

const char kAccountDirectory[] = "./account";
// A user's document is theirs: other users of the host never read it.
constexpr mode_t kAccountFileMode = 0640;
const char kLoadFailure[] = "Failed to open account for loading persistent user data";
const char kSaveFailure[] = "Failed to open account for saving persistent user data";
const char kWriteFailure[] = "Failed to write persistent user data";
// Short enough that a lock freed meanwhile is taken almost at once.
constexpr int kMaxLockBackoffMs = 50;

enum class Lock { Held, Unsupported, Busy };

// Takes an exclusive advisory lock on fd, waiting no longer than limitMs:
// a holder that is stuck must not hang the web request.
Lock lockWithin(int fd, int32_t limitMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    int backoffMs = 1;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK)  // LOCK_NB: no wait for a signal to interrupt
            return Lock::Unsupported;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return Lock::Busy;
        std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(backoffMs)));
        backoffMs = std::min(backoffMs * 2, kMaxLockBackoffMs);
    }
    return Lock::Held;
}

// Room for ".xml" and the temporary suffix within a file name's 255 bytes.
constexpr size_t kMaxFileNameBytes = 200;


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

// The user's files without their suffix: ./account/<user>. The document
// adds ".xml", the lock ".lock", a save's new document ".xml.tmp" (or
// ".xml.<pid>-<n>.tmp"): no file of one kind can be another's of a
// different kind, since each kind ends in its own suffix.
std::string accountBase(const std::string& user, bool stripDomain, const char* refusal) {
    struct stat st;
    if (stat(kAccountDirectory, &st) != 0 || !S_ISDIR(st.st_mode))
        throw std::string("Invalid account directory");
    const std::string name = fileNameOf(stripDomain ? AccountStore::domainStripped(user) : user);
    if (name.empty() || name.size() > kMaxFileNameBytes)
        throw std::string(refusal);
    return std::string(kAccountDirectory) + "/" + name;
}

// The new document's file, made empty. Under the user's lock it has a
// fixed name, so that one left by a killed save is simply reused; a file
// system without locks gets a name of its own per save.
int openNewDocument(const std::string& base, bool locked, std::string* path) {
    constexpr int kFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    if (locked) {
        *path = base + ".xml.tmp";
        return ::open(path->c_str(), kFlags | O_TRUNC, kAccountFileMode);
    }
    static std::atomic<unsigned> serial{0};
    *path = base + ".xml." + std::to_string(::getpid()) + "-" + std::to_string(serial.fetch_add(1)) + ".tmp";
    return ::open(path->c_str(), kFlags | O_EXCL, kAccountFileMode);
}

// Makes the renames in the account directory survive a crash.
bool syncDirectory() {
    Corvane::CoFileDescriptor dir(::open(kAccountDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.valid() && fsync(dir.get()) == 0 && dir.closeNow();
}

// Writes data as the new document at path's place; false, with the old
// document left as it was, when any step fails.
bool replaceDocument(const std::string& base, const std::string& path, bool locked, const std::string& data) {
    std::string newPath;
    Corvane::CoFileDescriptor file(openNewDocument(base, locked, &newPath));
    if (!file.valid())
        return false;
    const bool written = Corvane::writeAll(file.get(), data.data(), data.size()) && fsync(file.get()) == 0 &&
                         file.closeNow() && ::rename(newPath.c_str(), path.c_str()) == 0;
    if (!written) {
        ::unlink(newPath.c_str());
        return false;
    }
    return syncDirectory();
}

}  // namespace

std::string AccountStore::domainStripped(const std::string& user) {
    const size_t slash = user.find_last_of('\\');
    return slash == std::string::npos ? user : user.substr(slash + 1);
}

AccountStore::AccountStore(const std::string& user, bool stripDomain) : user_(user), stripDomain_(stripDomain) {}

std::string AccountStore::load(const RequestLimits& limits) const {
    const std::string path = accountBase(user_, stripDomain_, kLoadFailure) + ".xml";
    // Non-blocking open: a FIFO in place of the file must not hang the
    // request. A link is never followed, dangling or not: whoever can write
    // the directory must not make a user's document some other file. A
    // save replaces the file, never rewrites it: what this descriptor reads
    // is one whole document.
    Corvane::CoFileDescriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const int err = errno;
    if (!file.valid()) {
        if (err == ENOENT)
            return std::string();  // never saved
        throw std::string(kLoadFailure);
    }
    struct stat st;
    if (fstat(file.get(), &st) != 0)
        throw std::string("Failed to read persistent user data");
    limits.checkResponseSize(static_cast<size_t>(st.st_size));
    std::string content(static_cast<size_t>(st.st_size), '\0');
    if (!Corvane::readAll(file.get(), &content[0], content.size()))
        throw std::string("Failed to read persistent user data");
    // The document ends at its first NUL, if it has one.
    content.resize(std::strlen(content.c_str()));
    return content;
}

void AccountStore::save(const std::string& data, int32_t lockWaitMs) const {
    const std::string base = accountBase(user_, stripDomain_, kSaveFailure);
    const std::string path = base + ".xml";
    if (data.empty())
        throw std::string("Specify corvaneMetadta when saving persistent user data");
    // Only a document is replaced: not a directory, a FIFO or a link that
    // someone put in its place.
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw std::string(kSaveFailure);
    Corvane::CoFileDescriptor lockFile(
        ::open((base + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kAccountFileMode));
    if (!lockFile.valid())
        throw std::string(kSaveFailure);
    const Lock lock = lockWithin(lockFile.get(), lockWaitMs);
    if (lock == Lock::Busy)
        throw std::string(kSaveFailure);
    if (!replaceDocument(base, path, lock == Lock::Held, data))
        throw std::string(kWriteFailure);
}
