#include "pclxl/documentstream.h"

#include "internal.h"
#include "pclxl/digest.h"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <vector>

namespace pclxl
{

struct PassPoint
{
    detail::Checker checker;
    std::optional<StreamHeader> header;
    Endian endian = Endian::Little;
    size_t index = 0; // of the next command
};

namespace
{

// PJL before the stream header, and what follows the universal exit, are a
// few lines; more than this is not read into the window.
const size_t kMostEdge = 16u << 20;

constexpr size_t kNone = std::numeric_limits<size_t>::max();

// The size of a growing source until it has ended: larger than any input
// (three quarters of the address space), with room left for sums of offsets.
// A fault the lexer finds before the end is known is looked at again once
// it is: on a 32-bit build a claimed length can run past this.
constexpr size_t kUnknownSize = std::numeric_limits<size_t>::max() / 4 * 3;

// The window is tokenized this much at a time: the tokens of a slice stay in
// the processor's cache from the lexer to the check (those of a whole window
// would not).
const size_t kSlice = 4u << 10;

// Commands taken whole at a time (then handed out), and how much of the
// window must lie ahead for that: a command cut by the window's end goes
// the token way.
const size_t kFastCommands = 256;
const size_t kFastAhead = 64u << 10;
// Tokens are made only past what commands cannot take whole, a little at a time.
const size_t kSlowSlice = 256;

// Pages met again are known by their first bytes, then by a digest of the
// whole page. A document's worth of pages is remembered at most.
const size_t kRepeatKey = 64;
const size_t kMostRemembered = 4096;

// Two pages with one digest pair by chance once in 2^128: as good as
// comparing the bytes, which would need the earlier page held.
struct PageBytes
{
    uint64_t digest[2] = {0, 0};
    size_t length = 0;

    bool operator==(const PageBytes &o) const
    {
        return digest[0] == o.digest[0] && digest[1] == o.digest[1] && length == o.length;
    }
};

PageBytes digestPage(const uint8_t *bytes, size_t length)
{
    static const uint64_t kSeeds[2] = {0x7061676531ULL, 0x7061676532ULL};
    PageBytes b;
    digestMany(bytes, length, kSeeds, b.digest);
    b.length = length;
    return b;
}

uint64_t repeatKey(const uint8_t *bytes)
{
    static const uint64_t kSeed[1] = {0x6b6579ULL};
    uint64_t key[1];
    digestMany(bytes, kRepeatKey, kSeed, key);
    return key[0];
}

// A page whose outcome the handler gives again for a page of the same
// bytes met in the same states.
struct Remembered
{
    uint64_t key = 0; // of its first bytes
    PageBytes bytes;
    uint32_t checker_state = 0;
    uint64_t handler_state = 0;
    size_t commands = 0;
    Page page; // as it was met (offsets in the input)
};

// Where a page that may be remembered begins: the states there.
struct Candidate
{
    size_t begin = 0;
    uint32_t checker_state = 0;
    uint64_t handler_state = 0;
    size_t streams = 0;
};

class Pass : private PageEnd
{
  public:
    // from: where a pass that resumes at `offset` takes its check's state from.
    Pass(ByteSource &source, size_t chunk, bool keep_pages, DocumentHandler &handler, const PassPoint *from = nullptr,
         size_t offset = 0)
        : source_(source), size_(source.growing() ? kUnknownSize : static_cast<size_t>(source.size())), chunk_(chunk),
          keep_pages_(keep_pages), handler_(handler),
          checker_(from ? detail::Checker(from->checker) : detail::Checker(CheckOptions{})),
          whole_(!handler.wantsCommandTokens()), repeats_(whole_ && keep_pages && handler.takesRepeatedPages()),
          page_ends_(whole_ && handler.wantsPageEnds()), resumed_(from != nullptr)
    {
        if (from)
        {
            out_.header = from->header;
            out_.endian = from->endian;
            index_ = from->index;
            start_ = pos_ = offset;
            first_page_begin_ = last_page_end_ = offset;
        }
    }

