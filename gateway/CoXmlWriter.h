// Internal to the gateway.
// Writes indented XML to a stream, one element at a time. Not thread-safe;
// the stream is not owned.
#pragma once

#include <ostream>
#include <string>
#include <vector>

class CoXmlWriter {
public:
    CoXmlWriter(std::ostream& out, int level = 0, bool compact = false) : out_(out), level_(level), compact_(compact) {}

    void open(const std::string& name);
    // Only valid right after open(), while the start tag is still open.
    void addAttrib(const std::string& name, const std::string& value, bool escape);
    void addText(const char* text, bool escape);
    void addText(const std::string& text, bool escape) { addText(text.c_str(), escape); }
    void close();

    // Replaces < > & " and ' by their entities and control characters XML
    // can not carry by U+FFFD; other bytes pass unchanged.
    static std::string escape(const std::string& text);

private:
    void closeStartTag();
    void writeTabs(int count);

    std::ostream& out_;
    int level_;
    std::vector<std::string> names_;
    bool open_ = false;
    bool closed_ = false;  // the last action was close()
    bool compact_;
};

// The error element for message, as the error response carries it: a
// newline, <error>, the escaped message, </error>, two newlines.
std::string errorXml(const std::string& message);
