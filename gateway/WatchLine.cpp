#include "WatchLine.h"

#include <algorithm>

#include "CoXmlWriter.h"
#include "base/rcApi/rcAttrStream.h"
#include "client/api/CorvaneNodeEvent.h"

namespace {

constexpr unsigned char kVersion = 1;
constexpr unsigned char kEndRequest = 3;
constexpr unsigned char kStdout = 6;
constexpr size_t kMaxContentBytes = 65535;

// Escaped for XML, and on one line: a line break would end the data line
// and let the rest pose as fields of the stream.
std::string oneLine(const std::string& text) {
    const std::string escaped = CoXmlWriter::escape(text);
    std::string out;
    for (const char c : escaped) {
        if (c == '\n')
            out += "&#10;";
        else if (c == '\r')
            out += "&#13;";
        else
            out += c;
    }
    return out;
}

// The event field names the listener a page adds: letters, digits, '-',
// '_' and '.' only; a server's type with anything else is sent as "event"
// there (the data line keeps the type itself, escaped).
std::string eventName(const std::string& type) {
    static const char kNameChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.";
    const bool plain = !type.empty() && type.find_first_not_of(kNameChars) == std::string::npos;
    return plain ? type : "event";
}

std::string header(unsigned char type, int requestId, size_t length) {
    const char bytes[8] = {static_cast<char>(kVersion),
                           static_cast<char>(type),
                           static_cast<char>((requestId >> 8) & 0xff),
                           static_cast<char>(requestId & 0xff),
                           static_cast<char>((length >> 8) & 0xff),
                           static_cast<char>(length & 0xff)};  // padding length, reserved: 0
    return std::string(bytes, sizeof bytes);
}

}  // namespace

const char kWatchHeader[] =
    "Content-Type: text/event-stream\n"
    "Cache-Control: no-store\n"
    "X-Accel-Buffering: no\n"
    "X-Content-Type-Options: nosniff\n\n"
    ":\n\n";

const char kWatchComment[] = ":\n\n";

std::string watchEventText(const std::string& host, const std::string& nodeId, const CorvaneNodeEvent& event) {
    const std::string type = event.getType();
    std::string text = "event: " + eventName(type) + "\ndata: <event><host>" + oneLine(host) + "</host><nodeId>" +
                       oneLine(nodeId) + "</nodeId><type>" + oneLine(type) + "</type><details>";
    Corvane::rcAttrStream::ConstIterator entries{Corvane::rcAttrStream(event.getDetails().c_str())};
    Corvane::rcAttrStream::Entry entry;
    while (entries.next(entry)) {
        text += "<entry name=\"" + oneLine(std::string(entry.name, entry.nameLen)) + "\">" +
                oneLine(std::string(entry.value, entry.valueLen)) + "</entry>";
    }
    text += "</details></event>\n\n";
    return text;
}

void appendStdoutRecords(int requestId, const char* text, size_t size, std::string* out) {
    while (size != 0) {
        const size_t length = std::min(size, kMaxContentBytes);
        *out += header(kStdout, requestId, length);
        out->append(text, length);
        text += length;
        size -= length;
    }
}

void appendEndRecords(int requestId, std::string* out) {
    *out += header(kStdout, requestId, 0);
    *out += header(kEndRequest, requestId, 8);
    out->append(8, '\0');  // application status 0, request complete
}
