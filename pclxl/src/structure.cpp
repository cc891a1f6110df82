#include "pclxl/structure.h"

#include "internal.h"

#include <algorithm>

namespace pclxl
{

const Attribute *Command::find(uint16_t id) const
{
    for (const Attribute &a : attributes)
    {
        if (a.id == id)
        {
            return &a;
        }
    }
    return nullptr;
}

namespace
{

using detail::ByteKind;
using detail::plural;
using detail::Starts;

constexpr size_t kNone = static_cast<size_t>(-1);

enum class Need
{
    Nothing,
    Session,
    Page
};

// A construct opened by one operator and closed by another.
struct Pair
{
    uint8_t begin;
    uint8_t end;
    uint8_t read; // the one operator allowed inside besides `end`, or 0 when any may appear
    Need need;
    const char *what;
};

const Pair kPairs[] = {
    {op::BeginSession, op::EndSession, 0, Need::Nothing, "session"},
    {op::OpenDataSource, op::CloseDataSource, 0, Need::Session, "data source"},
    {op::BeginPage, op::EndPage, 0, Need::Session, "page"},
    {op::BeginStream, op::EndStream, op::ReadStream, Need::Session, "stream definition"},
    {op::BeginFontHeader, op::EndFontHeader, op::ReadFontHeader, Need::Session, "font header"},
    {op::BeginChar, op::EndChar, op::ReadChar, Need::Session, "character definition"},
    {op::BeginImage, op::EndImage, op::ReadImage, Need::Page, "image"},
    {op::BeginRastPattern, op::EndRastPattern, op::ReadRastPattern, Need::Page, "raster pattern"},
    {op::BeginScan, op::EndScan, op::ScanLineRel, Need::Page, "scan"},
    {op::PushGS, op::PopGS, 0, Need::Page, "graphics state"},
    {op::BeginUserDefinedLineCap, op::EndUserDefinedLineCap, 0, Need::Page, "line cap definition"},
};

// What the check needs to know of an operator: every command looks it up.
struct OpRule
{
    const Pair *begin = nullptr; // the pair it begins, ends or reads in
    const Pair *end = nullptr;
    const Pair *read = nullptr;
    DataUse data = DataUse::None;
    bool session_level = false; // belongs in a session but not necessarily in a page
    const char *name = nullptr;
};

bool sessionLevel(uint8_t o);

// 256 entries, one per byte.
const OpRule *opRules()
{
    static const std::vector<OpRule> table = [] {
        std::vector<OpRule> t(256);
        for (const Pair &p : kPairs)
        {
            t[p.begin].begin = t[p.begin].begin ? t[p.begin].begin : &p;
            t[p.end].end = t[p.end].end ? t[p.end].end : &p;
            if (p.read != 0)
            {
                t[p.read].read = t[p.read].read ? t[p.read].read : &p;
            }
        }
        for (int o = 0; o < 256; o++)
        {
            t[o].data = operatorDataUse(static_cast<uint8_t>(o));
            t[o].session_level = sessionLevel(static_cast<uint8_t>(o));
            t[o].name = operatorName(static_cast<uint8_t>(o));
        }
        return t;
    }();
    return table.data();
}

const Pair *const kSessionPair = &kPairs[0];
const Pair *const kPagePair = &kPairs[2];

// Operators that belong in a session but not necessarily in a page.
bool sessionLevel(uint8_t o)
{
    switch (o)
    {
    case op::VendorUnique:
    case op::EchoComment:
    case op::Query:
    case op::RemoveFont:
    case op::RemoveStream:
    case op::ExecStream:
    case op::PassThrough:
        return true;
    default:
        return false;
    }
}

struct Frame
{
    const Pair *pair;
    size_t offset;       // of the opening operator; kNone for the constructs around a fragment
    size_t stream_index; // for stream definitions
};

} // namespace

namespace detail
{

class Checker::Impl
{
  public:
    explicit Impl(const CheckOptions &options) : options_(options), rules_(opRules())
    {
        if (options.context != Context::Document)
        {
            push(Frame{kSessionPair, kNone, 0});
            seen_session_ = true;
        }
        if (options.context == Context::Page)
        {
            push(Frame{kPagePair, kNone, 0});
        }
        base_frames_ = frames_.size();
    }

