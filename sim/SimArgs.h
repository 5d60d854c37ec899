// Internal to corvane_sim.
// Reading the argument texts that clients send to the stand-in server:
// blank-separated fields where a node identifier may come in double quotes
// (with a backslash before inner quotes and backslashes), attribute-stream
// arguments, and the clip format in its one-line and attribute-stream
// forms. Every reader fails with a short reason instead of guessing.
// Plain values; not thread-safe.
#pragma once

#include <string>

#include "client/api/CorvaneClipFormat.h"

namespace Corvane {
class rcAttrStream;
}

namespace CorvaneSim {

class SimArgScanner {
public:
    explicit SimArgScanner(const std::string& text) : text_(text) {}

    // A node identifier: a double-quoted field, else the text up to the
    // next blank.
    bool node(std::string* out);
    // A double-quoted field with escapes; an empty field reads as "".
    bool quoted(std::string* out);
    // A double-quoted field taken literally up to the next double quote.
    bool literalQuoted(std::string* out);
    // The text up to the next blank (possibly empty).
    bool word(std::string* out);
    bool integer(int* out);
    // Exactly one blank between two fields.
    bool blank();
    // Everything not read yet.
    std::string rest();
    bool atEnd() const { return pos_ >= text_.size(); }

    // The ten fields and the quoted metadata that clients write for a clip
    // format, ending the text.
    bool clipText(CorvaneClipFormat* out);

    // What the last failed read expected.
    const std::string& why() const { return why_; }

private:
    bool fail(const std::string& why) {
        why_ = why;
        return false;
    }
    // The field must end at a blank or at the end of the text.
    bool fieldEnds();

    const std::string& text_;
    size_t pos_ = 0;
    std::string why_;
};

// A node argument that is the whole text: quoted or bare.
bool parseWholeNode(const std::string& text, std::string* id, std::string* why);

// Attribute-stream readers that insist on the attribute being there.
bool requireString(const Corvane::rcAttrStream& stream, const char* key, std::string* out, std::string* why);
bool requireInt(const Corvane::rcAttrStream& stream, const char* key, int* out, std::string* why);
// The clip format written as a nested attribute stream under key.
bool requireClipStream(const Corvane::rcAttrStream& stream, const char* key, CorvaneClipFormat* out, std::string* why);

// A whole decimal int, nothing before or after it.
bool parseInt(const std::string& text, int* out);
// The whole text as a number (strtod); false for anything else.
bool parseFloat(const std::string& text, float* out);

// The clip format as "GetClipFormat" answers it: ten fields, then the
// metadata unquoted. Empty tags are written "none" and blanks inside tags
// become underscores, so that the reply still reads as ten fields.
std::string clipReplyText(const CorvaneClipFormat& format);

}  // namespace CorvaneSim
