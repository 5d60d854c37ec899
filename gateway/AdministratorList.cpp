#include "AdministratorList.h"

#include <tinyxml.h>

#include "CgiRequest.h"
#include "XmlBounds.h"

bool isListedAdministrator(const std::string& infoXml, const std::string& user) {
    // Any user the server lets write the root's "info" may have stored it.
    if (!withinXmlBounds(infoXml))
        throw std::string("Parse manager's metadata failed");
    TiXmlDocument document;
    document.Parse(infoXml.c_str());
    if (document.Error())
        throw std::string("Parse manager's metadata failed");
    const TiXmlElement* info = document.FirstChildElement("info");
    const TiXmlElement* administrators = info ? info->FirstChildElement("administrators") : nullptr;
    if (!administrators)
        throw std::string("Invalid manager's metadata");
    const char* text = administrators->GetText();
    // Lists of any length are taken whole; nothing is cut.
    for (const std::string& name : CgiRequest::splitList(text ? text : ""))
        if (name == user)
            return true;
    return false;
}