    // bytes: the token's own bytes (the data of ReadStream are kept).
    void feed(const Token &t, const uint8_t *bytes, bool take_value)
    {
        take_value_ = take_value;
        if (out_.error || finished_)
        {
            return;
        }
        bytes_ = bytes;
        switch (t.kind)
        {
        case TokenKind::Pjl:
        case TokenKind::StreamHeader:
        case TokenKind::Whitespace:
            break;
        case TokenKind::UniversalExit:
            finish(t.offset, true);
            break;
        case TokenKind::Value:
            onValue(t);
            break;
        case TokenKind::Attribute:
            onAttribute(t);
            break;
        case TokenKind::Operator:
            onOperator(t);
            break;
        case TokenKind::EmbeddedData:
            onData(t);
            break;
        }
    }

    void finish(size_t end_offset, bool check_end)
    {
        if (finished_)
        {
            return;
        }
        finished_ = true;
        if (check_end)
        {
            checkEnd(end_offset);
        }
    }

    Structure &result()
    {
        return out_;
    }
    const Structure &result() const
    {
        return out_;
    }

    // Commands that nothing more can change; all of them once the check has
    // ended (at the end, the universal exit or a fault).
    size_t ready() const
    {
        if (finished_ || out_.error || awaiting_ == kNone)
        {
            return used_ - head_;
        }
        return awaiting_ - dropped_;
    }

    // The slots of dropped commands are used again, attribute lists and
    // all, by the commands to come: no command costs an allocation.
    void drop(size_t n)
    {
        // Emptied now, while the handler's reading has them in the cache:
        // the slot's next command then swaps in an empty list.
        for (size_t i = head_; i < head_ + n && i < used_; i++)
        {
            out_.commands[i].attributes.clear();
        }
        head_ += n;
        dropped_ += n;
        if (head_ == used_)
        {
            head_ = used_ = 0;
        }
        else if (head_ >= kMostDropped)
        {
            // The live commands go to the front; the dropped slots, their
            // room kept, behind them in any order.
            for (size_t i = head_; i < used_; i++)
            {
                std::swap(out_.commands[i - head_], out_.commands[i]);
            }
            used_ -= head_;
            head_ = 0;
        }
    }

    // The i-th command that is not dropped.
    const Command &live(size_t i) const
    {
        return out_.commands[head_ + i];
    }

    // The first input byte that a command not yet ready may hold.
    size_t earliestPending() const
    {
        size_t at = list_begin_;
        if (pending_offset_ != kNone)
        {
            at = std::min(at, pending_offset_);
        }
        const size_t r = ready();
        if (r < used_ - head_)
        {
            at = std::min(at, live(r).begin);
        }
        return at;
    }

    bool atBoundary() const
    {
        return !out_.error && !finished_ && pending_offset_ == kNone && attributes_.empty() && list_begin_ == kNone;
    }

    uint32_t pageStartState() const
    {
        if (!atBoundary() || awaiting_ != kNone || used_ != head_ || pages_ > 0 || base_frames_ != 0)
        {
            return 0;
        }
        uint32_t open = 0;
        for (const Frame &f : frames_)
        {
            if (f.pair->read != 0)
            {
                return 0;
            }
            open |= 1u << (f.pair - kPairs);
        }
        return (open << 1) | 1;
    }

    void skipPage(size_t end, size_t commands)
    {
        dropped_ += commands;
        last_significant_end_ = end;
        last_command_end_ = end;
        last_op_name_ = rules_[op::EndPage].name;
        last_was_data_ = false;
    }

