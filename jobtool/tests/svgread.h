// A small XML reader for the tests that look at the tool's SVG pictures:
// elements, attributes, text and the standard entities; and the geometry
// of translate and rotate transforms, to find where a shape lands.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace jobtool_test
{

struct XmlNode
{
    std::string name;
    std::map<std::string, std::string> attributes;
    std::string text; // the text directly inside, entities resolved
    std::vector<std::unique_ptr<XmlNode>> children;
    const XmlNode *parent = nullptr;

    std::string Attr(const std::string &key) const; // "" when absent
    double Number(const std::string &key) const;    // NaN when absent or not a number
    bool HasClass(const std::string &cls) const;
    // Every element below this one (depth first, in document order) that matches.
    std::vector<const XmlNode *> Find(const std::function<bool(const XmlNode &)> &match) const;
    std::vector<const XmlNode *> FindClass(const std::string &cls) const;
    std::string AllText() const; // this element's text and its children's
};

// The root element, or nothing and why (with the offset).
std::unique_ptr<XmlNode> ParseXml(const std::string &text, std::string &error);

struct Point
{
    double x, y;
};
// A point in an element's own coordinates, in the document's: the
// transforms of the element and of all its ancestors applied.
Point ToDocument(const XmlNode &element, Point p);

struct Box
{
    double left, top, right, bottom;
    bool Inside(const Box &outer, double slack = 0.01) const;
};
// A rect's (or use's or image's) corners in document coordinates, as a box.
Box DocumentBox(const XmlNode &element);

} // namespace jobtool_test
