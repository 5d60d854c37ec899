// The main of a fuzz target in the normal build: feeds it every file of its
// seed corpus as it stands, cut short at every length, changed at a few
// bytes, and as random text of its length (by a fixed seed, so a failure
// repeats). A broken invariant traps and the sanitizers report a bad read,
// so the parsers meet malformed input in every test run, not only while
// fuzzing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// A copy of exactly size bytes, so that a read past the end is one past
// an allocation.
void feed(const std::string& bytes) {
    const std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(copy.data(), copy.size());
}

}  // namespace

// A missing directory stops the program with the file system's reason.
int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    // The characters the wire formats care about, more often than chance.
    static const char kSpecial[] = {' ', '\n', '\\', '"', '0', '1', '9', '-', ',', '=', '[', '\0'};
    std::mt19937 rng(20240613);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const std::filesystem::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::string seed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (size_t n = 0; n <= seed.size(); ++n)
            feed(seed.substr(0, n));
        // Even rounds change a few bytes and some cut the rest off; odd ones
        // are new text no longer than the seed.
        for (int round = 0; round < 3000 && !seed.empty(); ++round) {
            std::string text = seed;
            if (round % 2 == 0) {
                for (int i = 0; i <= round % 3; ++i)
                    text[static_cast<size_t>(rng()) % text.size()] = static_cast<char>(byte(rng));
                if (round % 4 == 0)
                    text.resize(static_cast<size_t>(rng()) % (text.size() + 1));
            } else {
                text.resize(static_cast<size_t>(rng()) % (seed.size() + 1));
                for (char& c : text)
                    c = byte(rng) % 3 ? kSpecial[byte(rng) % sizeof kSpecial] : static_cast<char>(byte(rng));
            }
            feed(text);
        }
    }
    std::printf("%zu corpus files replayed\n", files.size());
    return files.empty() ? 1 : 0;
}