    // The fast path of a document's commands. Every check of the token
    // path is made here too or leads to a stop before the command, so that
    // the token path meets the same bytes and says the same.
    size_t readCommands(const uint8_t *d, size_t size, size_t base, Endian endian, size_t most, bool stop_after_page)
    {
        const ByteKind *kinds = detail::byteKinds();
        size_t pos = 0; // the end of the last command taken
        for (size_t taken = 0; taken < most && pos < size && atBoundary();)
        {
            size_t p = pos;
            if (awaiting_ != kNone)
            {
                const uint8_t b = d[p];
                if (b == tag::DataLength || b == tag::DataLengthByte)
                {
                    const size_t lsize = b == tag::DataLength ? 4 : 1;
                    if (size - p < 1 + lsize)
                    {
                        break;
                    }
                    const size_t length = detail::readUnsigned(d + p + 1, lsize, endian);
                    if (size - p - 1 - lsize < length)
                    {
                        break;
                    }
                    const size_t end = p + 1 + lsize + length;
                    dataArrived(base + p, base + p + 1 + lsize, length, base + end, d + p);
                    pos = end;
                    continue;
                }
                if (awaiting_required_)
                {
                    break;
                }
            }
            // The attribute list: value, attribute id, and again.
            size_t list = kNone;
            for (;;)
            {
                if (p >= size || kinds[d[p]].starts != Starts::Value)
                {
                    break;
                }
                const ByteKind &k = kinds[d[p]];
                size_t q = p + 1;
                size_t count = k.type.shape == Shape::Scalar ? 1 : k.type.shape == Shape::XY ? 2 : 4;
                if (k.type.shape == Shape::Array)
                {
                    if (size - q < 2 || (d[q] != dt::UByte && d[q] != dt::UInt16))
                    {
                        break;
                    }
                    const size_t lsize = d[q] == dt::UByte ? 1 : 2;
                    if (size - q - 1 < lsize)
                    {
                        break;
                    }
                    count = detail::readUnsigned(d + q + 1, lsize, endian);
                    q += 1 + lsize;
                }
                const size_t a = q + count * k.element_size; // the attribute id's tag
                if (a >= size || (d[a] != tag::AttrUByte && d[a] != tag::AttrUInt16))
                {
                    break;
                }
                const size_t isize = d[a] == tag::AttrUByte ? 1 : 2;
                if (size - a - 1 < isize)
                {
                    break;
                }
                const uint16_t id = static_cast<uint16_t>(detail::readUnsigned(d + a + 1, isize, endian));
                if (!attributeName(id))
                {
                    break;
                }
                Attribute &at = attributes_.emplace_back();
                at.id = id;
                at.offset = base + p;
                at.value.tag = d[p];
                at.value.element = k.type.element;
                at.value.shape = k.type.shape;
                detail::readElements(d + q, count, k.type.element, endian, at.value.numbers.resizeForWrite(count));
                if (list == kNone)
                {
                    list = p;
                }
                p = a + 1 + isize;
            }
            if (p >= size || kinds[d[p]].starts != Starts::Operator)
            {
                attributes_.clear();
                break;
            }
            awaiting_ = kNone; // data that may come was not there
            list_begin_ = list == kNone ? kNone : base + list;
            operatorArrived(d[p], base + p);
            pos = p + 1;
            taken++;
            if (stop_after_page && d[p] == op::EndPage)
            {
                break;
            }
        }
        return pos;
    }

  private:
    // The number of the last command (counting the dropped ones).
    size_t lastIndex() const
    {
        return dropped_ + (used_ - head_) - 1;
    }

    Command &cmd(size_t index)
    {
        return out_.commands[head_ + (index - dropped_)];
    }

    void fail(size_t offset, std::string reason)
    {
        if (!out_.error)
        {
            out_.error = Error{offset, std::move(reason)};
        }
    }

    std::string describeFrame(const Frame &f) const
    {
        if (f.offset == kNone)
        {
            return std::string("the ") + f.pair->what + " around this fragment";
        }
        return std::string("the ") + f.pair->what + " begun at offset " + std::to_string(f.offset);
    }

    std::string closer(const Frame &f) const
    {
        if (f.offset == kNone)
        {
            return "";
        }
        return std::string(" (") + operatorName(f.pair->end) + " missing)";
    }

    const Frame *innermost(const Pair *p) const
    {
        for (size_t i = frames_.size(); i-- > 0;)
        {
            if (frames_[i].pair == p)
            {
                return &frames_[i];
            }
        }
        return nullptr;
    }

    bool inSession() const
    {
        return sessions_ > 0;
    }

    bool inPage() const
    {
        return pages_ > 0;
    }

    void push(const Frame &f)
    {
        frames_.push_back(f);
        sessions_ += f.pair == kSessionPair;
        pages_ += f.pair == kPagePair;
    }

    void pop()
    {
        sessions_ -= frames_.back().pair == kSessionPair;
        pages_ -= frames_.back().pair == kPagePair;
        frames_.pop_back();
    }

