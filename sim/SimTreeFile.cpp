#include "sim/SimTreeFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "sim/SimArgs.h"
#include "sim/SimTranslations.h"
#include "sim/SimTree.h"

namespace CorvaneSim {

namespace {

constexpr size_t kMaxQuotedLineBytes = 120;

bool isSpace(char c) { return c == ' ' || c == '\t'; }

// Splits one line into blank-separated tokens; a token in double quotes
// may hold blanks, \" and \\.
class LineScanner {
public:
    explicit LineScanner(const std::string& line) : line_(line) {}

    // False at the end of the line (*why empty) or on a broken quote (*why set).
    bool token(std::string* out, std::string* why) {
        skipSpace();
        out->clear();
        if (pos_ >= line_.size())
            return false;
        if (line_[pos_] != '"') {
            while (pos_ < line_.size() && !isSpace(line_[pos_]))
                *out += line_[pos_++];
            return true;
        }
        for (++pos_; pos_ < line_.size(); ++pos_) {
            char c = line_[pos_];
            if (c == '"') {
                ++pos_;
                if (pos_ < line_.size() && !isSpace(line_[pos_])) {
                    *why = "Text follows a closing quote";
                    return false;
                }
                return true;
            }
            if (c == '\\') {
                if (++pos_ >= line_.size())
                    break;
                c = line_[pos_];
                if (c != '"' && c != '\\') {
                    *why = std::string("Unknown escape '\\") + c + "' in a quoted word";
                    return false;
                }
            }
            *out += c;
        }
        *why = "Unterminated quote";
        return false;
    }

    // The rest of the line without its surrounding blanks.
    std::string rest() {
        skipSpace();
        size_t end = line_.size();
        while (end > pos_ && isSpace(line_[end - 1]))
            --end;
        std::string out = line_.substr(pos_, end - pos_);
        pos_ = line_.size();
        return out;
    }

    bool atEnd() {
        skipSpace();
        return pos_ >= line_.size();
    }

private:
    void skipSpace() {
        while (pos_ < line_.size() && isSpace(line_[pos_]))
            ++pos_;
    }

    const std::string& line_;
    size_t pos_ = 0;
};

// \n, \t and \\ in a text written on one line.
bool unescape(const std::string& in, std::string* out, std::string* why) {
    out->clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            *out += in[i];
            continue;
        }
        if (i + 1 >= in.size()) {
            *why = "A backslash ends the text";
            return false;
        }
        const char c = in[++i];
        if (c == 'n')
            *out += '\n';
        else if (c == 't')
            *out += '\t';
        else if (c == '\\')
            *out += '\\';
        else {
            *why = std::string("Unknown escape '\\") + c + "'";
            return false;
        }
    }
    return true;
}

// Loads the lines of one text; each directive either succeeds or leaves
// the reason in why_.
class Parser {
public:
    Parser(const std::string& text, SimTree* tree, SimTranslations* translations)
        : tree_(*tree), translations_(*translations) {
        size_t start = 0;
        // One line per newline, plus the tail when the text does not end in one.
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines_.push_back(std::move(line));
            start = end + 1;
        }
    }

    // On false, *lineNo is the 1-based number of the bad line.
    bool run(size_t* lineNo, std::string* why) {
        for (index_ = 0; index_ < lines_.size(); ++index_) {
            *lineNo = index_ + 1;
            const std::string& line = lines_[index_];
            if (line.find('\0') != std::string::npos)
                return fail(why, "NUL byte in the line");
            if (!directive(line)) {
                *why = why_;
                return false;
            }
        }
        return true;
    }

    const std::string& line(size_t lineNo) const { return lines_[lineNo - 1]; }

