#include "base/fileUtil/CoConfigFileReader.h"

#include <strings.h>

#include <cassert>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "base/loggerBase/CoMsg.h"

namespace Corvane {

namespace {

// Longer lines are cut; the rest is read as the following line.
constexpr size_t kMaxLineLength = 2047;
constexpr size_t kNumberTextSize = 32;

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

void trimRight(std::string& text) {
    size_t end = text.size();
    while (end > 0 && isBlank(text[end - 1]))
        --end;
    text.erase(end);
}

size_t firstNonBlank(const std::string& text) {
    size_t pos = 0;
    while (pos < text.size() && isBlank(text[pos]))
        ++pos;
    return pos;
}

bool isTerminator(int c) { return c == '\n' || c == '\r'; }

// Reads one line without its terminator. A CR and an LF each end a line.
// haveLine is false once the file is exhausted; returns 0 or the errno of a
// read error.
int readLine(FILE* file, std::string& line, bool& haveLine) {
    line.clear();
    haveLine = false;
    while (line.size() < kMaxLineLength) {
        const int c = std::getc(file);
        if (c == EOF) {
            if (std::ferror(file))
                return errno ? errno : EIO;
            haveLine = !line.empty();  // a last line without terminator
            return 0;
        }
        if (isTerminator(c)) {
            haveLine = true;
            return 0;
        }
        line.push_back(static_cast<char>(c));
    }
    // A line of exactly the maximum length keeps its own terminator.
    const int c = std::getc(file);
    if (c == EOF && std::ferror(file))
        return errno ? errno : EIO;
    if (c != EOF && !isTerminator(c))
        std::ungetc(c, file);
    haveLine = true;
    return 0;
}

bool parseBool(const std::string& value) {
    if (value == "true")
        return true;
    for (const char* yes : {"1", "yes", "on", "true"})
        if (strcasecmp(value.c_str(), yes) == 0)
            return true;
    return false;
}

}  // namespace

CoConfigFileReader::CoConfigFileReader(const char* filename) { status_ = read(filename, 0); }

CoConfigFileReader::~CoConfigFileReader() = default;

void CoConfigFileReader::clear() {
    sectionOrder_.clear();
    sections_.clear();
    trailingComment_.clear();
}

CoConfigFileReader::Section& CoConfigFileReader::findOrAddSection(const std::string& name) {
    auto found = sections_.find(name);
    if (found != sections_.end())
        return found->second;
    Section& section = sections_[name];
    section.name = name;
    sectionOrder_.push_back(&section);
    return section;
}

CoConfigFileReader::Variable& CoConfigFileReader::findOrAddVariable(Section& section, const std::string& name) {
    auto found = section.variables.find(name);
    if (found != section.variables.end())
        return found->second;
    Variable& variable = section.variables[name];
    variable.name = name;
    section.variableOrder.push_back(&variable);
    return variable;
}

int CoConfigFileReader::read(const char* filename, int flags) {
    if (!(flags & kMerge))
        clear();
    if (!filename || !filename[0])
        return 0;
    FILE* file = std::fopen(filename, "re");
    if (!file)
        return errno;

    std::string pending;  // comment lines waiting for the next item
    Section* current = nullptr;
    std::string line;
    int lineNumber = 0;
    int result = 0;
    for (;;) {
        bool haveLine = false;
        result = readLine(file, line, haveLine);
        if (result != 0 || !haveLine)
            break;
        ++lineNumber;
        parseLine(line, lineNumber, filename, flags, pending, current);
    }
    std::fclose(file);
    if (result == 0)
        trailingComment_ = pending;
    return result;
}

void CoConfigFileReader::parseLine(std::string& line, int lineNumber, const char* filename, int flags,
                                   std::string& pending, Section*& current) {
    trimRight(line);
    const size_t start = firstNonBlank(line);
    if (start == line.size() || line[start] == '#' || line[start] == ';') {
        pending.append(line, start, std::string::npos);
        pending += '\n';
        return;
    }
    if (line[start] == '[') {
        // The last character is dropped whatever it is: "[Local" names "Loca".
        const size_t length = line.size() - start;
        Section& section = findOrAddSection(length >= 2 ? line.substr(start + 1, length - 2) : std::string());
        if (!pending.empty()) {
            section.comment.swap(pending);
            pending.clear();
        }
        current = &section;
        return;
    }
    if (!current) {
        CO_WARNING("Invalid syntax: Not in section. Ignoring line %d of '%s'", lineNumber, filename);
        return;
    }
    const size_t equals = line.find('=', start);
    if (equals == std::string::npos) {
        CO_WARNING("Invalid syntax: No variable value. Ignoring line %d of '%s'", lineNumber, filename);
        return;
    }
    std::string name = line.substr(start, equals - start);
    trimRight(name);
    if (name.empty()) {
        CO_WARNING("Invalid syntax: No variable name. Ignoring line %d of '%s'", lineNumber, filename);
        return;
    }
    if ((flags & kKeepExistingValues) && current->variables.count(name) != 0)
        return;  // the pending comment waits for the next item
    Variable& variable = findOrAddVariable(*current, name);
    std::string value = line.substr(equals + 1);
    variable.value = value.substr(firstNonBlank(value));
    if (!pending.empty()) {
        variable.comment.swap(pending);
        pending.clear();
    }
}

int CoConfigFileReader::write(const char* filename) const {
    assert(filename && filename[0] && "filename && filename[ 0 ]");
    FILE* file = std::fopen(filename, "we");
    if (!file)
        return errno;
    auto put = [file](const std::string& text) {
        return std::fwrite(text.data(), 1, text.size(), file) == text.size();
    };
    bool ok = true;
    for (const Section* section : sectionOrder_) {
        ok = put(section->comment) && put("[" + section->name + "]\n");
        for (size_t i = 0; ok && i < section->variableOrder.size(); ++i) {
            const Variable* variable = section->variableOrder[i];
            ok = put(variable->comment) && put(variable->name + "=" + variable->value + "\n");
        }
        if (!ok)
            break;
    }
    ok = ok && put(trailingComment_) && std::fflush(file) == 0;
    const int err = ok ? 0 : (errno ? errno : EIO);
    if (std::fclose(file) != 0 && ok)
        return errno;
    return err;
}

const CoConfigFileReader::Variable* CoConfigFileReader::findVariable(const char* section, const char* name) const {
    assert(section && name && "section && name");
    auto foundSection = sections_.find(section);
    if (foundSection == sections_.end())
        return nullptr;
    auto found = foundSection->second.variables.find(name);
    return found == foundSection->second.variables.end() ? nullptr : &found->second;
}

bool CoConfigFileReader::hasVariable(const char* section, const char* name) const {
    return findVariable(section, name) != nullptr;
}

bool CoConfigFileReader::getString(const char* section, const char* name, std::string& out, const char* def) const {
    if (const Variable* variable = findVariable(section, name)) {
        out = variable->value;
        return true;
    }
    out = def ? def : "";
    return false;
}

std::string CoConfigFileReader::getString(const char* section, const char* name, const char* def) const {
    std::string out;
    getString(section, name, out, def);
    return out;
}

bool CoConfigFileReader::getInt(const char* section, const char* name, int& out, int def) const {
    const Variable* variable = findVariable(section, name);
    if (!variable) {
        out = def;
        return false;
    }
    // Clamped so that a 64-bit long gives what a 32-bit one would.
    const long value = std::strtol(variable->value.c_str(), nullptr, 10);
    out = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
    return true;
}

int CoConfigFileReader::getInt(const char* section, const char* name, int def) const {
    int out = def;
    getInt(section, name, out, def);
    return out;
}

bool CoConfigFileReader::getUnsigned(const char* section, const char* name, unsigned& out, unsigned def) const {
    const Variable* variable = findVariable(section, name);
    unsigned value = 0;
    if (variable && std::sscanf(variable->value.c_str(), "%u", &value) == 1) {
        out = value;
        return true;
    }
    out = def;
    return false;
}

bool CoConfigFileReader::getFloat(const char* section, const char* name, float& out, float def) const {
    const Variable* variable = findVariable(section, name);
    if (!variable) {
        out = def;
        return false;
    }
    out = static_cast<float>(std::strtod(variable->value.c_str(), nullptr));
    return true;
}

float CoConfigFileReader::getFloat(const char* section, const char* name, float def) const {
    float out = def;
    getFloat(section, name, out, def);
    return out;
}

bool CoConfigFileReader::getBool(const char* section, const char* name, bool& out, bool def) const {
    const Variable* variable = findVariable(section, name);
    if (!variable) {
        out = def;
        return false;
    }
    out = parseBool(variable->value);
    return true;
}

bool CoConfigFileReader::getBool(const char* section, const char* name, bool def) const {
    bool out = def;
    getBool(section, name, out, def);
    return out;
}

void CoConfigFileReader::setString(const char* section, const char* name, const char* value, const char* comment) {
    assert(section && name && "section && name");
    Variable& variable = findOrAddVariable(findOrAddSection(section), name);
    variable.value = value ? value : "";
    if (comment)
        variable.comment = comment;
}

void CoConfigFileReader::setInt(const char* section, const char* name, int value, const char* comment) {
    char text[kNumberTextSize];
    std::snprintf(text, sizeof text, "%d", value);
    setString(section, name, text, comment);
}

void CoConfigFileReader::setBool(const char* section, const char* name, bool value, const char* comment) {
    char text[kNumberTextSize];
    std::snprintf(text, sizeof text, "%d", value ? 1 : 0);
    setString(section, name, text, comment);
}

void CoConfigFileReader::setFloat(const char* section, const char* name, float value, const char* comment) {
    char text[kNumberTextSize];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(value));
    setString(section, name, text, comment);
}

}  // namespace Corvane
