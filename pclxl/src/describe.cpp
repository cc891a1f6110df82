#include "pclxl/describe.h"

#include "internal.h"

#include <cmath>
#include <cstdio>

namespace pclxl
{
namespace
{

constexpr size_t kShownElements = 16;

std::string number(const Value &v, double n)
{
    if (v.isReal())
    {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", n);
        return buf;
    }
    return std::to_string(static_cast<long long>(n));
}

bool printable(const Value &v)
{
    if (v.element != ElementType::UByte && v.element != ElementType::UInt16)
    {
        return false;
    }
    for (double n : v.numbers)
    {
        if (n < 0x20 || n > 0x7E)
        {
            return false;
        }
    }
    return true;
}

} // namespace

std::string describeValue(const Value &v, uint16_t attribute)
{
    switch (v.shape)
    {
    case Shape::Scalar:
        if (isEnumeratedAttribute(attribute) && !v.isReal() && v.number() >= 0)
        {
            if (const char *name = enumValueName(attribute, static_cast<uint32_t>(v.number())))
            {
                return name;
            }
        }
        return number(v, v.number());
    case Shape::XY:
        return "(" + number(v, v.number(0)) + ", " + number(v, v.number(1)) + ")";
    case Shape::Box:
        return "(" + number(v, v.number(0)) + ", " + number(v, v.number(1)) + ", " + number(v, v.number(2)) + ", " +
               number(v, v.number(3)) + ")";
    case Shape::Array:
        break;
    }
    if (isTextAttribute(attribute) && printable(v))
    {
        return "\"" + v.text() + "\"";
    }
    std::string s = "[";
    for (size_t i = 0; i < v.numbers.size() && i < kShownElements; ++i)
    {
        if (i)
        {
            s += ' ';
        }
        s += number(v, v.numbers[i]);
    }
    if (v.numbers.size() > kShownElements)
    {
        s += " ... (" + std::to_string(v.numbers.size()) + " elements)";
    }
    return s + "]";
}

std::string describeAttributeId(uint16_t id)
{
    if (const char *name = attributeName(id))
    {
        return name;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "attribute 0x%02X", id);
    return buf;
}

std::string describe(const Command &c)
{
    const char *name = operatorName(c.op);
    std::string s = name ? name : detail::hexByte(c.op);
    for (const Attribute &a : c.attributes)
    {
        s += ' ';
        s += describeAttributeId(a.id);
        s += '=';
        s += describeValue(a.value, a.id);
    }
    if (c.has_data)
    {
        s += " [data " + detail::plural(c.payload_length, "byte", "bytes") + "]";
    }
    return s;
}

std::string describe(const Token &t)
{
    switch (t.kind)
    {
    case TokenKind::Pjl:
        return "PJL " + detail::plural(t.length, "byte", "bytes");
    case TokenKind::UniversalExit:
        return "universal exit";
    case TokenKind::StreamHeader: {
        std::string text;
        for (char ch : t.text)
        {
            if (ch >= 0x20 && ch <= 0x7E)
            {
                text += ch;
            }
        }
        return "stream header " + text;
    }
    case TokenKind::Whitespace:
        return "whitespace " + detail::plural(t.length, "byte", "bytes");
    case TokenKind::Value:
        return t.value.typeName() + " " + describeValue(t.value);
    case TokenKind::Attribute:
        return "attribute " + describeAttributeId(t.attribute);
    case TokenKind::Operator: {
        const char *name = operatorName(t.tag);
        return std::string("operator ") + (name ? name : detail::hexByte(t.tag));
    }
    case TokenKind::EmbeddedData:
        return "embedded data " + detail::plural(t.payload_length, "byte", "bytes");
    }
    return "?";
}

std::vector<std::string> explainFragment(Bytes data, Context context, Endian endian, size_t base_offset)
{
    ReadOptions ro;
    ro.expect_header = false;
    ro.endian = endian;
    ro.base_offset = base_offset;
    TokenList tl = tokenize(data, ro);
    CheckOptions co;
    co.context = context;
    co.require_complete = false;
    Structure st = checkStructure(tl, data, co);
    std::vector<std::string> lines;
    for (const Command &c : st.commands)
    {
        lines.push_back(describe(c));
    }
    // Tokens after the last operator: an attribute list still waiting for it.
    const size_t done = st.commands.empty() ? 0 : st.commands.back().end;
    std::string rest;
    for (const Token &t : tl.tokens)
    {
        if ((st.commands.empty() || t.offset >= done) && t.kind != TokenKind::Whitespace)
        {
            rest += rest.empty() ? "" : ", ";
            rest += describe(t);
        }
    }
    if (!rest.empty() && !st.error)
    {
        lines.push_back("unfinished: " + rest);
    }
    std::optional<Error> err = tl.error;
    if (st.error && (!err || st.error->offset <= err->offset))
    {
        err = st.error;
    }
    if (err)
    {
        lines.push_back("error: " + err->message());
    }
    return lines;
}

} // namespace pclxl
