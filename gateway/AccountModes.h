// Internal to the gateway.
// The modes that concern the web user rather than a server: who the user
// is, and the user's document in the account store (AccountStore).
// Errors are thrown as std::string messages.
#pragma once

#include <string>

#include "GatewayMode.h"

// The web user's name cut after its last backslash (domain\user -> user),
// escaped as XML text.
std::string getUser(const ModeContext& context);
// The user's document (empty when never saved).
std::string loadUser(const ModeContext& context);
// Stores corvaneMetadata as the user's document.
std::string saveUser(const ModeContext& context);
