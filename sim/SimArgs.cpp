#include "sim/SimArgs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "base/rcApi/rcAttrStream.h"

namespace CorvaneSim {

namespace {

// A tag travels as one word of the reply.
std::string replyWord(const char* tag) {
    std::string out = tag;
    if (out.empty())
        return "none";
    for (char& c : out) {
        if (c == ' ' || c == '\t' || c == '\n')
            c = '_';
    }
    return out;
}

}  // namespace

bool parseFloat(const std::string& text, float* out) {
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0')
        return false;
    *out = static_cast<float>(v);
    return true;
}

bool parseInt(const std::string& text, int* out) {
    if (text.empty() || text[0] == ' ')
        return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < -2147483647L - 1 || v > 2147483647L)
        return false;
    *out = static_cast<int>(v);
    return true;
}

bool SimArgScanner::fieldEnds() { return atEnd() || text_[pos_] == ' ' || fail("a blank after a quoted field"); }

bool SimArgScanner::word(std::string* out) {
    const size_t end = text_.find(' ', pos_);
    const size_t stop = end == std::string::npos ? text_.size() : end;
    *out = text_.substr(pos_, stop - pos_);
    pos_ = stop;
    return true;
}

bool SimArgScanner::quoted(std::string* out) {
    out->clear();
    if (atEnd() || text_[pos_] == ' ')
        return true;  // a null text quotes to nothing at all
    if (text_[pos_] != '"')
        return fail("a double-quoted field");
    for (size_t i = pos_ + 1; i < text_.size(); ++i) {
        const char c = text_[i];
        if (c == '\\') {
            if (++i >= text_.size())
                break;
            *out += text_[i];
        } else if (c == '"') {
            pos_ = i + 1;
            return fieldEnds();
        } else {
            *out += c;
        }
    }
    return fail("a closing double quote");
}

bool SimArgScanner::literalQuoted(std::string* out) {
    if (atEnd() || text_[pos_] != '"')
        return fail("a double-quoted field");
    const size_t close = text_.find('"', pos_ + 1);
    if (close == std::string::npos)
        return fail("a closing double quote");
    *out = text_.substr(pos_ + 1, close - pos_ - 1);
    pos_ = close + 1;
    return fieldEnds();
}

bool SimArgScanner::node(std::string* out) {
    if (!atEnd() && text_[pos_] == '"')
        return quoted(out);
    word(out);
    return !out->empty() || fail("a node identifier");
}

bool SimArgScanner::integer(int* out) {
    std::string w;
    word(&w);
    return parseInt(w, out) || fail("a whole number where '" + w + "' is");
}

bool SimArgScanner::blank() {
    if (!atEnd() && text_[pos_] == ' ') {
        ++pos_;
        return true;
    }
    return fail("a blank between fields");
}

std::string SimArgScanner::rest() {
    const std::string out = text_.substr(pos_);
    pos_ = text_.size();
    return out;
}

bool SimArgScanner::clipText(CorvaneClipFormat* out) {
    int n[5] = {};
    for (int& v : n) {
        if (!integer(&v) || !blank())
            return false;
    }
    float f[2] = {};
    for (float& v : f) {
        std::string w;
        word(&w);
        if (!parseFloat(w, &v))
            return fail("a number where '" + w + "' is");
        if (!blank())
            return false;
    }
    std::string tag, metaTag, metaData;
    int scan = 0;
    if (!word(&tag) || !blank() || !integer(&scan) || !blank() || !word(&metaTag) || !blank() || !quoted(&metaData))
        return false;
    if (!atEnd())
        return fail("the end of the text after the clip format");
    *out = CorvaneClipFormat(n[0], n[1], n[2], n[3], n[4], f[1], f[0], scan, tag.c_str(), metaTag.c_str(),
                             metaData.c_str());
    return true;
}

bool parseWholeNode(const std::string& text, std::string* id, std::string* why) {
    SimArgScanner scan(text);
    if (!scan.node(id) || !scan.atEnd()) {
        *why = scan.why().empty() ? "one node identifier" : scan.why();
        return false;
    }
    return true;
}

bool requireString(const Corvane::rcAttrStream& stream, const char* key, std::string* out, std::string* why) {
    if (stream.getValue(key, *out))
        return true;
    *why = std::string("an attribute '") + key + "'";
    return false;
}

bool requireInt(const Corvane::rcAttrStream& stream, const char* key, int* out, std::string* why) {
    std::string text;
    if (!requireString(stream, key, &text, why))
        return false;
    if (parseInt(text, out))
        return true;
    *why = std::string("a whole number in '") + key + "' where '" + text + "' is";
    return false;
}

bool requireClipStream(const Corvane::rcAttrStream& stream, const char* key, CorvaneClipFormat* out, std::string* why) {
    std::string text;
    if (!requireString(stream, key, &text, why))
        return false;
    const Corvane::rcAttrStream fmt(text);
    static const char* const kIntKeys[] = {"w", "h", "bpp", "nch", "sz", "scan"};
    int n[6] = {};
    for (int i = 0; i < 6; ++i) {
        if (!requireInt(fmt, kIntKeys[i], &n[i], why))
            return false;
    }
    static const char* const kFloatKeys[] = {"asp", "rate"};
    float f[2] = {};
    for (int i = 0; i < 2; ++i) {
        std::string v;
        if (!requireString(fmt, kFloatKeys[i], &v, why))
            return false;
        if (!parseFloat(v, &f[i])) {
            *why = std::string("a number in '") + kFloatKeys[i] + "' where '" + v + "' is";
            return false;
        }
    }
    std::string tag, metaTag, metaData;
    if (!requireString(fmt, "fmt", &tag, why) || !requireString(fmt, "metag", &metaTag, why) ||
        !requireString(fmt, "meta", &metaData, why))
        return false;
    *out = CorvaneClipFormat(n[0], n[1], n[2], n[3], n[4], f[1], f[0], n[5], tag.c_str(), metaTag.c_str(),
                             metaData.c_str());
    return true;
}

std::string clipReplyText(const CorvaneClipFormat& format) {
    char fields[1024];
    std::snprintf(fields, sizeof fields, "%d %d %d %d %d %g %g %s %d %s ", format.getWidth(), format.getHeight(),
                  format.getBitsPerPixel(), format.getNumChannels(), format.getFrameBufferSize(),
                  static_cast<double>(format.getPixelRatio()), static_cast<double>(format.getFrameRate()),
                  replyWord(format.getFormatTag()).substr(0, 255).c_str(), format.getScanFormat(),
                  replyWord(format.getMetaDataTag()).substr(0, 255).c_str());
    return fields + std::string(format.getMetaData());
}

}  // namespace CorvaneSim
