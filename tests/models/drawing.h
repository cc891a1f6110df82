// What a printer does with a decoration's drawing data (the hook's
// watermark fragment): the state each drawing command needs and what its
// raster operation does to the page, by the models of this folder.
#pragma once

#include "rop3.h"

#include <pclxl/pclxl.h>

#include <string>
#include <vector>

namespace models
{

struct Painted
{
    int paints = 0;      // Text, TextPath and PaintPath commands
    std::string problem; // the first state a printer would lack, or an ink a person would not expect
    std::vector<uint8_t> rops;
};

// Walks the data with the state a printer keeps, starting from what any page
// may have set before the marker (an RGB colour space, the fragment's ROP
// 252, no font), and checks each drawing: the colour space its colours are
// given in, a font for text, a spacing per character, and a raster operation
// that only adds ink.
inline Painted CheckDrawing(const std::vector<pclxl::Command> &cmds)
{
    namespace op = pclxl::op;
    namespace attr = pclxl::attr;
    Painted p;
    bool gray = false, font = false;
    uint8_t rop = 252;
    auto fail = [&p](const std::string &why) {
        if (p.problem.empty())
        {
            p.problem = why;
        }
    };
    for (const pclxl::Command &c : cmds)
    {
        switch (c.op)
        {
        case op::SetColorSpace:
            gray = c.find(attr::ColorSpace) && c.find(attr::ColorSpace)->value.number() == pclxl::val::eGray;
            break;
        case op::SetBrushSource:
        case op::SetPenSource:
            if (c.find(attr::GrayLevel) && !gray)
            {
                fail(std::string(c.name()) + " gives a gray level before a gray colour space");
            }
            break;
        case op::SetROP:
            if (c.find(attr::ROP3) == nullptr)
            {
                fail("SetROP without ROP3");
                break;
            }
            rop = static_cast<uint8_t>(c.find(attr::ROP3)->value.number());
            break;
        case op::SetFont:
            font = true;
            break;
        case op::Text:
        case op::TextPath: {
            if (!font)
            {
                fail(std::string(c.name()) + " before SetFont");
            }
            const pclxl::Attribute *text = c.find(attr::TextData);
            const pclxl::Attribute *dx = c.find(attr::XSpacingData);
            if (!text || !dx || dx->value.count() != text->value.count())
            {
                fail(std::string(c.name()) + " without an XSpacingData entry per character");
            }
            break;
        }
        default:
            break;
        }
        if (c.op == op::Text || c.op == op::PaintPath)
        {
            p.paints++;
            p.rops.push_back(rop);
            std::string why = models::OnlyAddsInk(rop);
            if (!why.empty())
            {
                fail(why);
            }
        }
    }
    return p;
}

} // namespace models
