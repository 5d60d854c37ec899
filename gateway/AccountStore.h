// Internal to the gateway.
// The per-user account store: one opaque document per web user in
// ./account/<user>.xml, relative to the working directory, where <user> is
// the whole web user name with every byte but A-Z a-z 0-9 . _ - @ (and a
// leading ".") written as %XX: no two users share a file, and none leaves
// ./account. With CORVANE_ACCOUNT_STRIP_DOMAIN the name is first cut after
// its last backslash. Concurrent requests for one user are serialised by
// advisory locks on the file, so a reader never sees a half-written
// document; a lock is waited for no longer than the browse time-out. Errors
// are thrown as std::string messages.
#pragma once

#include <string>

#include "GatewayMode.h"

// The web user's name cut after its last backslash (domain\user -> user),
// escaped as XML text.
std::string getUser(ModeContext& context);
// The user's document (empty when never saved).
std::string loadUser(ModeContext& context);
// Stores corvaneMetadata as the user's document.
std::string saveUser(ModeContext& context);
