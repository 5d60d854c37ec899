#include "base/env/EnvVarRegistry.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cstring>
#include <ostream>

namespace Corvane {

namespace {

// Values are shown through a buffer of this size in find() and the dumps.
constexpr size_t kValueBufferSize = 128;

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

EnvVarRegistryImp& EnvVarRegistryImp::getInstance() {
    static EnvVarRegistryImp registry;
    return registry;
}

BaseRegEnvVar* EnvVarRegistryImp::getEnvVar(int index) const {
    assert(index < static_cast<int>(vars_.size()) && index >= 0);
    return vars_[static_cast<size_t>(index)];
}

std::string EnvVarRegistryImp::getFieldValueAsStr(int index, int field) const {
    const BaseRegEnvVar* var = getEnvVar(index);
    char buf[kValueBufferSize] = {0};
    switch (field) {
        case kFieldName:
            return var->getName();
        case kFieldValue:
            var->getValueAsStr(buf, sizeof buf);
            return buf;
        case kFieldDefault:
            var->getDefaultAsStr(buf, sizeof buf);
            return buf;
        case kFieldFile:
            return var->getSourceFile();
        default:
            assert(!"unknown field number");
            return std::string();
    }
}

std::vector<int> EnvVarRegistryImp::find(const std::string& pattern, int field, bool caseSensitive) const {
    std::vector<int> found;
    if (pattern.empty())
        return found;
    const std::string upperPattern = caseSensitive ? pattern : upper(pattern);
    for (int i = 0; i < count(); ++i) {
        const std::string text = getFieldValueAsStr(i, field);
        const bool match = caseSensitive ? text == pattern : upper(text).find(upperPattern) != std::string::npos;
        if (match)
            found.push_back(i);
    }
    return found;
}

void EnvVarRegistryImp::remove(BaseRegEnvVar* var) {
    auto it = std::find(vars_.begin(), vars_.end(), var);
    if (it != vars_.end())
        vars_.erase(it);
}

void EnvVarRegistryImp::dump(std::ostream& out) const {
    for (const BaseRegEnvVar* var : vars_) {
        out << "\n";
        out << "file : " << var->getSourceFile() << "\n";
        out << "name : " << var->getName() << "\n";
        out << "value : ";
        var->print(out);
        out << "\n";
    }
}

void EnvVarRegistryImp::dumpHtml(std::ostream& out) const {
    out << "<html>\n<body>\n<table border=1>\n<tr>\n";
    out << "<th colspan=3>Environnement Variables</th>\n";
    out << "</tr>\n<tr>\n";
    for (const char* heading : {"Name", "Value", "File"})
        out << "<td align=center><font size=+1>" << heading << "</font></td>";
    out << "\n</tr>\n";
    for (const BaseRegEnvVar* var : vars_) {
        char value[kValueBufferSize] = "(null)";
        var->getValueAsStr(value, sizeof value);
        out << "<tr>\n";
        out << "<td align=left>" << var->getName() << "</td>"
            << "<td align=center>" << value << "</td>"
            << "<td align=left>" << var->getSourceFile() << "</td>\n";
        out << "</tr>\n";
    }
    out << "</table>\n</body>\n</html>";
}

}  // namespace Corvane
