// The user on whose behalf the client works, as it names them in requests:
// the process's own user and group, or a user name the program sets (the
// gateway sets the web user's), for the whole process or for one thread.
#pragma once

#include "client/api/CorvaneStr.h"

// The name of the process's real group, or "unknown".
CorvaneStr getCurrentGroup();
// The calling thread's override when non-empty, else the process-wide one
// when non-empty, else the process's user name, or "unknown".
CorvaneStr getCurrentUser();
// Sets the process-wide user-name override; null clears it. Any thread may
// set it.
void setCurrentUser(const char* user);
// Sets the calling thread's own override; null clears it. For a program
// that serves several users at once, one per thread.
void setCurrentThreadUser(const char* user);
