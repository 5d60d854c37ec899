// Internal to the gateway.
// The one shape of every mode: given the request, a mode answers the text
// that goes between <response> and </response>, or throws its failure
// message as a std::string. Modes write nothing themselves; the driver
// writes the header, the document and the error line.
#pragma once

#include <cstdint>
#include <string>

class BrowseWatchdog;
class CgiRequest;
class RequestLimits;
class ServerPolicy;

struct ModeContext {
    const CgiRequest& request;
    // The host the error line names: the request's, until the metadata
    // modes move it along their list of hosts.
    std::string host;
    // How long one server operation (or the wait for an account file's
    // lock) may take, in milliseconds.
    int32_t browseLimitMs;
    // The request's deadline and size limits; loops over nodes check them.
    const RequestLimits& limits;
    // Bounds the modes' server handles (see TimeoutCorvaneServerHandle).
    BrowseWatchdog& watchdog;
    // The servers the request may name; modes check every one before
    // connecting.
    const ServerPolicy& servers;
    // Account files are named after the user name's part behind its last
    // backslash (CORVANE_ACCOUNT_STRIP_DOMAIN=1).
    bool stripDomain;
    // How long a server's answer to the login may take, in milliseconds;
    // server handles take it, bounded by browseLimitMs.
    int32_t loginLimitMs;
};

using ModeFunction = std::string (*)(ModeContext& context);