    // Data that an earlier operator required must come before anything else.
    bool checkAwaitedData(const Token &t)
    {
        if (awaiting_ == kNone)
        {
            return true;
        }
        const Command &c = cmd(awaiting_);
        const bool required = rules_[c.op].data == DataUse::Required;
        awaiting_ = kNone;
        if (required)
        {
            fail(t.offset, std::string(c.name()) + " at offset " + std::to_string(c.op_offset) +
                               " must be followed by its embedded data (0xFA or 0xFB), found " + tokenKindName(t.kind));
            return false;
        }
        return true;
    }

    void onValue(const Token &t)
    {
        if (!checkAwaitedData(t))
        {
            return;
        }
        if (pending_offset_ != kNone)
        {
            fail(t.offset, "a value must be followed by an attribute id, but the value at offset " +
                               std::to_string(pending_offset_) + " is followed by another value");
            return;
        }
        pending_offset_ = t.offset;
        if (take_value_)
        {
            pending_value_ = std::move(const_cast<Token &>(t).value);
        }
        else
        {
            pending_value_ = t.value;
        }
        if (list_begin_ == kNone)
        {
            list_begin_ = t.offset;
        }
    }

    void onAttribute(const Token &t)
    {
        if (!checkAwaitedData(t))
        {
            return;
        }
        const char *name = attributeName(t.attribute);
        if (!name)
        {
            fail(t.offset, "attribute id " + std::to_string(t.attribute) + " is not a known attribute");
            return;
        }
        if (pending_offset_ == kNone)
        {
            fail(t.offset, std::string("attribute id ") + name + " has no value before it");
            return;
        }
        Attribute &a = attributes_.emplace_back();
        a.id = t.attribute;
        a.value = std::move(pending_value_);
        a.offset = pending_offset_;
        pending_offset_ = kNone;
    }

    void onData(const Token &t)
    {
        if (awaiting_ == kNone)
        {
            std::string after = "it follows no operator";
            if (pending_offset_ != kNone || !attributes_.empty())
            {
                after = "it follows an attribute list";
            }
            else if (last_was_data_)
            {
                after = "it follows another embedded data block";
            }
            else if (last_op_name_ != nullptr && last_command_end_ == last_significant_end_)
            {
                after = std::string("it follows ") + last_op_name_;
            }
            fail(t.offset, "embedded data must follow an operator that reads data (ReadImage, ReadChar, "
                           "ReadStream, ...); " +
                               after);
            return;
        }
        dataArrived(t.offset, t.payload_offset, t.payload_length, t.end(), bytes_);
    }

    // The awaited command's embedded data: its 0xFA/0xFB byte at `offset`,
    // whose bytes begin at `bytes`.
    void dataArrived(size_t offset, size_t payload_offset, size_t payload_length, size_t end, const uint8_t *bytes)
    {
        Command &c = cmd(awaiting_);
        awaiting_ = kNone;
        c.has_data = true;
        c.data_offset = offset;
        c.payload_offset = payload_offset;
        c.payload_length = payload_length;
        c.end = end;
        last_significant_end_ = end;
        last_command_end_ = end;
        last_was_data_ = true;
        checkDeclaredLength(c);
        if (c.op == op::ReadStream && !out_.error)
        {
            const Frame &f = frames_.back();
            out_.streams[f.stream_index].read_commands.push_back(lastIndex());
            segments_.push_back(Segment{c.payload_offset, c.payload_length});
            const uint8_t *payload = bytes + (c.payload_offset - offset);
            stream_data_.insert(stream_data_.end(), payload, payload + c.payload_length);
        }
    }

    // The read operators that announce their data's length must announce it truly.
    void checkDeclaredLength(const Command &c)
    {
        uint16_t id = 0;
        switch (c.op)
        {
        case op::ReadStream:
            id = attr::StreamDataLength;
            break;
        case op::ReadFontHeader:
            id = attr::FontHeaderLength;
            break;
        case op::ReadChar:
            id = attr::CharDataSize;
            break;
        default:
            return;
        }
        const Attribute *a = c.find(id);
        if (!a)
        {
            fail(c.op_offset, std::string(c.name()) + " has no " + attributeName(id) + " attribute");
            return;
        }
        if (a->value.shape != Shape::Scalar || a->value.number() != static_cast<double>(c.payload_length))
        {
            fail(c.data_offset, std::string(c.name()) + " says " + attributeName(id) + "=" +
                                    std::to_string(a->value.integer()) + " but its embedded data holds " +
                                    plural(c.payload_length, "byte", "bytes"));
        }
    }

