// The rendering driver's view of a PCL XL document: the job header, the
// pages and the trailer, reshaped so that the hook may send the pages in any
// order, any number of times, with its fragments in front of them.
#pragma once

#include <pclxl/bytesource.h>
#include <pclxl/pclxl.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jobtool
{

using Bytes = std::vector<uint8_t>;

// A paper size by its PCL XL MediaSize value, with the Windows paper number
// and its portrait size.
struct Paper
{
    uint8_t mediaSize;
    short dmPaperSize;
    double widthInch;
    double heightInch;
    const char *name;
};
// The paper for a MediaSize value; A4 for values the table does not hold.
const Paper &PaperForMediaSize(uint8_t mediaSize);
// The paper for a Windows paper number; nullptr when the table does not hold it.
const Paper *PaperForDmPaper(short dmPaperSize);

struct Span
{
    size_t begin = 0;
    size_t end = 0;
};

struct PreparedPage
{
    size_t number = 0;       // in the input document, from 1
    uint8_t orientation = 1; // as the page-start marker codes it: 1 portrait, 2 landscape
    Bytes begin;             // BeginPage with its attribute list
    Bytes end;               // EndPage with its attribute list
    // Read by LoadPage, dropped by UnloadPage: one page is held at a time.
    Bytes body;  // what lies between BeginPage and EndPage
    Bytes after; // session-level data up to the next page, when it could not go to the header
    // Offsets in body where a command begins, ascending: every command's,
    // or, from a scan, only those where Chunks() cuts the body.
    std::vector<size_t> cuts;
    std::optional<Span> text; // the run of text commands that deferred text holds back

    // Where the page lies in the document it was scanned from.
    size_t bodyBegin = 0;
    size_t bodyEnd = 0;
    std::vector<Span> hoisted; // downloads moved to the job header: left out of the body
    Span afterRange;           // session data after the page that stays with it
};

struct PreparedDocument
{
    Bytes header;
    size_t copyPos = 0; // offset in header where a PJL line may be inserted
    bool pjl = false;   // the header opens with PJL
    Bytes trailer;
    std::vector<PreparedPage> pages;
    uint8_t mediaSize = pclxl::val::eA4Paper; // the first page's
    double unitsPerInch = 600;
    // Page 1's body as an overlay: self-contained (its own font downloads,
    // renamed) and repeatable (those fonts are removed at its end).
    Bytes overlayBody;
    std::vector<std::string> overlayNotes;
    std::vector<std::string> notes; // what the preparation changed, for the user
};

struct PrepareResult
{
    std::optional<PreparedDocument> doc;
    std::string error; // where and why the input is refused
};

// Reads and reshapes a PCL XL document:
// - downloaded fonts and characters of the pages, and whatever lies between
//   pages, move into the job header, so that every page finds them whatever
//   order the pages are printed in (kept in place, with a note, when a font
//   or character is defined twice or fonts are removed);
// - BeginPage leaves out MediaSource and MediaDestination: the driver's
//   lead-in fragments carry them;
// - with pageCopies > 0 every EndPage carries PageCopies = pageCopies (the
//   printer repeats each page: uncollated copies).
// Refuses input that is not a sound PCL XL document, is big-endian (the
// hook's fragments are little-endian) or has no page.
PrepareResult Prepare(const Bytes &pxl, uint16_t pageCopies);

// The same in two steps, so that a document of any size goes through in
// memory bounded by its largest page: PrepareScan reads the document once
// and keeps everything but the page bodies; LoadPage reads one page's body,
// its cuts only the chunk boundaries of the ranges Chunks() will be asked
// for (the text run on its own when deferText is set).
struct PrepareOptions
{
    uint16_t pageCopies = 0;
    bool deferText = false;
};
PrepareResult PrepareScan(pclxl::ByteSource &document, const PrepareOptions &options);
// onItsOwn: the body is read again as a page on its own (checked as such,
// every command's start a cut), as the whole-document form does.
bool LoadPage(pclxl::ByteSource &document, PreparedPage &page, std::string &error, bool onItsOwn = false);
void UnloadPage(PreparedPage &page);

// Splits body[from, to) at command starts into pieces of about cbMax bytes
// (a larger command goes whole): the rendering driver's buffers. A piece
// always begins with a command, so it never looks like a marker.
std::vector<Bytes> Chunks(const PreparedPage &page, size_t from, size_t to, size_t cbMax = 4096);

// The commands of a fragment read in the given context, or an error.
struct Commands
{
    pclxl::TokenList tokens;
    pclxl::Structure structure;
    bool ok() const
    {
        return tokens.ok() && structure.ok();
    }
    std::string error() const;
};
Commands ReadCommands(pclxl::Bytes data, pclxl::Context context, bool requireComplete = true);

// Value-attribute pairs of a command's attribute list, as bytes.
struct AttributeBytes
{
    uint16_t id = 0;
    Bytes value;      // the value token
    Bytes pair;       // value and attribute id
    size_t begin = 0; // offset of the value in the data
    size_t end = 0;   // offset after the attribute id
};
std::vector<AttributeBytes> AttributeList(pclxl::Bytes data, const pclxl::Command &command);

} // namespace jobtool
