// Internal to corvane_base.
// A path with an open standard-I/O stream: reads a whole file into a
// string, and reserves disk space for a file before it is written, by the
// method the caller chooses where the file's file system allows it. Owns
// the stream and closes it on destruction. One thread at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/fileUtil/CoFilePath.h"

namespace Corvane {

class CoFileIO : public CoFilePath {
public:
    // A reservation method and the file system it applies to, detected on
    // first use.
    class Preallocator {
    public:
        enum class FileSystem { Unknown = -1, Generic = 0, XFS = 1, HFS = 2 };
        enum class Method { Invalid = -1, None = 0, FAllocate = 1, Reserve = 2, F_Preallocate = 3 };

        explicit Preallocator(Method method) : method_(method) {}

        Method method() const { return method_; }
        FileSystem fileSystem() const { return fileSystem_; }
        void setFileSystem(FileSystem fileSystem) { fileSystem_ = fileSystem; }

        static const char* name(FileSystem fileSystem);
        static const char* name(Method method);
        // Case does not matter; no match is warned about and gives
        // Unknown or Invalid.
        static FileSystem fileSystemFromName(const char* name);
        static Method methodFromName(const char* name);

        // Of an open stream; Unknown (with an error posted) when it can not
        // be told.
        static FileSystem detect(FILE* stream);
        // Of a path; one that does not exist yet is looked for in its
        // directory, and so on up.
        static FileSystem detect(const CoFilePath& path);

    private:
        Method method_;
        FileSystem fileSystem_ = FileSystem::Unknown;
    };

    CoFileIO() = default;
    explicit CoFileIO(std::string path) : CoFilePath(std::move(path)) {}
    ~CoFileIO() override;
    CoFileIO(const CoFileIO&) = delete;
    CoFileIO& operator=(const CoFileIO&) = delete;

    // fopen modes. Closes any open stream first; throws on failure.
    void open(const char* mode);
    void close();
    bool isOpen() const { return stream_ != nullptr; }
    FILE* stream() const { return stream_; }
    // From the start of the file; throws on failure.
    void seek(uint64_t offset);

    std::string readAll();

    // Reserves length bytes from offset, opening the file with "w+" (which
    // empties it) when no stream is open, and detecting the file system
    // into preallocator when it is not known yet. Throws when the method
    // does not apply to the file system or the reservation fails.
    void preallocate(uint64_t offset, uint64_t length, Preallocator& preallocator);

private:
    FILE* stream_ = nullptr;
};

}  // namespace Corvane