    DocumentSummary run()
    {
        bool lead = !resumed_;
        Endian endian = out_.endian;
        size_t want = chunk_;
        const size_t unit = std::min(whole_ ? kSlowSlice : kSlice, chunk_);
        size_t slice = unit;
        while (!token_error_)
        {
            if (whole_ && !lead && !structure_done_ && checker_.atBoundary())
            {
                if (!readWhole(endian) || stop_)
                {
                    break;
                }
                if (pos_ >= size_)
                {
                    break;
                }
                if (checker_.atBoundary() && !structure_done_ && progressed_)
                {
                    continue;
                }
            }
            // The window is read on (and its front dropped) only when the
            // slice runs past it: then a chunk's worth at once.
            const bool inWindow = std::min(pos_ + slice, size_) <= start_ + window_.size();
            if (!inWindow && !fill(pos_ + std::max(want, slice)))
            {
                break;
            }
            ReadOptions ro;
            ro.expect_header = lead;
            ro.endian = endian;
            ro.base_offset = pos_;
            const size_t available = std::min(start_ + window_.size() - pos_, slice);
            detail::WindowStop stop;
            TokenList tl =
                detail::tokenizeWindow(Bytes(at(pos_), available), ro, size_ - pos_, stop, std::move(recycled_));
            if (tl.error && size_ == kUnknownSize && learnSize(kUnknownSize))
            {
                recycled_ = std::move(tl.tokens);
                continue; // the same bytes again, with the end known
            }
            if (tl.header)
            {
                out_.header = tl.header;
                out_.endian = endian = tl.endian;
                lead = false;
            }
            // With commands taken whole, tokens go only as far as the next
            // boundary between commands.
            size_t consumed = stop.consumed;
            bool early = false;
            for (size_t i = 0; i < tl.tokens.size(); i++)
            {
                const size_t end = tl.tokens[i].end();
                token(tl.tokens[i]);
                if (whole_ && !lead && i + 1 < tl.tokens.size() && tl.tokens[i].kind != TokenKind::Pjl &&
                    !structure_done_ && checker_.atBoundary())
                {
                    consumed = end - pos_;
                    early = true;
                    break;
                }
            }
            recycled_ = std::move(tl.tokens);
            if (consumed > 0)
            {
                handler_.onBytes(pos_, at(pos_), consumed);
            }
            pos_ += consumed;
            if (early)
            {
                want = chunk_;
                slice = unit;
                continue;
            }
            if (tl.error)
            {
                token_error_ = tl.error;
                break;
            }
            if (!stop.suspended)
            {
                if (pos_ >= size_)
                {
                    break;
                }
                want = chunk_;
                slice = unit;
                continue;
            }
            // A token the slice cuts: read on to its end, or twice as far
            // when its size is not known yet.
            const size_t held = available;
            if (lead && held >= kMostEdge)
            {
                token_error_ = Error{pos_, "more than 16 MiB of PJL before the stream header"};
            }
            else if (!lead && at(pos_)[0] == tag::Esc && stop.needed > kMostEdge)
            {
                // A source still being written is waited for to tell.
                if (size_ == kUnknownSize && learnSize(pos_ + kMostEdge + 1))
                {
                    continue;
                }
                token_error_ = Error{pos_, "more than 16 MiB after the universal exit command"};
            }
            slice = stop.needed > 0 ? std::max(stop.needed, unit) : std::max(unit, held * 2);
            want = std::max(want, slice);
        }
        if (size_ == kUnknownSize)
        {
            learnSize(kUnknownSize); // a pass that stopped early still reports the whole size
        }
        out_.size = size_;
        if (stop_)
        {
            out_.stopped = true;
            out_.pages = pages_;
            out_.job_header = Range{0, first_page_begin_};
            out_.job_trailer = Range{pos_, size_};
            return out_;
        }
        checker_.finish(size_, !token_error_ && !read_error_);
        drain();
        finishStreams();
        const std::optional<Error> &st = checker_.result().error;
        out_.error = read_error_ ? read_error_ : token_error_;
        if (st && (!out_.error || st->offset <= out_.error->offset))
        {
            out_.error = st;
        }
        out_.pages = pages_;
        if (pages_ == 0 && !resumed_)
        {
            out_.job_header = Range{0, size_};
            out_.job_trailer = Range{size_, size_};
        }
        else
        {
            out_.job_header = Range{0, first_page_begin_};
            out_.job_trailer = Range{last_page_end_, size_};
        }
        return out_;
    }

    size_t peak() const
    {
        return peak_;
    }

  private:
    const uint8_t *at(size_t offset) const
    {
        return window_.data() + (offset - start_);
    }

    // Waits for a growing source to hold `bound` bytes or end; true when
    // it ended (its size is then known).
    bool learnSize(size_t bound)
    {
        bool ended = false;
        const uint64_t held = source_.await(bound, &ended);
        if (ended)
        {
            size_ = static_cast<size_t>(std::min<uint64_t>(held, kUnknownSize - 1));
        }
        return ended;
    }

