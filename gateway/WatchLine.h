// Internal to the gateway.
// The bytes of a live-update stream: the answer's header, the text of a
// server's node event as a Server-Sent Events block, and the FastCGI
// records that carry them to the web server. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>

class CorvaneNodeEvent;

// The header of a stream's answer, ending in its blank line, and a first
// comment, so that the web server has a body to pass on at once.
extern const char kWatchHeader[];
// A comment block: keeps proxies from closing an idle stream.
extern const char kWatchComment[];

// "event: <type>\ndata: <event>...</event>\n\n" for an event of the watched
// pair host and nodeId; the "id:" line goes before it per stream. Every
// value is escaped, line breaks included, so that nothing a server or a
// user stored can end the data line or the block early.
std::string watchEventText(const std::string& host, const std::string& nodeId, const CorvaneNodeEvent& event);

// STDOUT records of request requestId carrying text.
void appendStdoutRecords(int requestId, const char* text, size_t size, std::string* out);
// The request's end: an empty STDOUT record and END_REQUEST (status 0).
void appendEndRecords(int requestId, std::string* out);
