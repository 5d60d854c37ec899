// Tells whether the web user is listed as an administrator in the root
// node's "info" metadata on a server. Errors are thrown as std::string.
#pragma once

#include <string>

// True when user is one of the comma-separated names of the
// <info><administrators> element of infoXml; throws on a bad document.
bool isListedAdministrator(const std::string& infoXml, const std::string& user);

// Writes "<response>true</response>" or "<response>false</response>".
void isAdmin(const std::string& host);