    void onOperator(const Token &t)
    {
        if (!checkAwaitedData(t))
        {
            return;
        }
        const uint8_t o = t.tag;
        if (pending_offset_ != kNone)
        {
            fail(t.offset, std::string("operator ") + operatorName(o) + " follows the value at offset " +
                               std::to_string(pending_offset_) + ", which has no attribute id");
            return;
        }
        operatorArrived(o, t.offset);
    }

    // The operator byte o at `offset` ends the attribute list gathered so far.
    void operatorArrived(uint8_t o, size_t offset)
    {
        const char *name = rules_[o].name;
        if (used_ == out_.commands.size())
        {
            out_.commands.emplace_back();
        }
        Command &c = out_.commands[used_++];
        c.op = o;
        c.begin = list_begin_ != kNone ? list_begin_ : offset;
        c.op_offset = offset;
        c.end = offset + 1;
        c.has_data = false;
        c.data_offset = 0;
        c.payload_offset = 0;
        c.payload_length = 0;
        c.attributes.swap(attributes_); // the slot's old list, emptied, takes the next command's attributes
        attributes_.clear();
        list_begin_ = kNone;
        last_significant_end_ = offset + 1;
        last_command_end_ = offset + 1;
        last_op_name_ = name;
        last_was_data_ = false;
        if (!checkNesting(c))
        {
            return;
        }
        if (rules_[o].data != DataUse::None)
        {
            awaiting_ = lastIndex();
            awaiting_required_ = rules_[o].data == DataUse::Required;
        }
    }

    bool require(const Command &c, Need need)
    {
        if (need == Need::Session && !inSession())
        {
            fail(c.op_offset, std::string(c.name()) + " outside a session (BeginSession missing)");
            return false;
        }
        if (need == Need::Page && !inPage())
        {
            fail(c.op_offset, std::string(c.name()) + " outside a page (BeginPage missing)");
            return false;
        }
        return true;
    }

    bool checkNesting(const Command &c)
    {
        const uint8_t o = c.op;
        // A string only for the faults: every command passes here.
        auto name = [&c] { return std::string(c.name()); };
        // Inside a reading construct only its read and end operators may come.
        if (!frames_.empty() && frames_.back().pair->read != 0)
        {
            const Frame &top = frames_.back();
            if (o != top.pair->read && o != top.pair->end)
            {
                fail(c.op_offset, name() + " is not allowed inside " + describeFrame(top) + closer(top));
                return false;
            }
        }
        const OpRule &rule = rules_[o];
        if (const Pair *p = rule.begin)
        {
            if (o == op::BeginSession)
            {
                if (!frames_.empty())
                {
                    fail(c.op_offset,
                         "BeginSession inside " + describeFrame(frames_.front()) + closer(frames_.front()));
                    return false;
                }
                seen_session_ = true;
            }
            else if (!require(c, p->need))
            {
                return false;
            }
            // Only graphics states stack; every other construct opens once at a time.
            if (const Frame *open = innermost(p); open && p->begin != op::PushGS)
            {
                fail(c.op_offset, name() + " inside " + describeFrame(*open) + closer(*open));
                return false;
            }
            if (o == op::BeginStream && options_.stream_body)
            {
                fail(c.op_offset, "BeginStream inside the data of a stream; streams cannot be defined there");
                return false;
            }
            Frame f{p, c.op_offset, 0};
            if (o == op::BeginStream)
            {
                StreamDefinition s;
                if (const Attribute *a = c.find(attr::StreamName))
                {
                    s.name = a->value.text();
                }
                s.begin = c.begin;
                s.begin_command = lastIndex();
                segments_.clear();
                stream_data_.clear();
                f.stream_index = out_.streams.size();
                out_.streams.push_back(std::move(s));
            }
            push(f);
            return true;
        }
        if (const Pair *p = rule.end)
        {
            const Frame *open = innermost(p);
            if (!open)
            {
                fail(c.op_offset, name() + " without " + operatorName(p->begin));
                return false;
            }
            const Frame &top = frames_.back();
            if (top.pair != p)
            {
                fail(c.op_offset, name() + " while " + describeFrame(top) + " is still open" + closer(top));
                return false;
            }
            if (frames_.size() <= base_frames_)
            {
                fail(c.op_offset, name() + " closes " + describeFrame(top) + ", which this fragment did not open");
                return false;
            }
            const Frame closed = top;
            pop();
            if (o == op::EndStream)
            {
                StreamDefinition &s = out_.streams[closed.stream_index];
                s.end = c.end;
                readStreamBody(s, closed, c);
            }
            return !out_.error;
        }
        if (const Pair *p = rule.read)
        {
            if (frames_.empty() || frames_.back().pair != p)
            {
                fail(c.op_offset, name() + " without " + operatorName(p->begin));
                return false;
            }
            return true;
        }
        if (o == op::Comment)
        {
            return true;
        }
        return require(c, rule.session_level ? Need::Session : Need::Page);
    }

