// What the client tells servers about the host it runs on, and how it
// recognises a host text that names this machine. Thread-safe.
#pragma once

#include "client/api/CorvaneStr.h"

// The machine's host name, or "unknown".
CorvaneStr getLocalHostName();
// Always "unknown": servers only log it.
const char* getOSVersion();
// Exactly "localhost", "127.0.0.1" or "::1".
bool isLocalHost(const char* host);
