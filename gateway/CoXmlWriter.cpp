#include "CoXmlWriter.h"

#include <cassert>
#include <sstream>

void CoXmlWriter::closeStartTag() {
    if (open_) {
        out_ << '>';
        open_ = false;
    }
}

void CoXmlWriter::writeTabs(int count) {
    for (int i = 0; i < count; ++i)
        out_ << '\t';
}

void CoXmlWriter::open(const std::string& name) {
    closeStartTag();
    if (!compact_) {
        if (!closed_)
            out_ << '\n';
        writeTabs(level_);
    }
    out_ << '<' << name;
    open_ = true;
    names_.push_back(name);
    ++level_;
    closed_ = false;
}

void CoXmlWriter::addAttrib(const std::string& name, const std::string& value, bool escapeValue) {
    assert(open_ && "addAttrib outside a start tag");
    out_ << ' ' << name << "=\"" << (escapeValue ? escape(value) : value) << '"';
}

void CoXmlWriter::addText(const char* text, bool escapeText) {
    closeStartTag();
    if (text)
        out_ << (escapeText ? escape(text) : std::string(text));
}

void CoXmlWriter::close() {
    --level_;
    assert(level_ >= 0);
    assert(!names_.empty());
    if (open_)
        closeStartTag();
    else if (closed_ && !compact_)
        writeTabs(level_);
    out_ << "</" << names_.back() << '>';
    if (!compact_)
        out_ << '\n';
    closed_ = true;
    names_.pop_back();
}

std::string CoXmlWriter::escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                // XML can not carry other control characters, not even as
                // references: the answer stays a document.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                    out += "\xef\xbf\xbd";
                else
                    out += c;
        }
    }
    return out;
}

std::string errorXml(const std::string& message) {
    std::ostringstream buffer;
    CoXmlWriter writer(buffer, 0, false);
    writer.open("error");
    writer.addText(message, true);
    writer.close();
    return buffer.str() + "\n";
}
