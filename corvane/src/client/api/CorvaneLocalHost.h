// Internal to corvane_client.
// What the client asks of the local host when it decides whether a server
// runs here.
#pragma once

#include <string>

// The host identifier from the network configuration; false when unknown.
bool corvaneLocalHostUUID(std::string* uuid);
// Whether address is one of this host's interface addresses.
bool corvaneIsLocalAddress(const char* address);
