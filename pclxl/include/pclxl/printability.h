// Whether a printer would print a well-formed PCL XL stream: the state an
// interpreter keeps between commands, followed one command at a time.
//
// - Colour: SetBrushSource and SetPenSource with a colour (GrayLevel,
//   RGBColor, PrimaryArray, PaletteIndex), BeginImage and BeginRastPattern
//   need a colour space set by SetColorSpace on the page; the colour space
//   is part of the graphics state, which PushGS saves, PopGS restores and
//   BeginPage resets. A gray level needs the gray colour space, an RGB
//   colour the RGB one.
// - Fonts live for the session: BeginFontHeader ... EndFontHeader defines a
//   font (a name that is already defined and not removed by RemoveFont is
//   refused), BeginChar needs a font whose header is complete, and Text or
//   TextPath needs a font selected by SetFont and, when that font is a
//   downloaded one, every character it draws downloaded before it.
//   A printer has fonts of its own whose names no document says, so a name
//   SetFont selects that is not downloaded is taken for one of the
//   printer's; except when the name was clearly meant as a download: the
//   session downloads a font of that name after a Text drew with it (the
//   download came too late), or removed it before.
// - Streams: ExecStream needs a stream defined before it (BeginStream ...
//   EndStream); the stream's commands are then followed as if they stood
//   there.
// - Pages: drawing needs BeginPage; the attributes this check reads must
//   be present and of the shape the operators take.
// - Placement: where the page's drawing lands on the sheet, by the page
//   transformation (SetPageOrigin, SetPageRotation, SetPageScale) and the
//   sheet the BeginPage asks for. A sheet side's page does not say how large
//   the page drawn on it was meant to be (a booklet half carries a page
//   without its BeginPage), so the drawing area is taken from where the
//   page draws: where text starts, the middle of boxes and images, the end
//   points of lines and curves. A stretch of drawing under one transformation of which most
//   positions fall off the sheet is refused: the person gets a blank sheet
//   or half.
//
// Memory is bounded by the fonts, characters and streams the input defines
// (and the font names it selects), not by its length.
#pragma once

#include "pclxl/commandreader.h"
#include "pclxl/pagegeometry.h"
#include "pclxl/structure.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace pclxl
{

struct PrintabilityOptions
{
    // Document: a whole stream. Page: a page body (an overlay file, the body
    // of a stream), checked as if it stood first on a fresh page of a sheet
    // of unknown size: it must set up what it draws with.
    Context context = Context::Document;
};

class PrintabilityChecker
{
  public:
    explicit PrintabilityChecker(const PrintabilityOptions &options = {});
    ~PrintabilityChecker();
    // A copy in the same state, which goes on by itself.
    PrintabilityChecker(const PrintabilityChecker &other);
    PrintabilityChecker &operator=(const PrintabilityChecker &) = delete;

    // The next command in stream order (from a CommandReader that decodes
    // every operator's attributes). Commands after the first fault are not
    // looked at.
    void feed(const StreamCommand &command);
    // The same for a command of a token list; `data` is the input its
    // offsets point into (a ReadStream's data are read from it).
    void feed(const Command &command, Bytes data);
    // The same with the command's own bytes (command.begin to command.end),
    // as a one-pass reader hands them out.
    void feed(const Command &command, const uint8_t *bytes);
    // Between pages: a number for what lasts from page to page (fonts,
    // streams, the session's units) that changes whenever that does; 0
    // inside a page, a font or stream download, or after a fault. A page
    // fed with the same number before and after it left nothing behind.
    uint64_t acrossPages() const;
    // Counts a page as fed again, for a page whose bytes are those of one
    // fed between the same acrossPages() number and found printable.
    void repeatPage();
    // The input ended: what only the end shows.
    void finish();

    const std::optional<Error> &error() const;
    bool ok() const
    {
        return !error().has_value();
    }

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// The first thing a printer would refuse in data, or nothing. With the
// Document context data are a whole stream, read command by command; with
// the Page context a page body without stream header. Data that are not
// well-formed PCL XL get the fault that makes them so.
std::optional<Error> checkPrintability(Bytes data, const PrintabilityOptions &options = {});

} // namespace pclxl
