// A whole PCL XL document: tokens, structure check and its division into
// job header, pages and job trailer.
#pragma once

#include "pclxl/reader.h"
#include "pclxl/structure.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace pclxl
{

// Bytes [begin, end) of the input.
struct Range
{
    size_t begin = 0;
    size_t end = 0;

    size_t size() const
    {
        return end - begin;
    }
    bool empty() const
    {
        return end == begin;
    }
};

struct Page
{
    size_t number = 0; // 1 for the first page
    // From the first byte of BeginPage's attribute list to the end of EndPage
    // (EndPage's own attributes included).
    Range range;
    // From right after the BeginPage byte to the first byte of EndPage's
    // attribute list: insert at body.begin to put something first on the
    // page, at body.end to put it last.
    Range body;
    size_t begin_command = 0; // indices into Document::commands
    size_t end_command = 0;
    std::vector<Attribute> attributes;     // BeginPage's
    std::vector<Attribute> end_attributes; // EndPage's (PageCopies)

    // The BeginPage or EndPage attribute with this id, or nullptr.
    const Attribute *attribute(uint16_t id) const;
    // Orientation value, when BeginPage gives one.
    std::optional<uint8_t> orientation() const;
    bool isLandscape() const; // eLandscapeOrientation or eReverseLandscape
    // "ePortraitOrientation", or "" when not given.
    std::string orientationName() const;
    // "eA4Paper", or the name in a MediaSize array, or "" when not given.
    std::string mediaSizeName() const;
    // "eAutoSelect", or "" when not given.
    std::string mediaSourceName() const;
    // PageCopies of EndPage, when given.
    std::optional<uint32_t> copies() const;
};

struct Document
{
    std::optional<StreamHeader> header; // the stream header (binding and " HP-PCL XL;...")
    Endian endian = Endian::Little;
    std::vector<Token> tokens;
    std::vector<Command> commands;
    std::vector<StreamDefinition> streams;
    // Everything before the first page (PJL, stream header, BeginSession,
    // OpenDataSource, ...); the whole input when there is no page.
    Range job_header;
    std::vector<Page> pages; // complete pages only (BeginPage through EndPage)
    // Everything after the last page (CloseDataSource, EndSession, universal exit, PJL).
    Range job_trailer;
    // The first fault: from the tokenizer or the structure check, whichever comes first.
    std::optional<Error> error;

    bool ok() const
    {
        return !error.has_value();
    }
};

// Tokenizes, checks and splits data. With require_complete false a document
// that stops early (a prefix) is accepted as long as what is there is sound.
Document readDocument(Bytes data, const ReadOptions &read = {}, const CheckOptions &check = {});

// The pages of a command list (pairs of BeginPage and EndPage at the same level).
std::vector<Page> findPages(const std::vector<Command> &commands);

} // namespace pclxl
