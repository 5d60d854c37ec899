#include "sim/SimTranslations.h"

#include "client/api/CorvaneOSType.h"

namespace CorvaneSim {

namespace {

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool applyFirst(const std::vector<SimPathTranslation>& table, const std::string& src, const std::string& dst,
                const std::string& path, std::string* out) {
    for (const SimPathTranslation& t : table) {
        if (t.src == src && t.dst == dst && startsWith(path, t.srcPath)) {
            *out = t.dstPath + path.substr(t.srcPath.size());
            return true;
        }
    }
    return false;
}

}  // namespace

std::string SimTranslations::translate(const std::string& path, const std::string& srcHost, int srcCode,
                                       const std::string& dstHost, int dstCode) const {
    std::string out;
    if (applyFirst(hosts, srcHost, dstHost, path, &out))
        return out;
    if (applyFirst(osTypes, CorvaneOSType::toName(srcCode), CorvaneOSType::toName(dstCode), path, &out))
        return out;
    return path;
}

}  // namespace CorvaneSim
