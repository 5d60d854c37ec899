// Internal to the gateway.
// The modes by name, and the run of the one a request names: the checks
// every mode shares, then the mode. A new mode is one function in its
// family's file (NodeModes, AdminModes, AccountStore) and one line of the
// table in ModeTable.cpp.
#pragma once

#include <string>

#include "GatewayMode.h"

// How a request failed, and the host the error line names (see
// ServerDoor::failureHost).
struct ModeFailure {
    std::string message;
    std::string host;
};

// The body of the request's answer, within the request's size limit;
// throws ModeFailure, or std::bad_alloc.
std::string runMode(const ModeContext& context);

// The mode's name as the table spells it; "unknown" for no mode.
std::string modeName(const std::string& mode);

// Whether the mode changes a server or an account file. A mode holding a
// NUL byte is none.
bool isWriteMode(const std::string& mode);

// Sets the process's character-type locale to UTF-8, once; see ModeTable.cpp.
void useUtf8Characters();
