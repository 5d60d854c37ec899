// Internal to corvane_base.
// Reader and writer of small sectioned text files ("[section]" headers and
// "name=value" lines). Answers typed look-ups, lets values change, and writes
// the content back with the comments and blank lines of the file kept next to
// the items they preceded, in the order the items first appeared.
// Owns its sections and variables. Not thread-safe: the owner serialises use.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace Corvane {

class CoConfigFileReader {
public:
    // read() flags.
    static constexpr int kMerge = 1;               // keep the current content and merge the file into it
    static constexpr int kKeepExistingValues = 2;  // a variable already present keeps its value

    // Reads filename (may be null) as read(filename, 0) would; status() gives the result.
    explicit CoConfigFileReader(const char* filename = nullptr);
    ~CoConfigFileReader();
    CoConfigFileReader(const CoConfigFileReader&) = delete;
    CoConfigFileReader& operator=(const CoConfigFileReader&) = delete;

    // Result of the read made by the constructor: 0 or an errno value.
    int status() const { return status_; }

    // 0 on success (also for a null or empty name), otherwise the errno of the
    // failed open or read; what was parsed before a read error stays.
    // Syntax errors are warned about and the line skipped; they never fail.
    int read(const char* filename, int flags = 0);
    // 0 or the errno value of the failed open or write.
    int write(const char* filename) const;

    // True when the variable exists; otherwise out receives def ("" for null).
    bool getString(const char* section, const char* name, std::string& out, const char* def) const;
    std::string getString(const char* section, const char* name, const char* def) const;

    // strtol in base 10 without validation ("abc" gives 0); def when absent.
    bool getInt(const char* section, const char* name, int& out, int def) const;
    int getInt(const char* section, const char* name, int def) const;

    // True only when the variable exists and "%u" converts it; else out = def.
    bool getUnsigned(const char* section, const char* name, unsigned& out, unsigned def) const;

    // strtod without validation; def when absent.
    bool getFloat(const char* section, const char* name, float& out, float def) const;
    float getFloat(const char* section, const char* name, float def) const;

    // "1", "yes", "on", "true" in any case are true, everything else false;
    // def when absent.
    bool getBool(const char* section, const char* name, bool& out, bool def) const;
    bool getBool(const char* section, const char* name, bool def) const;

    bool hasVariable(const char* section, const char* name) const;

    // Creates the section and the variable when absent. A non-null comment
    // replaces the variable's comment; it is written as given, so it should be
    // whole lines, each ending in "\n".
    void setString(const char* section, const char* name, const char* value, const char* comment = nullptr);
    void setInt(const char* section, const char* name, int value, const char* comment = nullptr);
    void setBool(const char* section, const char* name, bool value, const char* comment = nullptr);
    void setFloat(const char* section, const char* name, float value, const char* comment = nullptr);

private:
    struct Variable {
        std::string comment;  // comment and blank lines that preceded it, each ending "\n"
        std::string name;
        std::string value;
    };
    struct Section {
        std::string comment;
        std::string name;
        std::map<std::string, Variable> variables;
        std::vector<Variable*> variableOrder;  // into variables; first appearance
    };

    const Variable* findVariable(const char* section, const char* name) const;
    Section& findOrAddSection(const std::string& name);
    static Variable& findOrAddVariable(Section& section, const std::string& name);
    void clear();
    void parseLine(std::string& line, int lineNumber, const char* filename, int flags, std::string& pending,
                   Section*& current);

    std::map<std::string, Section> sections_;
    std::vector<Section*> sectionOrder_;  // into sections_; first appearance, used by write()
    std::string trailingComment_;         // comment lines after the last item
    int status_ = 0;
};

}  // namespace Corvane