private:
    bool fail(std::string* why, const std::string& text) {
        *why = text;
        return false;
    }
    bool fail(const std::string& text) { return fail(&why_, text); }

    bool directive(const std::string& line) {
        why_.clear();
        LineScanner scan(line);
        std::string word;
        if (!scan.token(&word, &why_))
            return why_.empty();  // blank line
        if (word[0] == '#')
            return true;
        if (word == "node")
            return node(scan);
        if (word == "meta")
            return meta(scan);
        if (word == "format")
            return format(scan);
        if (word == "frames")
            return frames(scan);
        if (word == "group")
            return group(scan);
        if (word == "hosttrans")
            return translation(scan, &translations_.hosts, "hosttrans");
        if (word == "ostrans")
            return translation(scan, &translations_.osTypes, "ostrans");
        return fail("Unknown directive '" + word + "'");
    }

    // Reads count tokens; a missing one fails with usage.
    bool tokens(LineScanner& scan, size_t count, std::vector<std::string>* out, const char* usage) {
        out->assign(count, std::string());
        for (std::string& t : *out) {
            if (!scan.token(&t, &why_))
                return why_.empty() ? fail(std::string("Expected ") + usage) : false;
        }
        return true;
    }

    bool noMore(LineScanner& scan, const char* usage) {
        return scan.atEnd() || fail(std::string("Unexpected text after ") + usage);
    }

    bool existingNode(const std::string& id) { return tree_.find(id) || fail("Node '" + id + "' is not declared"); }

    bool node(LineScanner& scan) {
        static const char* usage = "'node ID TYPE [DISPLAY NAME]'";
        std::vector<std::string> t;
        if (!tokens(scan, 2, &t, usage))
            return false;
        const std::string displayName = scan.rest();
        if (t[0] == SimTree::kRootId) {
            if (rootSet_)
                return fail("Node '/' is declared twice");
            rootSet_ = true;
            tree_.setRoot(t[1], displayName.empty() ? "Root" : displayName);
            return true;
        }
        std::string error;
        if (!tree_.addNode(t[0], t[1], displayName, &error))
            return fail(error);
        return true;
    }

    bool meta(LineScanner& scan) {
        std::vector<std::string> t;
        if (!tokens(scan, 2, &t, "'meta ID STREAM TEXT' or 'meta ID STREAM <<WORD'") || !existingNode(t[0]))
            return false;
        const std::string raw = scan.rest();
        std::string text;
        if (raw.size() > 2 && raw.compare(0, 2, "<<") == 0) {
            if (!hereDocument(raw.substr(2), &text))
                return false;
        } else if (!unescape(raw, &text, &why_)) {
            return false;
        }
        std::string old, absent;
        if (tree_.getMetaData(t[0], t[1], &old, &absent))
            return fail("Stream '" + t[1] + "' of node '" + t[0] + "' is set twice");
        return tree_.setMetaData(t[0], t[1], text, &why_);
    }

    // The lines after the current one up to a line holding only the word.
    bool hereDocument(const std::string& word, std::string* text) {
        for (char c : word) {
            if (isSpace(c))
                return fail("The end word of '<<" + word + "' must be one word");
        }
        for (size_t i = index_ + 1; i < lines_.size(); ++i) {
            if (lines_[i] == word) {
                for (size_t j = index_ + 1; j < i; ++j) {
                    if (lines_[j].find('\0') != std::string::npos)
                        return fail("NUL byte in line " + std::to_string(j + 1));
                    if (j > index_ + 1)
                        *text += '\n';
                    *text += lines_[j];
                }
                index_ = i;
                return true;
            }
        }
        return fail("No line '" + word + "' ends the text");
    }

    bool format(LineScanner& scan) {
        static const char* usage = "'format ID WIDTH HEIGHT BPP CHANNELS SIZE ASPECT RATE TAG SCAN METATAG [METADATA]'";
        std::vector<std::string> t;
        if (!tokens(scan, 11, &t, usage) || !existingNode(t[0]))
            return false;
        int n[6] = {};
        float f[2] = {};
        const int intField[6] = {1, 2, 3, 4, 5, 9};
        for (int i = 0; i < 6; ++i) {
            if (!parseInt(t[static_cast<size_t>(intField[i])], &n[i]))
                return fail("'" + t[static_cast<size_t>(intField[i])] + "' is not a whole number");
        }
        for (int i = 0; i < 2; ++i) {
            if (!parseFloat(t[static_cast<size_t>(6 + i)], &f[i]))
                return fail("'" + t[static_cast<size_t>(6 + i)] + "' is not a number");
        }
        std::string metaData;
        if (!unescape(scan.rest(), &metaData, &why_))
            return false;
        const CorvaneClipFormat fmt(n[0], n[1], n[2], n[3], n[4], f[1], f[0], n[5], t[8].c_str(), t[10].c_str(),
                                    metaData.c_str());
        return tree_.setClipFormat(t[0], fmt, &why_);
    }

    bool frames(LineScanner& scan) {
        static const char* usage = "'frames ID COUNT'";
        std::vector<std::string> t;
        if (!tokens(scan, 2, &t, usage) || !noMore(scan, usage) || !existingNode(t[0]))
            return false;
        int count = 0;
        if (!parseInt(t[1], &count))
            return fail("'" + t[1] + "' is not a whole number");
        CorvaneClipFormat fmt;
        std::vector<std::string> ids;
        return tree_.clipFormat(t[0], &fmt, &why_) && tree_.allocateFrames(t[0], count, fmt, &ids, &why_);
    }

    bool group(LineScanner& scan) {
        std::vector<std::string> t;
        if (!tokens(scan, 2, &t, "'group NAME NUMBER [MEMBER...]'"))
            return false;
        SimTranslationGroup g;
        g.name = t[0];
        if (!parseInt(t[1], &g.number))
            return fail("'" + t[1] + "' is not a whole number");
        std::string member;
        while (scan.token(&member, &why_))
            g.members.push_back(member);
        if (!why_.empty())
            return false;
        // The reply lists a group as one comma-separated text.
        if (g.name.find(',') != std::string::npos)
            return fail("Group name '" + g.name + "' contains a comma");
        for (const std::string& m : g.members) {
            if (m.find(',') != std::string::npos)
                return fail("Group member '" + m + "' contains a comma");
        }
        translations_.groups.push_back(std::move(g));
        return true;
    }

    bool translation(LineScanner& scan, std::vector<SimPathTranslation>* table, const char* name) {
        const std::string usage = std::string("'") + name + " SOURCE SOURCEPATH DESTINATION DESTINATIONPATH'";
        std::vector<std::string> t;
        if (!tokens(scan, 4, &t, usage.c_str()) || !noMore(scan, usage.c_str()))
            return false;
        table->push_back(SimPathTranslation{t[0], t[1], t[2], t[3]});
        return true;
    }

    SimTree& tree_;
    SimTranslations& translations_;
    std::vector<std::string> lines_;
    size_t index_ = 0;
    bool rootSet_ = false;
    std::string why_;
};

