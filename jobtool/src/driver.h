// The printer's rendering driver, as the job tool plays it: from a PCL XL
// document and the user's print options, the settings block and the stream
// of buffers, marker records and text markers that kd7720um receives.
#pragma once

#include "prepare.h"

#include "spoolsim.h"

#include <optional>
#include <string>
#include <vector>

namespace jobtool
{

enum class PageSet
{
    All,
    Odd,
    Even
};

enum class BookletKind
{
    None,
    Printer, // the printer prints both sides
    Manual   // one side, the user turns the stack, the other side
};

enum class Interleave
{
    None,
    SamePage, // the separator repeats the transparency's page
    LastPage  // the separators carry the document's last page
};

// The print options of one job, as lpr-like command-line options set them.
struct JobOptions
{
    int copies = 1;
    bool collate = false;
    bool copyCommand = false;
    bool reverse = false;
    PageSet pageSet = PageSet::All;
    bool manualDuplex = false;
    bool descending = false; // second pass of manual duplex and manual booklet
    bool instructionPage = false;
    BookletKind booklet = BookletKind::None;
    int direction = 0; // booklet reading direction
    Interleave transparency = Interleave::None;
    bool transparencyFirst = false;
    std::optional<std::string> watermark;
    int wmSize = 72;
    int wmAngle = 45;
    bool wmOutline = false;
    bool wmFirstPage = false;
    std::optional<std::string> overlayCreate; // Windows path
    std::optional<std::string> overlay;       // Windows path
    bool ask = false;
    bool deferText = false;
    bool passThrough = false;
    int orientation = 0; // 0: the first page's; else DMORIENT_PORTRAIT or DMORIENT_LANDSCAPE
    std::string documentName;
};

// Empty when the options can be printed together; else why not.
std::string CheckOptions(const JobOptions &options);

// The stream of the rendering driver's fixed pieces, shared with explain.
namespace driver
{
extern const char kOverlayStream[]; // StreamName of the overlay definition
// The lead-in fragments: one BeginPage attribute each. Lead-in 1 feeds
// separator sheets and first passes from the automatic source; lead-in 2
// sends transparencies and second passes to the face-up bin.
Bytes LeadIn1();
Bytes LeadIn2();
// The copy command: a PJL line (with the PJL prelude around it when the
// document opens without PJL) that asks the printer for collated copies.
Bytes CopyCommand(int copies, bool prelude);
// The page the manual-duplex and booklet instructions print on, as installed
// in the driver directory for a printer with this resolution and paper.
Bytes InstructionPage(bool landscape, double unitsPerInch, uint8_t mediaSize);
// BeginStream of the overlay definition, the call a page makes, the end.
Bytes OverlayBegin();
Bytes OverlayCall();
Bytes OverlayEnd();
} // namespace driver

// The document with its font and character downloads moved into the job
// header, so that every page prints the same in any order (see
// pclxl::relocateDownloads), and what that changed in `notes`. When they
// cannot be moved, the document as it is, with the reason in `why`.
Bytes Reorderable(const Bytes &pxl, std::vector<std::string> &notes, std::string &why);

// The settings block for the options and the document.
DRVDEVMODE MakeSettings(const JobOptions &options, const PreparedDocument &doc);
// Whether the hook spools a job with these settings (and so needs the
// page-start and end markers).
bool Spools(const DRVDEVMODE &dm);

// The booklet layout record for the document and settings, and the EndPage
// fragment that the end marker repeats.
struct BookletLayout
{
    spoolsim::markers::BookletRecord record;
    Bytes endPage;
};
BookletLayout MakeBookletLayout(const PreparedDocument &doc, const DRVDEVMODE &dm);

struct MadeJob
{
    bool ok = false;                  // the steps are all made
    size_t steps = 0;                 // how many
    std::optional<spoolsim::Job> job; // the whole job, from the form that holds it
    bool usage = false;               // the error is about the options, not the document
    std::string error;
    std::vector<std::string> notes;
    // What the stream holds, for the user: pages, markers and where the job goes.
    std::string summary;
};

// The job of a PCL XL document, its steps into `sink` as they are made: a
// document of any size goes through in memory bounded by its largest page.
// The document's font downloads are relocated into `scratch` (a file,
// removed at the end; empty: in memory). pagesOnTheirOwn: each page is read
// again on its own (see LoadPage), as the whole-document form does.
MadeJob MakeJob(pclxl::ByteSource &document, const JobOptions &options, spoolsim::StepSink &sink,
                const std::string &scratch, bool pagesOnTheirOwn = false);
// The same for a document in memory, the job held whole in `job`; each page
// read again on its own.
MadeJob MakeJob(const Bytes &pxl, const JobOptions &options);

} // namespace jobtool
