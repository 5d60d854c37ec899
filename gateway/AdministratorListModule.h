// Internal to the gateway.
// The C interface of the module that parses administrator lists
// (AdministratorListModule.cpp, built as a shared object of its own that
// links Debian's TinyXML): the gateway loads it with dlopen only when it
// checks an administrator, so that no other request maps TinyXML.
#pragma once

// What the module's function returns, as an int.
enum class AdministratorsStatus : int {
    Read = 0,      // take had the list's text
    Unparsed = 1,  // the document is no well-formed XML
    Missing = 2,   // it has no <info><administrators>
};

extern "C" {
// Parses infoXml and hands the text of its <info><administrators> element
// (empty when the element has no text) to take, with context, before it
// returns. Stateless; any thread. Nothing is thrown out of it.
typedef int CorvaneReadAdministrators(const char* infoXml, void (*take)(void* context, const char* text),
                                      void* context);
}

// The name the module exports that function under.
constexpr const char* kReadAdministratorsSymbol = "corvaneReadAdministrators";