std::string shown(const std::string& line) {
    if (line.size() <= kMaxQuotedLineBytes)
        return line;
    return line.substr(0, kMaxQuotedLineBytes) + "...";
}

}  // namespace

bool SimTreeFile::parse(const std::string& text, const std::string& name, SimTree* tree, SimTranslations* translations,
                        std::string* error) {
    Parser parser(text, tree, translations);
    size_t lineNo = 0;
    std::string why;
    if (parser.run(&lineNo, &why))
        return true;
    *error = name + ":" + std::to_string(lineNo) + ": " + why + ": '" + shown(parser.line(lineNo)) + "'";
    return false;
}

bool SimTreeFile::load(const std::string& path, SimTree* tree, SimTranslations* translations, std::string* error) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rbe"), &std::fclose);
    if (!file) {
        const int err = errno;
        *error = "Cannot read tree file '" + path + "': " + std::strerror(err);
        return false;
    }
    std::string text;
    char buf[65536];
    for (;;) {
        const size_t n = std::fread(buf, 1, sizeof buf, file.get());
        text.append(buf, n);
        if (text.size() > kMaxFileBytes) {
            *error = "Tree file '" + path + "' is larger than " + std::to_string(kMaxFileBytes) + " bytes";
            return false;
        }
        if (n < sizeof buf)
            break;
    }
    if (std::ferror(file.get())) {
        const int err = errno;
        *error = "Cannot read tree file '" + path + "': " + std::strerror(err);
        return false;
    }
    return parse(text, path, tree, translations, error);
}

}  // namespace CorvaneSim
