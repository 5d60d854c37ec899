// The look at stored XML before TinyXML parses it: every text it passes
// must be within the bounds as TinyXML itself builds the document.
#include "XmlBounds.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <string>

namespace {

// The deepest element nesting and the most attributes of one element in
// what TinyXML builds of text, well-formed or not.
struct Shape {
    int depth = 0;
    int attributes = 0;
};

void measure(const TiXmlNode* node, int depth, Shape* shape) {
    for (const TiXmlNode* child = node->FirstChild(); child; child = child->NextSibling()) {
        const TiXmlElement* element = child->ToElement();
        if (!element)
            continue;
        shape->depth = std::max(shape->depth, depth + 1);
        int attributes = 0;
        for (const TiXmlAttribute* a = element->FirstAttribute(); a; a = a->Next())
            ++attributes;
        shape->attributes = std::max(shape->attributes, attributes);
        measure(element, depth + 1, shape);
    }
}

Shape parsedShape(const std::string& text) {
    TiXmlDocument document;
    document.Parse(text.c_str());
    Shape shape;
    measure(&document, 0, &shape);
    return shape;
}

TEST(XmlBoundsTest, PassesOnlyTextsWithinTheBoundsAsTheParserSeesThem) {
    const XmlBounds small{80, 3, 2};  // bytes, depth, attributes
    const struct {
        const char* text;
        bool passes;
    } kCases[] = {
        {"<a><b><c></c></b></a>", true},
        {"<a><b><c/></b></a>", true},
        {"<a><b><c><d/></c></b></a>", false},
        {"<a><b><c><d></d></c></b></a>", false},
        {"<a><b><c></c></b><b><c></c></b>text</a>", true},
        {"<a><b x='1'/><b/><b><c/></b></a>", true},
        // Markup inside comments, CDATA and quoted values is text...
        {"<a><!--<b><c><d>--></a>", true},
        {"<a><![CDATA[<b><c><d>]]></a>", true},
        {"<a x='<b><c><d>'/>", true},
        // ...but a quote opens a value only behind "=", and a
        // declaration or instruction ends at its first ">".
        {"<a x=\"/>\"><b y='>'><c><d>", false},
        {"<a x=\"1\"><b><c y = \">\"><d>", false},
        {"<a x\"><b><c><d>", false},
        {"<\"><b><c><d>", false},
        {"<a x=\"1\"'><b><c><d>", false},
        {"<a x= '<b><c><d><e>'/>", true},
        {"<a x=\t\r\n'<b><c><d><e>'/>", true},
        {"<?pi x > <a><b><c><d> ?>", false},
        {"<?x?><!y><a><b><c/></b></a>", true},
        {"<!DOCTYPE a [<!ENTITY e 'x'>]><a/>", true},
        {"<!x ><a><b><c><d>", false},
        {"<a><!-- -- --><b><c><d>", false},
        // End tags close what they name, never below the top.
        {"</a></a></a><a><b><c></c></b></a>", true},
        {"<a></a><a><b><c><d></d></c></b></a>", false},
        // Attributes: "=" counts outside values only.
        {"<a x=\"1\" y='2'/>", true},
        {"<a x=\"=\" y='=='/>", true},
        {"<a x=\"1\" y='2' z=\"3\"/>", false},
        {"<a x=1 y=2 z=3/>", false},
        // Unfinished texts: the parser reports them.
        {"<a><b><c><!-- <d><e>", true},
        {"<a><b><c><![CDATA[<d>", true},
        {"<a><b><c x='>", true},
        {"", true},
        {"<", true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(withinXmlBounds(c.text, small), c.passes);
        if (withinXmlBounds(c.text, small)) {
            const Shape shape = parsedShape(c.text);
            EXPECT_LE(shape.depth, small.maxDepth);
            EXPECT_LE(shape.attributes, small.maxAttributes);
        }
    }
    EXPECT_TRUE(withinXmlBounds(std::string(80, 'x'), small));
    EXPECT_FALSE(withinXmlBounds(std::string(81, 'x'), small));
}

TEST(XmlBoundsTest, DefaultsRefuseWhatWouldCrashOrStallTheParser) {
    std::string deep;
    for (int i = 0; i < 200000; ++i)
        deep += "<a>";
    EXPECT_FALSE(withinXmlBounds(deep));

    std::string levels;
    for (int i = 0; i < 256; ++i)
        levels += "<a>";
    EXPECT_TRUE(withinXmlBounds(levels));
    EXPECT_FALSE(withinXmlBounds(levels + "<a>"));

    std::string wide = "<info";
    for (int i = 0; i < 257; ++i)
        wide += " a" + std::to_string(i) + "=''";
    EXPECT_FALSE(withinXmlBounds(wide + "/>"));
    EXPECT_FALSE(withinXmlBounds("<info>" + std::string(1 << 20, ' ') + "</info>"));
}

}  // namespace
