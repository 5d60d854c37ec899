// Internal to corvane_sim.
// Reads the stand-in server's tree file: one directive a line, building the
// node tree and the translation tables. The first bad line stops the load
// with a message that names the file, the line number and the line's text.
// Stateless.
#pragma once

#include <cstddef>
#include <string>

namespace CorvaneSim {

class SimTree;
struct SimTranslations;

class SimTreeFile {
public:
    // Larger files are refused rather than read into memory.
    static constexpr size_t kMaxFileBytes = 64u * 1024 * 1024;

    // Loads the file at path into tree and translations, which should be
    // fresh. False with *error set when the file can not be read or a line
    // is bad; what was read before the bad line stays in tree.
    static bool load(const std::string& path, SimTree* tree, SimTranslations* translations, std::string* error);
    // The same from text already in memory; name stands for the file in messages.
    static bool parse(const std::string& text, const std::string& name, SimTree* tree, SimTranslations* translations,
                      std::string* error);
};

}  // namespace CorvaneSim
