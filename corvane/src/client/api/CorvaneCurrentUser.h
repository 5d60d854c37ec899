// The user on whose behalf the client works, as it names them in requests:
// the process's own user and group, or a user name the program sets (the
// gateway sets the web user's).
#pragma once

#include "client/api/CorvaneStr.h"

// The name of the process's real group, or "unknown".
CorvaneStr getCurrentGroup();
// The override when non-empty, else the process's user name, or "unknown".
CorvaneStr getCurrentUser();
// Sets the process-wide user-name override; null clears it. Set it before
// other threads make requests.
void setCurrentUser(const char* user);
