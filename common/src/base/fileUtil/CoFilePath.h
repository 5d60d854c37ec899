// Internal to corvane_base.
// A file-system path and what the platform needs to do with it: take it
// apart, expand "~" and "$VAR", ask what it names and whether it may be
// used, and create, link, move, re-own and remove what it names. Changes of
// the file system throw CoException with the system's error text and a
// detail naming the path; queries answer false instead. Moving across file
// systems copies through direct file I/O. A value type: one thread at a
// time per object.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>

struct stat64;  // by pointer only

namespace Corvane {

class CoFilePath {
public:
    enum class Kind { File = 0, Directory = 1, Unknown = 2 };

    // Bit sets for owner, group and others: 1 read, 2 write, 4 execute.
    struct Permissions {
        int owner;
        int group;
        int others;
    };

    static constexpr char kSeparator = '/';
    // Longest user or variable name after "~" or "$".
    static constexpr size_t kMaxNameBytes = 1024;

    CoFilePath() = default;
    explicit CoFilePath(std::string path) : path_(std::move(path)) {}
    virtual ~CoFilePath() = default;

    const std::string& path() const { return path_; }
    const char* c_str() const { return path_.c_str(); }
    void setPath(std::string path);

    static mode_t toMode(const Permissions& permissions);

    // --- Queries
    // With status, a failing stat throws instead of answering false.
    bool exists(struct stat64* status = nullptr) const;
    // Asks the file system while the kind is unknown; a path that is
    // neither a directory nor a regular file stays Unknown.
    Kind kind() const;
    bool isSymbolicLink() const;
    // bits as in Permissions. False for EIO, ENOENT, EACCES and ETIMEDOUT;
    // throws for any other failure.
    bool mayAccess(int bits) const;
    // The text after the last "." of the last component; empty for a
    // hidden name ("/a/.profile") or a trailing dot ("/a/b.").
    std::string extension() const;
    // "." for a bare name, "/" directly under the root; trailing separators
    // are ignored.
    std::string directory() const;
    std::string lastComponent() const;
    static CoFilePath currentDirectory();

    // --- Edits of the text
    void removeExtension();
    // Null or empty: no change. A missing "." is added.
    void replaceExtension(const char* extension);
    void append(const std::string& component);
    void convertSeparators();
    // Replaces "~" or "~user" at the start of a component by the home
    // directory and "$NAME" by the variable's value up to the next
    // separator, then folds ".", ".." and repeated separators. Throws for an
    // unknown user or an unset variable.
    void expand();

    // --- Changes of the file system
    void createFile(const Permissions& permissions, bool exclusive);
    // Makes this path a link to target.
    void linkTo(const CoFilePath& target, bool symbolic);
    void changeMode(const Permissions& permissions);
    void removeDirectory();
    void removeFile();
    // Recursive: missing parents are made first, with the same permissions.
    // An existing path fails like any other error.
    void makeDirectory(const Permissions& permissions, bool recursive);
    // This path becomes destination.
    void renameTo(const CoFilePath& destination);
    // As renameTo, copying across file systems; a failed copy leaves the
    // source and removes what it had written.
    void moveTo(const CoFilePath& destination);
    // Replaces destination by a copy of this file (its bytes and mode) made
    // through direct file I/O. On failure the partial copy is removed.
    void copyTo(const CoFilePath& destination) const;
    // group null: unchanged. A link is changed itself, not its target.
    void changeOwner(const char* user, const char* group = nullptr);
    // For a process running as root on behalf of another (real) user: makes
    // that user the owner, retrying XQ_CHOWN_NUM_RETRIES times (default 10)
    // a second apart while the change is refused. True when there was
    // nothing to do or the change was made; failures are warnings.
    bool giveToRealUser() const;

    // Test seam: replaces chown and lchown in giveToRealUser (null: the
    // system calls again).
    typedef int (*ChownFunction)(const char* path, uid_t owner, gid_t group, bool link);
    static void setChownForTesting(ChownFunction chown);

private:
    std::string path_;
    mutable Kind kind_ = Kind::Unknown;
};

}  // namespace Corvane
