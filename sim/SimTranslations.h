// Internal to corvane_sim.
// The path-translation tables the stand-in server reports and applies:
// translation groups, host translations and OS-type translations, as given
// in the tree file. A plain value; not thread-safe.
#pragma once

#include <string>
#include <vector>

namespace CorvaneSim {

struct SimTranslationGroup {
    std::string name;
    int number = 0;
    std::vector<std::string> members;
};

// A path under src on one side is the same file as the path under dst on
// the other. For host translations the sides are host names; for OS-type
// translations they are OS type names ("Linux", "WindowsNT", ...).
struct SimPathTranslation {
    std::string src;
    std::string srcPath;
    std::string dst;
    std::string dstPath;
};

struct SimTranslations {
    std::vector<SimTranslationGroup> groups;
    std::vector<SimPathTranslation> hosts;
    std::vector<SimPathTranslation> osTypes;

    // The first host translation from srcHost to dstHost whose source path
    // starts path wins; failing that, the first OS-type translation between
    // the two codes' type names. A path nothing matches comes back as it is.
    std::string translate(const std::string& path, const std::string& srcHost, int srcCode, const std::string& dstHost,
                          int dstCode) const;
};

}  // namespace CorvaneSim
