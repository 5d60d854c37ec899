// Internal to corvane_sim.
// The directory PullFile and PushFile work in: a client's path names a file
// inside it, and nothing it names may lead out of it, whether by "..", by
// an absolute path or through a symbolic link. Holds the directory open;
// safe from any thread (each call works on descriptors of its own).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

namespace CorvaneSim {

class SimFileDir {
public:
    // An empty dir refuses every path. Throws Corvane::CoException when dir
    // can not be opened as a directory.
    explicit SimFileDir(const std::string& dir);
    ~SimFileDir();
    SimFileDir(const SimFileDir&) = delete;
    SimFileDir& operator=(const SimFileDir&) = delete;

    // Opens the regular file at path for reading: its descriptor (the
    // caller closes it) and size, or -1 with *error set.
    int openForReading(const std::string& path, int64_t* size, std::string* error) const;

    // A file being written to path: bytes go to a hidden file beside it,
    // which commit() moves into place and a destruction without commit()
    // removes, so that a transfer cut short leaves the old file whole.
    class Upload {
    public:
        ~Upload();
        Upload(const Upload&) = delete;
        Upload& operator=(const Upload&) = delete;
        int fd() const { return fd_; }
        bool commit(std::string* error);

    private:
        friend class SimFileDir;
        Upload() = default;
        int dirFd_ = -1;  // the directory the file goes in; owned
        int fd_ = -1;
        std::string temp_;
        std::string name_;
    };
    // Null with *error set when path is refused or can not be written.
    std::unique_ptr<Upload> startUpload(const std::string& path, std::string* error) const;

private:
    // The relative path of a client's one, or false with *error set.
    bool relative(const std::string& path, std::string* rel, std::string* error) const;
    // Opens rel beneath the directory, following no link out of it.
    int openBeneath(const std::string& rel, int flags, mode_t mode) const;

    std::string dir_;
    int dirFd_ = -1;
};

}  // namespace CorvaneSim
