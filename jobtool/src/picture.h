// A picture of the sheets: every sheet side the printer receives, in order,
// with the pages on it where they print (booklet halves, turned pages), what
// the hook adds (lead-ins, separators, watermark, overlay) marked, and for a
// job printed in two passes the turn of the stack between them. Written as
// SVG; each page shows its thumbnail when one is given, else its number.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace jobtool
{

// Where a page lies on its side: the whole side, or one half of it.
enum class Slot
{
    Whole,
    Left,
    Right,
    Top,
    Bottom
};
const char *SlotName(Slot slot); // "whole", "left", ...

struct PicturePage
{
    int page = 0; // the input page; 0: a blank half
    Slot slot = Slot::Whole;
    // The page's own size, as it reads (a landscape page is wider than high).
    double widthInch = 8.27;
    double heightInch = 11.69;
    // How the page lies on the side, in degrees clockwise: 0, 90, 180 or 270.
    int turn = 0;
    bool instructionPage = false; // the driver's instruction page, not an input page
    std::string watermark;        // the watermark's text, when the page carries one
    bool overlay = false;         // the page prints over the overlay
};

struct PictureSide
{
    std::string label;       // "sheet 3", "sheet 1, outer side", ...; empty: "side N"
    double widthInch = 8.27; // the side as it is looked at: a booklet side lies with its fold upright
    double heightInch = 11.69;
    std::vector<PicturePage> pages;
    std::string leadIn;        // the lead-in before the side ("lead-in 1: MediaSource=eAutoSelect"); empty: none
    bool separator = false;    // a separator sheet between transparencies
    bool transparency = false; // printed on a transparency
    bool overlay = false;      // the side prints over the overlay (booklets: once per side)
    int copies = 1;            // the printer repeats the side this many times
    std::string note;          // anything else worth a word ("matches no input page")
};

// One spooler document: one pass through the printer.
struct PictureDocument
{
    std::string title; // "document 1: x-1.pxl", "job Q-12 on queue Q"
    std::vector<PictureSide> sides;
};

struct Picture
{
    std::string title;
    std::vector<PictureDocument> documents;
    // What happens between the first and the second document of a job
    // printed in two passes; empty when the documents follow each other.
    std::vector<std::string> turn;
};

// A page's thumbnail as PNG data, or nothing (the page then shows its number).
using ThumbnailSource = std::function<std::optional<std::vector<uint8_t>>(int page)>;

// Writes the SVG. A page's thumbnail goes into the picture once, however
// often the page prints.
void DrawPicture(std::ostream &out, const Picture &picture, const ThumbnailSource &thumbnails = nullptr);
// The same into a file; false, and why, when it cannot be written.
bool WritePicture(const std::string &path, const Picture &picture, const ThumbnailSource &thumbnails,
                  std::string &error);

std::string Base64(const std::vector<uint8_t> &data);

} // namespace jobtool
