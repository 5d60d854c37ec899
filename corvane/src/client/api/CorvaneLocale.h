// Internal to corvane_client.
// Conversions between the UTF-8 that servers speak and the multibyte
// encoding of the process locale, for display names. They never fail: bad
// input gives warnings, "?" characters or a shortened text. Re-entrant.
#pragma once

#include <string>

// Converts in place; unchanged when the locale's codeset is "UTF-8".
void corvaneUtf8ToLocale(std::string& text);
// Unchanged when the locale's codeset is "UTF-8".
std::string corvaneLocaleToUtf8(const char* text);
