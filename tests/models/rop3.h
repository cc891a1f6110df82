// A model of PCL's raster operations, written from the printer language's
// documentation, for tests that ask what a drawing does to the page.
//
// A ROP3 code is a truth table: bit (4T + 2S + D) of the code is the result
// for texture bit T, source bit S and destination bit D, with 1 white and 0
// black (the RGB convention PCL takes from Windows). The source and pattern
// transparency modes change the result as PCL's print model describes.
// Gray levels are 8-bit values, 0 black and 255 white, combined bit by bit
// (as they are after halftoning, pixel by pixel). A filled or stroked shape
// paints its brush or pen as the texture through a black source.
#pragma once

#include <cstdint>
#include <string>

namespace models
{

inline uint8_t Rop3(uint8_t rop, uint8_t d, uint8_t s, uint8_t t)
{
    uint8_t out = 0;
    for (int bit = 0; bit < 8; bit++)
    {
        const int index = (((t >> bit) & 1) << 2) | (((s >> bit) & 1) << 1) | ((d >> bit) & 1);
        out = static_cast<uint8_t>(out | (((rop >> index) & 1) << bit));
    }
    return out;
}

// The result with the transparency modes: the white pixels of a transparent
// source or pattern have no effect on the destination.
inline uint8_t Paint(uint8_t rop, uint8_t d, uint8_t s, uint8_t t, bool sourceTransparent, bool patternTransparent)
{
    uint8_t r = Rop3(rop, d, s, t);
    if (sourceTransparent)
    {
        r = static_cast<uint8_t>((r & ~s) | (d & s));
    }
    if (patternTransparent)
    {
        r = static_cast<uint8_t>((r & ~t) | (d & t));
    }
    return r;
}

// Whether painting with this ROP can only darken: every result bit that is
// white was white in the destination, for every source, texture and
// transparency mode; empty when so, else a counterexample.
inline std::string EvaluateOnlyAddsInk(uint8_t rop)
{
    for (int mode = 0; mode < 4; mode++)
    {
        for (int d = 0; d < 256; d += 5)
        {
            for (int s = 0; s < 256; s += 17)
            {
                for (int t = 0; t < 256; t += 3)
                {
                    const uint8_t r = Paint(rop, static_cast<uint8_t>(d), static_cast<uint8_t>(s),
                                            static_cast<uint8_t>(t), (mode & 1) != 0, (mode & 2) != 0);
                    if ((r & ~d) != 0)
                    {
                        return "ROP " + std::to_string(rop) + " turns destination " + std::to_string(d) + " into " +
                               std::to_string(r) + " (source " + std::to_string(s) + ", texture " + std::to_string(t) +
                               ", transparency mode " + std::to_string(mode) + ")";
                    }
                }
            }
        }
    }
    return std::string();
}

// The same, worked out once per ROP.
inline std::string OnlyAddsInk(uint8_t rop)
{
    static std::string answers[256];
    static bool known[256] = {};
    if (!known[rop])
    {
        answers[rop] = EvaluateOnlyAddsInk(rop);
        known[rop] = true;
    }
    return answers[rop];
}

} // namespace models
