#include "fontmodel.h"

#include <map>
#include <memory>

namespace fontmodel
{

namespace
{

namespace op = pclxl::op;
namespace attr = pclxl::attr;

struct Font
{
    std::vector<uint8_t> header;
    std::map<uint32_t, std::vector<uint8_t>> chars;
};

struct Selection
{
    std::shared_ptr<Font> font; // null for a font the printer has
    std::string description;
};

std::string Name(const pclxl::Command &c)
{
    const pclxl::Attribute *a = c.find(attr::FontName);
    return a ? a->value.text() : std::string();
}

std::vector<uint8_t> Payload(const std::vector<uint8_t> &doc, const pclxl::Command &c)
{
    return std::vector<uint8_t>(doc.begin() + static_cast<long>(c.payload_offset),
                                doc.begin() + static_cast<long>(c.payload_offset + c.payload_length));
}

// SetFont's attributes other than its name, as text.
std::string Attributes(const pclxl::Command &c)
{
    std::string s;
    for (const pclxl::Attribute &a : c.attributes)
    {
        if (a.id != attr::FontName)
        {
            s += " " + std::to_string(a.id) + "=";
            for (double v : a.value.numbers)
            {
                s += std::to_string(v) + ",";
            }
        }
    }
    return s;
}

} // namespace

Drawing Draw(const std::vector<uint8_t> &document, bool downloadedOnly)
{
    Drawing d;
    pclxl::Document doc = pclxl::readDocument(pclxl::Bytes(document));
    if (!doc.ok())
    {
        d.error = doc.error->message();
        return d;
    }
    std::map<std::string, std::shared_ptr<Font>> fonts;
    std::shared_ptr<Font> building;
    std::string buildingName;
    std::shared_ptr<Font> loading;
    std::vector<Selection> gs(1);
    int watermarkDepth = 0; // PushGS depth inside a watermark fragment
    auto fail = [&d](const pclxl::Command &c, const std::string &why) {
        if (d.error.empty())
        {
            d.error = "offset " + std::to_string(c.begin) + ": " + why;
        }
    };
    const std::vector<pclxl::Command> &cmds = doc.commands;
    for (size_t i = 0; i < cmds.size(); i++)
    {
        const pclxl::Command &c = cmds[i];
        const std::string name = Name(c);
        switch (c.op)
        {
        case op::BeginFontHeader:
            if (fonts.count(name))
            {
                fail(c, "font \"" + name + "\" is defined again");
            }
            building = std::make_shared<Font>();
            buildingName = name;
            break;
        case op::ReadFontHeader:
            if (building)
            {
                std::vector<uint8_t> p = Payload(document, c);
                building->header.insert(building->header.end(), p.begin(), p.end());
            }
            break;
        case op::EndFontHeader:
            if (building)
            {
                fonts[buildingName] = building;
            }
            building.reset();
            break;
        case op::BeginChar:
            loading = fonts.count(name) ? fonts[name] : nullptr;
            if (!loading)
            {
                fail(c, "characters for font \"" + name + "\", which is not defined");
            }
            break;
        case op::ReadChar:
            if (loading && c.find(attr::CharCode))
            {
                loading->chars[static_cast<uint32_t>(c.find(attr::CharCode)->value.number())] = Payload(document, c);
            }
            break;
        case op::EndChar:
            loading.reset();
            break;
        case op::RemoveFont:
            if (fonts.erase(name) == 0)
            {
                fail(c, "RemoveFont of font \"" + name + "\", which is not defined");
            }
            break;
        case op::BeginPage:
            d.pages.emplace_back();
            gs.assign(1, Selection());
            watermarkDepth = 0;
            break;
        case op::PushGS: {
            const bool fragment = i + 2 < cmds.size() && cmds[i + 1].op == op::SetClipToPage &&
                                  cmds[i + 2].op == op::SetROP && cmds[i + 2].find(attr::ROP3) &&
                                  cmds[i + 2].find(attr::ROP3)->value.number() == 252;
            if (watermarkDepth > 0 || fragment)
            {
                watermarkDepth++;
            }
            gs.push_back(gs.back());
            break;
        }
        case op::PopGS:
            watermarkDepth = watermarkDepth > 0 ? watermarkDepth - 1 : 0;
            if (gs.size() > 1)
            {
                gs.pop_back();
            }
            break;
        case op::SetFont: {
            Selection s;
            auto it = fonts.find(name);
            s.font = it != fonts.end() ? it->second : nullptr;
            s.description = (s.font ? std::string("downloaded") : "resident \"" + name + "\"") + Attributes(c);
            gs.back() = s;
            break;
        }
        case op::Text:
        case op::TextPath: {
            const Selection &s = gs.back();
            if (watermarkDepth > 0 || (downloadedOnly && !s.font) || d.pages.empty())
            {
                break;
            }
            if (s.description.empty())
            {
                fail(c, std::string(c.name()) + " without a font");
            }
            Drawn t;
            t.font = s.description;
            const pclxl::Attribute *text = c.find(attr::TextData);
            for (double v : text ? text->value.numbers : std::vector<double>())
            {
                std::vector<uint8_t> glyph;
                if (s.font)
                {
                    auto ch = s.font->chars.find(static_cast<uint32_t>(v));
                    if (ch == s.font->chars.end())
                    {
                        fail(c, "code " + std::to_string(static_cast<uint32_t>(v)) + " is not downloaded");
                    }
                    else
                    {
                        glyph = s.font->header;
                        glyph.insert(glyph.end(), ch->second.begin(), ch->second.end());
                    }
                }
                else
                {
                    glyph.assign(1, static_cast<uint8_t>(v));
                }
                t.glyphs.push_back(glyph);
            }
            d.pages.back().push_back(t);
            break;
        }
        default:
            break;
        }
    }
    return d;
}

std::vector<uint8_t> Reordered(const std::vector<uint8_t> &document, const std::vector<size_t> &order)
{
    pclxl::Document doc = pclxl::readDocument(pclxl::Bytes(document));
    std::vector<uint8_t> out(document.begin(), document.begin() + static_cast<long>(doc.job_header.end));
    for (size_t k : order)
    {
        const pclxl::Range &r = doc.pages[k - 1].range;
        out.insert(out.end(), document.begin() + static_cast<long>(r.begin),
                   document.begin() + static_cast<long>(r.end));
    }
    out.insert(out.end(), document.begin() + static_cast<long>(doc.job_trailer.begin), document.end());
    return out;
}

} // namespace fontmodel
