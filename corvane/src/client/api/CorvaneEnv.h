// The host and user functions now live in the two headers named for them;
// this name stays for code not moved yet.
#pragma once

#include "client/api/CorvaneCurrentUser.h"
#include "client/api/CorvaneHostFacts.h"
