// Reads, checks and splits a PCL XL document in one pass over a ByteSource,
// holding a bounded window of it: the same tokens, commands, pages and first
// fault as readDocument() gives for the whole document in memory, handed out
// as they are found instead of collected.
#pragma once

#include "pclxl/bytesource.h"
#include "pclxl/document.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace pclxl
{

// What a pass needs to read on from a later page end as if it had read up
// to there: the state of its check (DocumentStream::resume).
struct PassPoint;

// The end of a page, between pages with nothing pending, where a pass may
// hand the rest of the document to another pass: the library keeps no
// threads, its caller runs the passes side by side.
class PageEnd
{
  public:
    virtual ~PageEnd() = default;
    // Where the page ended and whatever follows begins.
    virtual uint64_t offset() const = 0;
    // What the check keeps from page to page, as a number: the constructs
    // open (session, data source) and the streams defined. 0 where no pass
    // may hand over (after a fault, or with a construct that a page ending
    // does not close). A pass resumed from one page end at another of the
    // same number reads on as the first pass would from there.
    virtual uint64_t state() const = 0;
    // The stream's byte order.
    virtual Endian endian() const = 0;
    // The check's state here, for a pass that is to read on from a later
    // page end of the same state().
    virtual std::shared_ptr<const PassPoint> point() const = 0;
    // Ends this pass here: what follows is another pass's. Its summary says
    // so (stopped); the input's end is not checked.
    virtual void stop() = 0;
};

// What a reader of the document is told, in input order.
class DocumentHandler
{
  public:
    virtual ~DocumentHandler() = default;
    // Whether onToken must see the tokens of commands too (values,
    // attribute ids, operators, embedded data). When not, commands are read
    // whole where they can be, which is much faster.
    virtual bool wantsCommandTokens() const
    {
        return false;
    }
    // The tokens; its bytes are token.offset .. token.end() (whitespace
    // runs may come in more than one token). PJL, the stream header and
    // the universal exit always come; the tokens of commands only when
    // wantsCommandTokens(), else some or none of them.
    virtual void onToken(const Token &token, const uint8_t *bytes)
    {
        (void)token;
        (void)bytes;
    }
    // Every command the check accepts (and the one it faults at), complete
    // with its embedded data; bytes are command.begin .. command.end.
    virtual void onCommand(const Command &command, const uint8_t *bytes)
    {
        (void)command;
        (void)bytes;
    }
    // A stream definition, with the commands of its data, at its EndStream.
    virtual void onStream(const StreamDefinition &stream)
    {
        (void)stream;
    }
    // A complete page (after the onCommand of its EndPage); bytes are
    // page.range when the stream keeps pages (DocumentStream::keepPages), else null.
    virtual void onPage(const Page &page, const uint8_t *bytes)
    {
        (void)page;
        (void)bytes;
    }
    // Pages met again (collated copies print each page once per copy). A
    // handler that can give the outcome of a page again for a later page of
    // the same bytes says so; such a later page, met where the check and
    // the handler are in the state they were in before the earlier one,
    // then comes to onRepeatedPage instead of as commands. Only with
    // keepPages and commands read whole (not wantsCommandTokens).
    virtual bool takesRepeatedPages() const
    {
        return false;
    }
    // The handler's state between pages as a number that changes whenever
    // a page could come out differently; 0 where no page may be taken as a
    // repeat. A page is remembered when the number after it is the one
    // before it.
    virtual uint64_t repeatState() const
    {
        return 0;
    }
    // After onPage: whether the outcome of this page may be given again.
    virtual bool rememberPage(const Page &page)
    {
        (void)page;
        return false;
    }
    // A page whose bytes are those of the remembered page numbered
    // `earlier`, in the same states; bytes are page.range.
    virtual void onRepeatedPage(const Page &page, size_t earlier, const uint8_t *bytes)
    {
        (void)page;
        (void)earlier;
        (void)bytes;
    }
    // Whether onPageEnd must come: commands are then taken whole no
    // further than a page's end at a time. Only with commands read whole.
    virtual bool wantsPageEnds() const
    {
        return false;
    }
    // The end of a page (after its onPage), with nothing pending.
    virtual void onPageEnd(PageEnd &end)
    {
        (void)end;
    }
    // Input bytes [offset, offset + size) have been read; every byte comes once, in order.
    virtual void onBytes(uint64_t offset, const uint8_t *bytes, size_t size)
    {
        (void)offset;
        (void)bytes;
        (void)size;
    }
};

// What the pass found (the whole-document parts of Document that need no memory per page).
struct DocumentSummary
{
    std::optional<StreamHeader> header;
    Endian endian = Endian::Little;
    size_t pages = 0;
    Range job_header; // as in Document
    Range job_trailer;
    std::optional<Error> error; // the first fault, as readDocument() reports it
    size_t size = 0;            // of the input
    // The pass stopped at a page end (PageEnd::stop): pages and job_header
    // are those before it, job_trailer begins there, and the input's end
    // was not checked.
    bool stopped = false;

    bool ok() const
    {
        return !error.has_value();
    }
};

class DocumentStream
{
  public:
    // window: how much input is read at a time (the window grows past it
    // only for a token, or a kept page, that is larger).
    explicit DocumentStream(ByteSource &source, size_t window = 256u << 10);
    ~DocumentStream();
    DocumentStream(const DocumentStream &) = delete;
    DocumentStream &operator=(const DocumentStream &) = delete;

    // Keeps the bytes of the open page in the window, so that onPage gets them.
    void keepPages(bool keep)
    {
        keep_pages_ = keep;
    }

    // Reads the whole input once. The handler may be called until the first
    // fault; tokens still come after a fault of structure, as readDocument
    // keeps them.
    DocumentSummary run(DocumentHandler &handler);
    // Reads on from offset, a page end that lies after the one `from` was
    // taken at, as that pass would there: for a second pass on another
    // thread. Its result stands only if the first pass then meets a page
    // end at offset with the same PageEnd::state() (and the handler's
    // state, repeatState(), as it was at `from`). Pages are counted from
    // offset; the header is the first pass's.
    DocumentSummary resume(const PassPoint &from, uint64_t offset, DocumentHandler &handler);

    // The most input bytes the window has held.
    size_t peakWindow() const
    {
        return peak_;
    }

  private:
    ByteSource &source_;
    size_t chunk_;
    bool keep_pages_ = false;
    size_t peak_ = 0;
};

// The whole-document result of readDocument() built from a DocumentStream
// pass (for tests that compare the two; holds everything, as readDocument does).
Document readDocumentStreaming(ByteSource &source, size_t window = 256u << 10, size_t *peak_window = nullptr);

} // namespace pclxl