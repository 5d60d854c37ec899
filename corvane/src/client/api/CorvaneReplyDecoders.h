// Internal to corvane_client.
// Decoders of the server replies that carry lists, apart from the calls that
// receive them so that they can be fed any bytes without a server. A
// malformed reply decodes to what can be read of it unless a decoder says
// otherwise.
#pragma once

#include <string>
#include <vector>

#include "client/api/CorvaneBaseClientAPI.h"
#include "client/api/CorvaneNodeInterface.h"

class CorvaneStrList;

// "TranslatePaths": comma-separated paths; out is emptied first. The
// reply is cut in place while it is read and put back afterwards.
void decodeTranslatedPaths(std::string& reply, CorvaneStrList& out);
// "GetTranslationGroups", "GetHostTranslations", "GetOsTypeTranslations":
// appended to out.
void decodeTranslationGroups(const std::string& reply, std::vector<CorvaneTranslationGroup>& out);
void decodeHostTranslations(const std::string& reply, std::vector<CorvaneHostTranslation>& out);
void decodeOsTypeTranslations(const std::string& reply, std::vector<CorvaneOsTypeTranslation>& out);

// "GetChildren": comma-separated name and identifier pairs, appended to
// children. The reply is cut in place while it is read and put back.
void decodeChildren(std::string& reply, CorvaneNodeInterface::ChildList& children);
// "GetChildrenEx": one nested stream per child, appended to children;
// false at the first entry without both an identifier and a name.
bool decodeChildrenEx(const std::string& reply, CorvaneNodeInterface::ChildList& children);