    // Makes input [pos_, want) readable, dropping what nothing needs any more.
    bool fill(size_t want)
    {
        want = std::min(want, size_);
        size_t keep = pos_;
        if (!structure_done_)
        {
            keep = std::min(keep, checker_.earliestPending());
        }
        if (keep_pages_ && open_ != kNone)
        {
            keep = std::min(keep, open_begin_.begin);
        }
        if (keep > start_)
        {
            window_.erase(window_.begin(), window_.begin() + static_cast<long>(keep - start_));
            start_ = keep;
        }
        const size_t have = start_ + window_.size();
        if (want <= have)
        {
            return true;
        }
        if (size_ == kUnknownSize && learnSize(want))
        {
            // Ended short of what a token claims: the end is known now, and
            // the rest is read no more than a chunk at a time.
            if (want > size_)
            {
                want = std::min(size_, have + chunk_);
            }
            if (want <= have)
            {
                return true;
            }
        }
        const size_t old = window_.size();
        window_.resize(old + (want - have));
        if (!source_.read(have, window_.data() + old, want - have))
        {
            window_.resize(old);
            const std::string why = source_.error().empty() ? "cannot read the input" : source_.error();
            read_error_ = Error{have, why};
            return false;
        }
        peak_ = std::max(peak_, window_.size());
        return true;
    }

    // Takes whole commands from pos_ on, while there are any (progressed_
    // says whether one was); false at a read fault.
    bool readWhole(Endian endian)
    {
        progressed_ = false;
        for (;;)
        {
            const size_t have = start_ + window_.size();
            if (have - pos_ < kFastAhead && have < size_ && !fill(pos_ + chunk_))
            {
                return false;
            }
            if (page_ends_ && pages_ > 0 && pos_ == last_page_end_ && page_end_told_ != pos_)
            {
                page_end_told_ = pos_;
                handler_.onPageEnd(*this);
                if (stop_)
                {
                    return true;
                }
            }
            if (repeats_)
            {
                if (!repeatedPage())
                {
                    return false;
                }
                if (taken_repeat_)
                {
                    progressed_ = true;
                    if (pos_ >= size_)
                    {
                        return true;
                    }
                    continue;
                }
            }
            const size_t available = start_ + window_.size() - pos_;
            // With pages remembered, a batch ends at an EndPage, so that the
            // next page is looked at where it begins.
            const size_t used =
                checker_.readCommands(at(pos_), available, pos_, endian, kFastCommands, repeats_ || page_ends_);
            if (used == 0)
            {
                return true;
            }
            progressed_ = true;
            drain();
            structure_done_ = checker_.result().error.has_value();
            handler_.onBytes(pos_, at(pos_), used);
            pos_ += used;
            if (structure_done_ || pos_ >= size_ || !checker_.atBoundary())
            {
                return true;
            }
        }
    }

    // At a boundary in readWhole: ends remembering the page that ended
    // here, notes where the next may begin, and takes the page here whole if
    // it is one remembered (taken_repeat_). false at a read fault.
    bool repeatedPage()
    {
        taken_repeat_ = false;
        if (looked_at_ == pos_)
        {
            return true;
        }
        looked_at_ = pos_;
        const uint32_t cs = checker_.pageStartState();
        const uint64_t hs = cs != 0 ? handler_.repeatState() : 0;
        if (pending_ && pos_ >= pending_->page.range.end)
        {
            if (pending_->page.range.end == pos_ && cs == pending_->checker_state && hs == pending_->handler_state &&
                remembered_count_ < kMostRemembered)
            {
                remembered_[pending_->key].push_back(std::move(*pending_));
                remembered_count_++;
            }
            pending_.reset();
        }
        if (cs == 0 || hs == 0)
        {
            return true; // a candidate noted before stays one only for a page that begins where it does
        }
        candidate_ = Candidate{pos_, cs, hs, checker_.result().streams.size()};
        if (remembered_.empty())
        {
            return true;
        }
        if (start_ + window_.size() < pos_ + kRepeatKey && !fill(pos_ + kRepeatKey))
        {
            return false;
        }
        if (start_ + window_.size() < pos_ + kRepeatKey)
        {
            return true; // the input ends first
        }
        const auto found = remembered_.find(repeatKey(at(pos_)));
        if (found == remembered_.end())
        {
            return true;
        }
        for (const Remembered &r : found->second)
        {
            const size_t length = r.bytes.length;
            if (r.checker_state != cs || r.handler_state != hs || length > size_ - pos_)
            {
                continue;
            }
            if (start_ + window_.size() < pos_ + length && !fill(pos_ + length))
            {
                return false;
            }
            if (start_ + window_.size() < pos_ + length || !(digestPage(at(pos_), length) == r.bytes))
            {
                continue;
            }
            takeRepeated(r);
            return true;
        }
        return true;
    }

