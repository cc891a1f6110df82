#include "svgread.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace jobtool_test
{

namespace
{

class Parser
{
  public:
    explicit Parser(const std::string &s) : m_s(s)
    {
    }

    std::unique_ptr<XmlNode> Document(std::string &error)
    {
        std::unique_ptr<XmlNode> root;
        while (Skip(), m_at < m_s.size())
        {
            if (Starts("<?") || Starts("<!--") || Starts("<!DOCTYPE"))
            {
                SkipSpecial();
                continue;
            }
            if (root || !Starts("<"))
            {
                return Fail(error, "content after the root element");
            }
            root = Element(nullptr);
            if (!root)
            {
                error = m_error + " at offset " + std::to_string(m_at);
                return nullptr;
            }
        }
        if (!root)
        {
            return Fail(error, "no root element");
        }
        return root;
    }

  private:
    std::unique_ptr<XmlNode> Fail(std::string &error, const std::string &why)
    {
        error = why + " at offset " + std::to_string(m_at);
        return nullptr;
    }
    bool Starts(const char *t) const
    {
        return m_s.compare(m_at, std::char_traits<char>::length(t), t) == 0;
    }
    void Skip()
    {
        while (m_at < m_s.size() && std::isspace(static_cast<unsigned char>(m_s[m_at])))
        {
            m_at++;
        }
    }
    void SkipSpecial()
    {
        const char *end = Starts("<?") ? "?>" : Starts("<!--") ? "-->" : ">";
        size_t e = m_s.find(end, m_at);
        m_at = e == std::string::npos ? m_s.size() : e + std::char_traits<char>::length(end);
    }
    std::string Name()
    {
        size_t b = m_at;
        while (m_at < m_s.size() &&
               (std::isalnum(static_cast<unsigned char>(m_s[m_at])) || std::strchr(":_-.", m_s[m_at]) != nullptr))
        {
            m_at++;
        }
        return m_s.substr(b, m_at - b);
    }
    bool Entities(const std::string &raw, std::string &out)
    {
        for (size_t i = 0; i < raw.size(); i++)
        {
            if (raw[i] != '&')
            {
                out += raw[i];
                continue;
            }
            size_t semi = raw.find(';', i);
            if (semi == std::string::npos)
            {
                m_error = "an entity without ';'";
                return false;
            }
            std::string e = raw.substr(i + 1, semi - i - 1);
            i = semi;
            if (e == "amp")
                out += '&';
            else if (e == "lt")
                out += '<';
            else if (e == "gt")
                out += '>';
            else if (e == "quot")
                out += '"';
            else if (e == "apos")
                out += '\'';
            else if (e.size() > 1 && e[0] == '#')
            {
                unsigned long cp =
                    e[1] == 'x' ? std::strtoul(e.c_str() + 2, nullptr, 16) : std::strtoul(e.c_str() + 1, nullptr, 10);
                // UTF-8 of the code point.
                if (cp < 0x80)
                    out += static_cast<char>(cp);
                else if (cp < 0x800)
                {
                    out += static_cast<char>(0xC0 | cp >> 6);
                    out += static_cast<char>(0x80 | (cp & 0x3F));
                }
                else
                {
                    out += static_cast<char>(0xE0 | cp >> 12);
                    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
                    out += static_cast<char>(0x80 | (cp & 0x3F));
                }
            }
            else
            {
                m_error = "unknown entity &" + e + ";";
                return false;
            }
        }
        return true;
    }
    std::unique_ptr<XmlNode> Element(const XmlNode *parent)
    {
        auto node = std::make_unique<XmlNode>();
        node->parent = parent;
        m_at++; // '<'
        node->name = Name();
        if (node->name.empty())
        {
            m_error = "an element without a name";
            return nullptr;
        }
        for (;;)
        {
            Skip();
            if (Starts("/>"))
            {
                m_at += 2;
                return node;
            }
            if (Starts(">"))
            {
                m_at++;
                break;
            }
            std::string key = Name();
            Skip();
            if (key.empty() || !Starts("="))
            {
                m_error = "a bad attribute in <" + node->name + ">";
                return nullptr;
            }
            m_at++;
            Skip();
            if (m_at >= m_s.size() || (m_s[m_at] != '"' && m_s[m_at] != '\''))
            {
                m_error = "an attribute value without quotes";
                return nullptr;
            }
            char q = m_s[m_at++];
            size_t end = m_s.find(q, m_at);
            if (end == std::string::npos)
            {
                m_error = "an attribute value without its end";
                return nullptr;
            }
            std::string value;
            if (!Entities(m_s.substr(m_at, end - m_at), value))
            {
                return nullptr;
            }
            if (!node->attributes.emplace(key, value).second)
            {
                m_error = "attribute " + key + " twice in <" + node->name + ">";
                return nullptr;
            }
            m_at = end + 1;
        }
        for (;;)
        {
            size_t lt = m_s.find('<', m_at);
            if (lt == std::string::npos)
            {
                m_error = "<" + node->name + "> is not closed";
                return nullptr;
            }
            if (!Entities(m_s.substr(m_at, lt - m_at), node->text))
            {
                return nullptr;
            }
            m_at = lt;
            if (Starts("</"))
            {
                m_at += 2;
                std::string closing = Name();
                Skip();
                if (closing != node->name || !Starts(">"))
                {
                    m_error = "</" + closing + "> closes <" + node->name + ">";
                    return nullptr;
                }
                m_at++;
                return node;
            }
            if (Starts("<!--") || Starts("<?"))
            {
                SkipSpecial();
                continue;
            }
            std::unique_ptr<XmlNode> child = Element(node.get());
            if (!child)
            {
                return nullptr;
            }
            node->children.push_back(std::move(child));
        }
    }

    const std::string &m_s;
    size_t m_at = 0;
    std::string m_error;
};

struct Matrix
{
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0; // x' = a x + c y + e; y' = b x + d y + f
    Point Apply(Point p) const
    {
        return {a * p.x + c * p.y + e, b * p.x + d * p.y + f};
    }
    Matrix Then(const Matrix &m) const // this first, then m
    {
        Matrix r;
        r.a = m.a * a + m.c * b;
        r.b = m.b * a + m.d * b;
        r.c = m.a * c + m.c * d;
        r.d = m.b * c + m.d * d;
        r.e = m.a * e + m.c * f + m.e;
        r.f = m.b * e + m.d * f + m.f;
        return r;
    }
};

// The transform attribute's translate and rotate operations, as one matrix.
Matrix Parse(const std::string &transform)
{
    Matrix total;
    std::string s = transform;
    std::replace(s.begin(), s.end(), ',', ' ');
    size_t at = 0;
    while (at < s.size())
    {
        size_t open = s.find('(', at), close = s.find(')', at);
        if (open == std::string::npos || close == std::string::npos)
        {
            break;
        }
        std::string op = s.substr(at, open - at);
        op.erase(0, op.find_first_not_of(' '));
        op.erase(op.find_last_not_of(' ') + 1);
        std::istringstream args(s.substr(open + 1, close - open - 1));
        std::vector<double> v;
        for (double x; args >> x;)
        {
            v.push_back(x);
        }
        Matrix m;
        if (op == "translate" && !v.empty())
        {
            m.e = v[0];
            m.f = v.size() > 1 ? v[1] : 0;
        }
        else if (op == "rotate" && !v.empty())
        {
            const double r = v[0] * 3.14159265358979323846 / 180, cx = v.size() > 2 ? v[1] : 0,
                         cy = v.size() > 2 ? v[2] : 0;
            Matrix to, rot, back;
            to.e = -cx;
            to.f = -cy;
            rot.a = std::cos(r);
            rot.b = std::sin(r);
            rot.c = -std::sin(r);
            rot.d = std::cos(r);
            back.e = cx;
            back.f = cy;
            m = to.Then(rot).Then(back);
        }
        // SVG applies the rightmost operation first.
        total = m.Then(total);
        at = close + 1;
    }
    return total;
}

} // namespace

std::string XmlNode::Attr(const std::string &key) const
{
    auto it = attributes.find(key);
    return it == attributes.end() ? std::string() : it->second;
}

double XmlNode::Number(const std::string &key) const
{
    const std::string v = Attr(key);
    char *end = nullptr;
    const double d = std::strtod(v.c_str(), &end);
    return v.empty() || *end != 0 ? std::nan("") : d;
}

bool XmlNode::HasClass(const std::string &cls) const
{
    std::istringstream words(Attr("class"));
    for (std::string w; words >> w;)
    {
        if (w == cls)
        {
            return true;
        }
    }
    return false;
}

std::vector<const XmlNode *> XmlNode::Find(const std::function<bool(const XmlNode &)> &match) const
{
    std::vector<const XmlNode *> found;
    for (const auto &c : children)
    {
        if (match(*c))
        {
            found.push_back(c.get());
        }
        std::vector<const XmlNode *> below = c->Find(match);
        found.insert(found.end(), below.begin(), below.end());
    }
    return found;
}

std::vector<const XmlNode *> XmlNode::FindClass(const std::string &cls) const
{
    return Find([&cls](const XmlNode &n) { return n.HasClass(cls); });
}

std::string XmlNode::AllText() const
{
    std::string t = text;
    for (const auto &c : children)
    {
        t += c->AllText();
    }
    return t;
}

std::unique_ptr<XmlNode> ParseXml(const std::string &text, std::string &error)
{
    Parser p(text);
    return p.Document(error);
}

Point ToDocument(const XmlNode &element, Point p)
{
    Matrix m;
    for (const XmlNode *n = &element; n != nullptr; n = n->parent)
    {
        m = m.Then(Parse(n->Attr("transform")));
    }
    return m.Apply(p);
}

Box DocumentBox(const XmlNode &element)
{
    const double x = element.Number("x"), y = element.Number("y");
    const double w = element.Number("width"), h = element.Number("height");
    const double x0 = std::isnan(x) ? 0 : x, y0 = std::isnan(y) ? 0 : y;
    Box box{1e300, 1e300, -1e300, -1e300};
    for (Point c : {Point{x0, y0}, Point{x0 + w, y0}, Point{x0, y0 + h}, Point{x0 + w, y0 + h}})
    {
        Point d = ToDocument(element, c);
        box.left = std::min(box.left, d.x);
        box.top = std::min(box.top, d.y);
        box.right = std::max(box.right, d.x);
        box.bottom = std::max(box.bottom, d.y);
    }
    return box;
}

bool Box::Inside(const Box &outer, double slack) const
{
    return left >= outer.left - slack && top >= outer.top - slack && right <= outer.right + slack &&
           bottom <= outer.bottom + slack;
}

} // namespace jobtool_test