    // The data of a stream definition is a PCL XL fragment with a stream
    // header of its own; it may be spread over several ReadStream commands.
    void readStreamBody(StreamDefinition &s, const Frame &f, const Command &end)
    {
        const std::vector<Segment> segments = std::move(segments_);
        const std::vector<uint8_t> buf = std::move(stream_data_);
        segments_.clear();
        stream_data_.clear();
        const std::string where =
            " (in the data of the stream \"" + s.name + "\" begun at offset " + std::to_string(f.offset) + ")";
        if (segments.empty())
        {
            fail(end.op_offset, "stream \"" + s.name + "\" begun at offset " + std::to_string(f.offset) +
                                    " ends without data (no ReadStream)");
            return;
        }
        // Offsets in buf back to offsets of the input; an end offset belongs
        // to the segment it ends.
        auto map = [&segments](size_t c, bool is_end) {
            size_t start = 0;
            for (const Segment &g : segments)
            {
                if (c < start + g.length || (is_end && c == start + g.length))
                {
                    return g.file_offset + (c - start);
                }
                start += g.length;
            }
            return segments.back().file_offset + segments.back().length;
        };
        Error err;
        std::optional<StreamHeader> h = parseStreamHeader(Bytes(buf), 0, true, &err);
        if (!h)
        {
            fail(map(err.offset, false), err.reason + where);
            return;
        }
        ReadOptions ro;
        ro.expect_header = false;
        ro.endian = h->endian;
        ro.base_offset = h->length;
        const Bytes body = Bytes(buf).sub(h->length);
        TokenList tl = tokenize(body, ro);
        CheckOptions co;
        co.context = Context::Page;
        co.stream_body = true;
        co.require_complete = !tl.error.has_value();
        Structure inner = checkStructure(tl, body, co);
        h->offset = map(h->offset, false);
        s.header = std::move(h);
        for (Token &t : tl.tokens)
        {
            t.offset = map(t.offset, false);
            if (t.kind == TokenKind::EmbeddedData)
            {
                t.payload_offset = map(t.payload_offset, false);
            }
        }
        for (Command &c : inner.commands)
        {
            c.begin = map(c.begin, false);
            c.op_offset = map(c.op_offset, false);
            c.end = map(c.end, true);
            if (c.has_data)
            {
                c.data_offset = map(c.data_offset, false);
                c.payload_offset = map(c.payload_offset, false);
            }
            for (Attribute &a : c.attributes)
            {
                a.offset = map(a.offset, false);
            }
        }
        s.body_tokens = std::move(tl.tokens);
        s.body_commands = std::move(inner.commands);
        std::optional<Error> first = tl.error;
        if (inner.error && (!first || inner.error->offset < first->offset))
        {
            first = inner.error;
        }
        if (first)
        {
            fail(map(first->offset, true), first->reason + where);
        }
    }

