#include "HttpOutput.h"

#include "RequestIo.h"

namespace {

// The header of every answer. A document opened in a browser runs no
// script and loads nothing, whatever a server or another user stored in it,
// and is never framed, sniffed as another type or cached.
const char kHeader[] =
    "Content-Type: text/xml\n"
    "X-Content-Type-Options: nosniff\n"
    "Content-Security-Policy: default-src 'none'; frame-ancestors 'none'; sandbox\n"
    "Cache-Control: no-store\n\n";

// The status figures for a metrics scraper: its text format.
const char kMetricsHeader[] =
    "Content-Type: text/plain; version=0.0.4; charset=utf-8\n"
    "X-Content-Type-Options: nosniff\n"
    "Cache-Control: no-store\n\n";

}  // namespace

std::string oneLine(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 15]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

void writeStatus(RequestIo& io, const char* status, const char* headers) {
    io.out(std::string("Status: ") + status + "\n" + headers);
}

void writeHeader(RequestIo& io) { io.out(kHeader); }

void writeMetricsHeader(RequestIo& io) { io.out(kMetricsHeader); }

void writeErrorLine(RequestIo& io, const std::string& message, const std::string& host) {
    io.err(oneLine(std::string(message.c_str()) + " on host " + host.c_str()));
}
