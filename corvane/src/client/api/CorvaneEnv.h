// Process-wide facts the client puts into its requests: the user on whose
// behalf it works and the local host.
#pragma once

#include "client/api/CorvaneStr.h"

// The machine's host name, or "unknown".
CorvaneStr getLocalHostName();
// The name of the process's real group, or "unknown".
CorvaneStr getCurrentGroup();
// The override when non-empty, else the process's user name, or "unknown".
CorvaneStr getCurrentUser();
// Sets the process-wide user-name override; null clears it. Set it before
// other threads make requests.
void setCurrentUser(const char* user);
// Always "unknown": servers only log it.
const char* getOSVersion();
// Exactly "localhost", "127.0.0.1" or "::1".
bool isLocalHost(const char* host);
