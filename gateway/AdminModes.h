// Internal to the gateway.
// Tells whether the web user is listed as an administrator in the root
// node's "info" metadata on a server. Errors are thrown as std::string.
#pragma once

#include <string>

#include "GatewayMode.h"

// Answers "true" or "false" for the web user on the whole host's root.
std::string isAdmin(const ModeContext& context);