    // PageEnd, at pos_ in readWhole.
    uint64_t offset() const override
    {
        return pos_;
    }

    uint64_t state() const override
    {
        const uint32_t cs = checker_.pageStartState();
        if (cs == 0 || structure_done_)
        {
            return 0;
        }
        return (static_cast<uint64_t>(checker_.result().streams.size()) << 32) | cs;
    }

    Endian endian() const override
    {
        return out_.endian;
    }

    std::shared_ptr<const PassPoint> point() const override
    {
        return std::make_shared<PassPoint>(PassPoint{detail::Checker(checker_), out_.header, out_.endian, index_});
    }

    void stop() override
    {
        stop_ = true;
    }

    void takeRepeated(const Remembered &r)
    {
        const size_t delta = pos_ - r.page.range.begin;
        Page p = r.page;
        p.number = ++pages_;
        p.range = Range{p.range.begin + delta, p.range.end + delta};
        p.body = Range{p.body.begin + delta, p.body.end + delta};
        p.begin_command = index_;
        p.end_command = index_ + r.commands - 1;
        for (std::vector<Attribute> *list : {&p.attributes, &p.end_attributes})
        {
            for (Attribute &a : *list)
            {
                a.offset += delta;
            }
        }
        index_ += r.commands;
        checker_.skipPage(p.range.end, r.commands);
        last_page_end_ = p.range.end;
        handler_.onRepeatedPage(p, r.page.number, at(pos_));
        handler_.onBytes(pos_, at(pos_), p.range.size());
        pos_ = p.range.end;
        candidate_.reset();
        taken_repeat_ = true;
    }

    // A page just handed out that began where a candidate did: remembered
    // once the states after it are found to be those before it.
    void mayRemember(const Page &p)
    {
        if (!candidate_ || candidate_->begin != p.range.begin || p.range.size() < kRepeatKey ||
            checker_.result().error || checker_.result().streams.size() != candidate_->streams ||
            !handler_.rememberPage(p))
        {
            return;
        }
        Remembered r;
        r.key = repeatKey(at(p.range.begin));
        r.bytes = digestPage(at(p.range.begin), p.range.size());
        r.checker_state = candidate_->checker_state;
        r.handler_state = candidate_->handler_state;
        r.commands = p.end_command - p.begin_command + 1;
        r.page = p;
        pending_ = std::move(r);
    }

    void token(Token &t)
    {
        const uint8_t *bytes = at(t.offset);
        handler_.onToken(t, bytes);
        if (structure_done_)
        {
            return;
        }
        checker_.feed(std::move(t), bytes);
        drain();
        structure_done_ = checker_.result().error.has_value();
    }

    void drain()
    {
        const size_t n = checker_.ready();
        if (n == 0)
        {
            return;
        }
        Structure &st = checker_.result();
        // The ready commands lie side by side; the handler adds none.
        const Command *ready = &checker_.readyCommand(0);
        for (size_t i = 0; i < n; i++)
        {
            command(ready[i], st);
        }
        checker_.drop(n);
    }

    void command(const Command &c, Structure &st)
    {
        const size_t index = index_++;
        handler_.onCommand(c, at(c.begin));
        if (c.op == op::EndStream && !st.streams.empty() && st.streams.back().end == c.end && c.end != 0)
        {
            streamDone(st.streams.back());
        }
        if (c.op == op::BeginPage)
        {
            open_ = index;
            open_begin_ = c;
        }
        else if (c.op == op::EndPage && open_ != kNone)
        {
            Page p;
            p.number = ++pages_;
            p.range = Range{open_begin_.begin, c.end};
            p.body = Range{open_begin_.end, c.begin};
            p.begin_command = open_;
            p.end_command = index;
            p.attributes = std::move(open_begin_.attributes);
            p.end_attributes = c.attributes;
            if (pages_ == 1)
            {
                first_page_begin_ = p.range.begin;
            }
            last_page_end_ = p.range.end;
            open_ = kNone;
            handler_.onPage(p, keep_pages_ ? at(p.range.begin) : nullptr);
            if (repeats_)
            {
                mayRemember(p);
            }
        }
    }

