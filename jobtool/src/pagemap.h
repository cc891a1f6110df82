// "explain": the page map of what reached the printer. Each page of an output
// document is matched by content with the input page it came from; the
// fragments that the hook put in (lead-ins, watermark, overlay, copy
// command) and the booklet sheets' halves are named; and the document is
// checked to be a well-formed PCL XL stream that a printer would print.
#pragma once

#include "digest.h"
#include "laterpages.h"
#include "prepare.h"

#include "spoolsim.h"

#include "pclxl/bytesource.h"
#include "pclxl/structure.h"

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace jobtool
{

// What the output is compared with: the input pages as the rendering driver
// sent them, and the driver's fragments.
struct Reference
{
    // Per input page (index k-1), the digest of the page as it comes out with
    // the hook's fragments taken away; more than one form when the page may
    // come out either way (with or without deferred text). Digests, not the
    // bytes: the pages of a large document would take its size again.
    std::vector<std::vector<PageDigest>> pages;
    // Per input page, its body as a booklet sheet carries it, known by its
    // size, its first bytes and its digest: the bodies themselves would be
    // the document's size again.
    std::vector<BodyKey> bodies;
    std::vector<Bytes> leadIns; // lead-in 1, lead-in 2
    Bytes copyCommand;          // empty when the job has none
    std::vector<Bytes> instructionPages;
    // Booklet layout fragments that come before a page body in a sheet's
    // half: origin (which tells the half), rotation, scale, clip mode.
    std::vector<Bytes> origins; // SetPageOrigin[0] to [3]
    std::vector<Bytes> rotations;
    Bytes scale;
    Bytes clipMode;
    // A booklet's reference: its pages are found by their bodies.
    bool booklet = false;
    // A booklet's: the bytes of the page bodies the job sent. Its sheets
    // carry each body once, so its printed document is no smaller.
    uint64_t bodyBytes = 0;
    // The job prints each page once: the hook makes no collated copies and
    // no transparency separators, so no page is met again.
    bool pagesOnce = false;
    // When set, `pages` (and a booklet's `bodies`) are empty and this makes
    // them: the page map matches its pages when it ends, and waits for a
    // booklet's bodies at its first sheet.
    std::shared_ptr<LaterPages> later;
};

// The reference of a job file's job; empty pages and an error when the job
// does not hold the stream of a PCL XL document.
// The job's steps are read from their source as they are needed; of a
// booklet, one page body at a time is held.
// With pagesLater, a document's page digests or a booklet's bodies are left
// to ref.later (Start it to make them beside other work); job must then
// outlive ref.later.
Reference ReferenceFromJob(const spoolsim::StepSource &job, std::string *error, bool pagesLater = false);
inline Reference ReferenceFromJob(const spoolsim::Job &job, std::string *error)
{
    return ReferenceFromJob(spoolsim::JobSteps(job), error);
}
// The reference of an input document, prepared as "make" prepares it.
Reference ReferenceFromInput(const Bytes &pxl, std::string *error);

struct Fragment
{
    std::string kind; // "lead-in 1", "lead-in 2", "watermark", "overlay", "copy command", "overlay embedding", ...
    size_t offset = 0;
    size_t size = 0;
    std::string text;
};

enum class EntryKind
{
    Header,
    Page,            // a page matched (or not) with an input page
    Sheet,           // a booklet sheet side: input pages in its two halves
    InstructionPage, // the driver's instruction page
    Between,         // data between two pages
    Trailer
};

struct Entry
{
    EntryKind kind = EntryKind::Page;
    size_t offset = 0;
    size_t size = 0;
    int inputPage = 0;      // Page: the input page; 0 when none matches
    int halves[2] = {0, 0}; // Sheet: the input page in each half; 0 for a blank half
    std::string detail;     // orientation, paper, what the data hold
    std::vector<Fragment> fragments;

    bool Has(const std::string &kind) const;
    const Fragment *Find(const std::string &kind) const;
};

struct PageMap
{
    size_t size = 0;
    bool wellFormed = false;
    std::string error; // where and why the document is not well-formed
    // Well-formed, and nothing in it that a printer's interpreter refuses
    // (pclxl/printability.h); a document that is not well-formed is not
    // printable and not looked at further.
    bool printable = false;
    std::string refusal; // where and why a well-formed document is not printable
    std::vector<Entry> entries;

    // The printed pages in order: "3" (input page 3), "?" (no input page),
    // "I" (instruction page), "8|1" (a sheet; "-" for a blank half).
    std::vector<std::string> Sequence() const;
    // The page and sheet entries, in order.
    std::vector<const Entry *> Pages() const;
};

// What a caller of Explain may add to its pass over the document.
struct ExplainHooks
{
    // Called with every command of the document, in order, with its bytes
    // (command.begin to command.end), until the first fault of structure.
    std::function<void(const pclxl::Command &, const uint8_t *)> command;
    // Told of the bytes read and pages found as the pass goes.
    std::function<void(uint64_t bytes, size_t pages)> progress;
    // The later pages of a document that prints each page once (a booklet
    // or a job without collated copies) are read by a second pass on
    // another thread, beside the first, when at least twice this much of
    // the document is left once its size is known; 0: never.
    uint64_t secondPassFrom = 1u << 20;
    // Told where a second pass began, and whether what it read was taken
    // (when the first pass met a page end there in the same state, and the
    // second found no fault, which the first then finds itself).
    std::function<void(uint64_t begin, bool taken)> secondPass;
};

// Reads the printed document once, holding one page at a time.
PageMap Explain(pclxl::ByteSource &output, const Reference &reference, const ExplainHooks &hooks);
PageMap Explain(const Bytes &output, const Reference &reference);
// Explain with progress drawn on a terminal under `what` (a file being read).
PageMap ExplainWithProgress(pclxl::ByteSource &output, const Reference &reference, const std::string &what);
std::string FormatPageMap(const PageMap &map, const std::string &name);

} // namespace jobtool
