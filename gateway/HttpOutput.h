// Internal to the gateway.
// What the gateway writes around a mode's answer: the HTTP header every
// answer carries, the status lines of a refusal, and the one line a
// failure leaves in the web server's error log.
#pragma once

#include <string>

class RequestIo;

// Writes "Status: <status>" and the extra header lines (each ending in
// "\n") of an answer that is not 200, before writeHeader().
void writeStatus(RequestIo& io, const char* status, const char* headers);
// The header of every answer, ending in its blank line.
void writeHeader(RequestIo& io);
// The header of the status in the metrics text format.
void writeMetricsHeader(RequestIo& io);
// Writes "<message> on host <host>" to the error log as one line: control
// characters become escapes, and each text ends at its first NUL.
void writeErrorLine(RequestIo& io, const std::string& message, const std::string& host);
// A line for the web server's error log stays one line: control
// characters from a request or a server become escapes.
std::string oneLine(const std::string& text);
