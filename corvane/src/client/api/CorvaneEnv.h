// Process-wide facts the client puts into its requests: the user on whose
// behalf it works and the local host.
#pragma once

#include "client/api/CorvaneStr.h"

// The override when non-empty, else the process's user name, or "unknown".
CorvaneStr getCurrentUser();
// null clears the override.
void setCurrentUser(const char* user);
