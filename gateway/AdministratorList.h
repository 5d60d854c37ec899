// Internal to the gateway.
// Reads the administrators a server lists in its root node's "info"
// metadata: the comma-separated names of <info><administrators>. The only
// parse of stored XML in the gateway; the parse itself runs in the
// administrator-list module, loaded on the first call. Any thread.
#pragma once

#include <string>

// True when user is one of the names, compared byte for byte; throws
// "Parse manager's metadata failed" or "Invalid manager's metadata" as a
// std::string on a bad document, and a sentence naming the module when it
// could not be loaded.
bool isListedAdministrator(const std::string& infoXml, const std::string& user);
