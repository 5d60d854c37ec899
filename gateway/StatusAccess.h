// Internal to the gateway.
// Who gets the operator's modes, and what they need: status only for the
// users named in CORVANE_STATUS_USERS (separated by blanks or commas),
// anyone else refused with 403 before any mode runs; ping and status
// without the client library.
#pragma once

#include <string>

#include "Refusals.h"

class CgiRequest;
class RequestIo;

// The 403 of a status request by a user the setting does not name; no
// refusal (null status) for anything else.
Refusal statusRefusal(const RequestIo& io, const CgiRequest& request);
// True for ping and status, which need neither the client library nor a
// server.
bool isOperatorMode(const std::string& mode);
