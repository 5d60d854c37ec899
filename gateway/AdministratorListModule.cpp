// The administrator-list module: the one place in the gateway that parses
// stored XML, and so the one that links TinyXML. Built as a shared object
// apart from the program (see AdministratorListModule.h).
#include "AdministratorListModule.h"

#include <tinyxml.h>

#include <type_traits>

extern "C" __attribute__((visibility("default"))) int corvaneReadAdministrators(
    const char* infoXml, void (*take)(void* context, const char* text), void* context) {
    try {
        TiXmlDocument document;
        document.Parse(infoXml);
        if (document.Error())
            return static_cast<int>(AdministratorsStatus::Unparsed);
        const TiXmlElement* info = document.FirstChildElement("info");
        const TiXmlElement* administrators = info ? info->FirstChildElement("administrators") : nullptr;
        if (!administrators)
            return static_cast<int>(AdministratorsStatus::Missing);
        const char* text = administrators->GetText();
        take(context, text ? text : "");
        return static_cast<int>(AdministratorsStatus::Read);
    } catch (...) {
        // Out of memory: what the document holds is unknown.
        return static_cast<int>(AdministratorsStatus::Unparsed);
    }
}

// The function's type is the one the gateway looks it up as.
static_assert(std::is_same<decltype(corvaneReadAdministrators), CorvaneReadAdministrators>::value, "");