    void checkEnd(size_t end_offset)
    {
        if (out_.error || !options_.require_complete)
        {
            return;
        }
        if (awaiting_ != kNone && rules_[cmd(awaiting_).op].data == DataUse::Required)
        {
            const Command &c = cmd(awaiting_);
            fail(end_offset, std::string("input ends before the embedded data of ") + c.name() + " at offset " +
                                 std::to_string(c.op_offset));
            return;
        }
        if (pending_offset_ != kNone)
        {
            fail(end_offset, "input ends after a value that has no attribute id (the value at offset " +
                                 std::to_string(pending_offset_) + ")");
            return;
        }
        if (!attributes_.empty())
        {
            fail(end_offset, "input ends after an attribute list that no operator follows (the list begins at "
                             "offset " +
                                 std::to_string(list_begin_) + ")");
            return;
        }
        if (frames_.size() > base_frames_)
        {
            const Frame &top = frames_.back();
            fail(end_offset, "input ends inside " + describeFrame(top) + closer(top));
            return;
        }
        if (options_.context == Context::Document && !seen_session_)
        {
            fail(end_offset, "input ends without a session (BeginSession ... EndSession)");
        }
    }

    struct Segment
    {
        size_t file_offset;
        size_t length;
    };

    CheckOptions options_;
    Structure out_;
    const OpRule *rules_;
    std::vector<Frame> frames_;
    size_t sessions_ = 0; // frames_ that are sessions, and pages
    size_t pages_ = 0;
    size_t base_frames_ = 0;
    bool seen_session_ = false;
    bool finished_ = false;
    bool take_value_ = false;        // the token being fed may give up its value
    const uint8_t *bytes_ = nullptr; // of the token being fed
    size_t pending_offset_ = kNone;  // of a value still waiting for its attribute id
    Value pending_value_;
    std::vector<Attribute> attributes_;
    size_t list_begin_ = kNone;
    size_t awaiting_ = kNone;        // index of the command whose embedded data may come next
    bool awaiting_required_ = false; // and whether they must
    // out_.commands[head_, used_) are the commands not yet dropped; the
    // slots from used_ on are dropped ones kept for their room.
    static constexpr size_t kMostDropped = 64;
    size_t head_ = 0;
    size_t used_ = 0;
    size_t dropped_ = 0; // commands handed out and dropped
    size_t last_significant_end_ = 0;
    size_t last_command_end_ = 0;
    const char *last_op_name_ = nullptr;
    bool last_was_data_ = false;
    // The data of the open stream definition's ReadStream commands.
    std::vector<Segment> segments_;
    std::vector<uint8_t> stream_data_;
};

Checker::Checker(const CheckOptions &options) : impl_(std::make_unique<Impl>(options))
{
}

Checker::Checker(const Checker &other) : impl_(std::make_unique<Impl>(*other.impl_))
{
}

Checker::~Checker() = default;

void Checker::feed(const Token &token, const uint8_t *bytes)
{
    impl_->feed(token, bytes, false);
}

void Checker::feed(Token &&token, const uint8_t *bytes)
{
    impl_->feed(token, bytes, true);
}

void Checker::finish(size_t end_offset, bool check_end)
{
    impl_->finish(end_offset, check_end);
}

Structure &Checker::result()
{
    return impl_->result();
}

const Structure &Checker::result() const
{
    return static_cast<const Impl &>(*impl_).result();
}

size_t Checker::ready() const
{
    return impl_->ready();
}

const Command &Checker::readyCommand(size_t i) const
{
    return impl_->live(i);
}

void Checker::drop(size_t n)
{
    impl_->drop(n);
}

size_t Checker::earliestPending() const
{
    return impl_->earliestPending();
}

bool Checker::atBoundary() const
{
    return impl_->atBoundary();
}

size_t Checker::readCommands(const uint8_t *bytes, size_t size, size_t offset, Endian endian, size_t most,
                             bool stop_after_page)
{
    return impl_->readCommands(bytes, size, offset, endian, most, stop_after_page);
}

uint32_t Checker::pageStartState() const
{
    return impl_->pageStartState();
}

void Checker::skipPage(size_t end, size_t commands)
{
    impl_->skipPage(end, commands);
}

} // namespace detail

Structure checkStructure(const TokenList &tokens, Bytes data, const CheckOptions &options)
{
    detail::Checker checker(options);
    for (const Token &t : tokens.tokens)
    {
        checker.feed(t, data.data + (t.offset - tokens.base_offset));
        if (checker.result().error)
        {
            break;
        }
    }
    checker.finish(tokens.base_offset + data.size, true);
    return std::move(checker.result());
}

} // namespace pclxl
