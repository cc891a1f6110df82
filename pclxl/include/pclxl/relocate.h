// Makes a document's pages independent of each other's font downloads, so
// that a printer prints every page the same whatever order (and however many
// times) the pages are sent in.
//
// Producers download a character on the page that first draws it and may
// later download another character under the same font and code (a glyph
// cache that reuses its codes). Moved as they are into the job header, the
// last download of a code would win and earlier pages would draw the wrong
// characters. So each font is held in the job header as several fonts when
// it must be: each holds, for every code, one of the characters that code
// stood for, and before each Text the page selects the font that holds the
// characters that Text drew. Every font header and character download is
// moved into the job header (right before the first page), the pages' own
// downloads and RemoveFont are left out, and SetFont is rewritten or added
// where a page needs another of the fonts. A document whose pages never
// redefine a character keeps its font names and its SetFont commands.
//
// Two passes over the input, each a streaming read: the first notes where
// every font header and character is and which characters each Text draws
// with which font; the second writes the header with the fonts, then the
// pages. Memory grows with the number of downloads, not with the document.
#pragma once

#include "pclxl/bytesource.h"

#include <cstddef>
#include <string>
#include <vector>

namespace pclxl
{

struct RelocationResult
{
    bool ok = false;
    std::string error;              // why the document cannot be made reorderable
    std::vector<std::string> notes; // what changed, for the user
    size_t fonts = 0;               // fonts defined in the output's job header
    size_t characters = 0;          // characters downloaded there
    size_t downloads = 0;           // font headers and characters the input downloads
    size_t selections = 0;          // SetFont commands added to or renamed in the pages
    size_t peakWindow = 0;          // the most input bytes held at once
    bool unchanged = false;         // nothing was to be moved: the input is the output
};

// Writes `in`, relocated, to `out`. A document without downloads is copied
// unchanged, or with copyUnchanged false not written at all (the caller
// reads `in` itself). Fails (ok false, nothing usable in out) when the input
// is not sound PCL XL or its downloads cannot be moved, saying why.
RelocationResult relocateDownloads(ByteSource &in, ByteSink &out, bool copyUnchanged = true);

} // namespace pclxl
