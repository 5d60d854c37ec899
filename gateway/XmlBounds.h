// Internal to the gateway.
// A linear look at an XML text before a parser sees it. TinyXML parses
// nested elements by recursion and checks each attribute's name against
// every earlier one of its element, so a stored document deep or wide
// enough crashes the process on its stack or holds a thread for seconds;
// whatever a server or another user stored may be such a document. The
// look counts element nesting and an element's attributes the way a
// parser would, skipping comments, CDATA sections, processing
// instructions and declarations, and never undercounts: a text it passes
// is within the bounds for TinyXML too. Stateless; any thread.
#pragma once

#include <cstddef>
#include <string>

struct XmlBounds {
    size_t maxBytes = 1 << 20;
    int maxDepth = 256;
    int maxAttributes = 256;  // of one element
};

// True when text is within bounds. A text that is not XML at all may pass:
// the parser then reports it.
bool withinXmlBounds(const std::string& text, const XmlBounds& bounds = XmlBounds());
