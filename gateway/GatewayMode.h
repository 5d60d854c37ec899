// Internal to the gateway.
// The one shape of every mode: given the request, a mode answers the text
// that goes between <response> and </response>, or throws its failure
// message as a std::string. Modes write nothing themselves; the driver
// writes the header, the document and the error line. A mode reaches
// servers only through the context's door.
#pragma once

#include <cstdint>
#include <string>

class CgiRequest;
class RequestLimits;
class ServerDoor;

struct ModeContext {
    const CgiRequest& request;
    // The request's host parameter: one server, or a list paired with the
    // nodes.
    const std::string host;
    // How long one server operation (or the wait for an account file's
    // lock) may take, in milliseconds.
    const int32_t browseLimitMs;
    // The request's deadline and size limits; loops over nodes check them.
    const RequestLimits& limits;
    // Where every server handle of the request comes from.
    ServerDoor& door;
    // Account files are named after the user name's part behind its last
    // backslash (CORVANE_ACCOUNT_STRIP_DOMAIN=1).
    const bool stripDomain;
};

using ModeFunction = std::string (*)(const ModeContext& context);
