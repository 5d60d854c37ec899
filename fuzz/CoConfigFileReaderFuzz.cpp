// Any bytes as a sectioned configuration file, read alone and merged into
// itself, then looked up every typed way. What the reader writes back must
// read back to the same text: a saved file never drifts.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzQuiet.h"
#include "base/fileUtil/CoConfigFileReader.h"

using Corvane::CoConfigFileReader;

namespace {

// A memory file, reached by name through /proc like any other file.
class MemoryFile {
public:
    explicit MemoryFile(const char* label) : fd_(memfd_create(label, 0)) {
        if (fd_ < 0)
            __builtin_trap();
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    const char* path() const { return path_.c_str(); }
    void fill(const uint8_t* data, size_t size) const {
        if (ftruncate(fd_, 0) != 0 || pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size))
            __builtin_trap();
    }
    std::string contents() const {
        std::string text(static_cast<size_t>(lseek(fd_, 0, SEEK_END)), '\0');
        if (!text.empty() && pread(fd_, &text[0], text.size(), 0) != static_cast<ssize_t>(text.size()))
            __builtin_trap();
        return text;
    }

private:
    int fd_;
    std::string path_;
};

void lookUp(const CoConfigFileReader& reader, const char* section, const char* name) {
    std::string s;
    int i = 0;
    unsigned u = 0;
    float f = 0;
    bool b = false;
    reader.getString(section, name, s, nullptr);
    reader.getInt(section, name, i, 0);
    reader.getUnsigned(section, name, u, 0);
    reader.getFloat(section, name, f, 0);
    reader.getBool(section, name, b, false);
    (void)reader.hasVariable(section, name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const MemoryFile input("config-in"), once("config-once"), twice("config-twice");
    input.fill(data, size);

    CoConfigFileReader reader(input.path());
    if (reader.status() != 0)
        __builtin_trap();
    if (reader.read(input.path(), CoConfigFileReader::kMerge | CoConfigFileReader::kKeepExistingValues) != 0)
        __builtin_trap();
    for (const char* section : {"", "S", "Local"})
        for (const char* name : {"", "a", "key"})
            lookUp(reader, section, name);

    if (reader.write(once.path()) != 0)
        __builtin_trap();
    CoConfigFileReader again(once.path());
    if (again.status() != 0 || again.write(twice.path()) != 0)
        __builtin_trap();
    if (once.contents() != twice.contents())
        __builtin_trap();
    return 0;
}
