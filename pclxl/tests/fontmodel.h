// What a printer draws for each text of a document, as PCL XL keeps fonts:
// for tests that ask whether a page prints the same characters wherever it
// stands in a job.
//
// Fonts live for the session: BeginFontHeader ... EndFontHeader defines a
// font under a name (defining a name that exists is an error), BeginChar ...
// ReadChar ... EndChar downloads characters into a defined font (a code
// downloaded again replaces its character), RemoveFont forgets a name.
// SetFont selects a font (a downloaded one, or one the printer has) into the
// graphics state, which PushGS saves, PopGS restores and BeginPage resets.
// Text and TextPath draw their codes with the selected font as it is at that
// moment.
#pragma once

#include <pclxl/pclxl.h>

#include <string>
#include <vector>

namespace fontmodel
{

// One Text or TextPath: per code, what it draws.
struct Drawn
{
    std::string font;                         // "downloaded" or "resident NAME", with the SetFont's other attributes
    std::vector<std::vector<uint8_t>> glyphs; // per code: font header and character data; empty when undefined
    bool operator==(const Drawn &o) const
    {
        return font == o.font && glyphs == o.glyphs;
    }
};

struct Drawing
{
    std::vector<std::vector<Drawn>> pages; // per page, its texts in order
    std::string error;                     // the first thing a printer would refuse, if any
};

// Runs the document's commands in order. With downloadedOnly, texts drawn
// with fonts the printer has (the driver's own watermark, instruction page)
// are left out. Texts inside a watermark fragment are always left out.
Drawing Draw(const std::vector<uint8_t> &document, bool downloadedOnly = false);

// The document with its pages in another order (1-based page numbers; a
// page may repeat or be left out): job header, those pages, job trailer.
std::vector<uint8_t> Reordered(const std::vector<uint8_t> &document, const std::vector<size_t> &order);

} // namespace fontmodel