    // The handler has the definition; only its place is kept.
    void streamDone(StreamDefinition &s)
    {
        handler_.onStream(s);
        std::vector<Token>().swap(s.body_tokens);
        std::vector<Command>().swap(s.body_commands);
        streams_told_++;
    }

    void finishStreams()
    {
        std::vector<StreamDefinition> &streams = checker_.result().streams;
        while (streams_told_ < streams.size())
        {
            streamDone(streams[streams_told_]);
        }
    }

    ByteSource &source_;
    size_t size_;
    size_t chunk_;
    bool keep_pages_;
    DocumentHandler &handler_;
    detail::Checker checker_;
    DocumentSummary out_;
    std::vector<uint8_t> window_;
    std::vector<Token> recycled_; // the last window's tokens, for their room
    size_t start_ = 0;            // input offset of window_[0]
    size_t pos_ = 0;              // the next byte to tokenize
    size_t peak_ = 0;
    std::optional<Error> token_error_;
    std::optional<Error> read_error_;
    bool structure_done_ = false;
    size_t index_ = 0; // of the next command
    size_t open_ = kNone;
    Command open_begin_;
    size_t pages_ = 0;
    size_t first_page_begin_ = 0;
    size_t last_page_end_ = 0;
    size_t streams_told_ = 0;
    bool whole_;              // commands are taken whole where they can be (no tokens for them)
    bool progressed_ = false; // the last readWhole took a command
    bool repeats_;            // pages met again are taken whole
    bool taken_repeat_ = false;
    bool page_ends_;               // the handler is told of page ends
    bool resumed_;                 // the pass began at a page end, with another pass's check
    bool stop_ = false;            // the handler stopped the pass at a page end
    size_t page_end_told_ = kNone; // where onPageEnd last came
    size_t looked_at_ = kNone;     // where repeatedPage last looked
    std::optional<Candidate> candidate_;
    std::optional<Remembered> pending_;
    std::unordered_map<uint64_t, std::vector<Remembered>> remembered_;
    size_t remembered_count_ = 0;
};

// Collects everything, as readDocument does.
class Collector : public DocumentHandler
{
  public:
    bool wantsCommandTokens() const override
    {
        return true;
    }
    void onToken(const Token &t, const uint8_t *) override
    {
        if (t.kind == TokenKind::Whitespace && !doc.tokens.empty() && doc.tokens.back().kind == TokenKind::Whitespace &&
            doc.tokens.back().end() == t.offset)
        {
            doc.tokens.back().length += t.length;
            return;
        }
        doc.tokens.push_back(t);
    }
    void onCommand(const Command &c, const uint8_t *) override
    {
        doc.commands.push_back(c);
    }
    void onStream(const StreamDefinition &s) override
    {
        doc.streams.push_back(s);
    }
    void onPage(const Page &p, const uint8_t *) override
    {
        doc.pages.push_back(p);
    }
    Document doc;
};

} // namespace

DocumentStream::DocumentStream(ByteSource &source, size_t window)
    : source_(source), chunk_(std::max<size_t>(window, 64))
{
}

DocumentStream::~DocumentStream() = default;

DocumentSummary DocumentStream::run(DocumentHandler &handler)
{
    Pass pass(source_, chunk_, keep_pages_, handler);
    DocumentSummary summary = pass.run();
    peak_ = std::max(peak_, pass.peak());
    return summary;
}

DocumentSummary DocumentStream::resume(const PassPoint &from, uint64_t offset, DocumentHandler &handler)
{
    if (!source_.growing() && offset > source_.size())
    {
        DocumentSummary past;
        past.size = static_cast<size_t>(source_.size());
        past.error = Error{past.size, "a pass cannot begin past the input's end"};
        return past;
    }
    Pass pass(source_, chunk_, keep_pages_, handler, &from, static_cast<size_t>(offset));
    DocumentSummary summary = pass.run();
    peak_ = std::max(peak_, pass.peak());
    return summary;
}

Document readDocumentStreaming(ByteSource &source, size_t window, size_t *peak_window)
{
    DocumentStream stream(source, window);
    Collector collector;
    DocumentSummary s = stream.run(collector);
    Document doc = std::move(collector.doc);
    doc.header = s.header;
    doc.endian = s.endian;
    doc.error = s.error;
    doc.job_header = s.job_header;
    doc.job_trailer = s.job_trailer;
    if (peak_window)
    {
        *peak_window = stream.peakWindow();
    }
    return doc;
}

} // namespace pclxl
