#include "pclxl/commandreader.h"

#include "internal.h"

#include <algorithm>
#include <cstring>

namespace pclxl
{

namespace
{

// PJL before the stream header is a few lines; a lead that has not reached
// the header within this much is not a PCL XL document.
const size_t kMostLead = 16u << 20;

using detail::ByteKind;
using detail::Starts;

} // namespace

const Attribute *StreamCommand::find(uint16_t id) const
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

CommandReader::CommandReader(ByteSource &source, size_t window)
    : source_(source), size_(source.size()), chunk_(std::max<size_t>(window, 64)), decode_(256, true)
{
}

void CommandReader::decodeOnly(const std::vector<uint8_t> &ops)
{
    decode_.assign(256, false);
    for (uint8_t o : ops)
    {
        decode_[o] = true;
    }
}

bool CommandReader::fail(uint64_t pos, std::string reason)
{
    if (!error_)
    {
        error_ = Error{static_cast<size_t>(pos), std::move(reason)};
    }
    done_ = true;
    return false;
}

bool CommandReader::open()
{
    size_t n = static_cast<size_t>(std::min<uint64_t>(size_, 64u << 10));
    for (;;)
    {
        std::vector<uint8_t> lead(n);
        if (!source_.read(0, lead.data(), n))
        {
            return fail(0, source_.error().empty() ? "cannot read the input" : source_.error());
        }
        TokenList tokens = tokenize(Bytes(lead));
        if (tokens.header)
        {
            header_ = *tokens.header;
            body_ = header_.offset + header_.length;
            start_ = pos_ = trailer_ = body_;
            return true;
        }
        if (n == size_ || n >= kMostLead || !tokens.error || tokens.error->offset + 16 < n)
        {
            return fail(tokens.error ? tokens.error->offset : 0,
                        tokens.error ? tokens.error->reason : "not a PCL XL stream: no stream header");
        }
        n = static_cast<size_t>(std::min<uint64_t>(size_, static_cast<uint64_t>(n) * 4));
    }
}

bool CommandReader::needMore(uint64_t pos, size_t n)
{
    if (pos > size_ || n > size_ - pos)
    {
        return false;
    }
    if (pos >= start_ && pos + n <= start_ + window_.size())
    {
        return true;
    }
    // Keep what the command being read has, read on past what it needs.
    const uint64_t keep = std::min(pos_, pos);
    if (keep > start_)
    {
        window_.erase(window_.begin(), window_.begin() + static_cast<long>(keep - start_));
        start_ = keep;
    }
    const uint64_t have = start_ + window_.size();
    const uint64_t want = std::min<uint64_t>(size_, std::max<uint64_t>(pos + n, have + chunk_));
    const size_t more = static_cast<size_t>(want - have);
    const size_t old = window_.size();
    window_.resize(old + more);
    if (!source_.read(have, window_.data() + old, more))
    {
        window_.resize(old);
        fail(have, source_.error().empty() ? "cannot read the input" : source_.error());
        return false;
    }
    peak_ = std::max(peak_, window_.size());
    return true;
}

// The common case, without a bounds check per byte: a well-formed command
// that lies in the window as read, with its embedded data. Anything else
// (the window's end, the universal exit, a fault) is left to next()'s
// careful reading, which words it.
bool CommandReader::nextInWindow(StreamCommand &c, const ByteKind *kinds, Endian endian)
{
    if (pos_ < start_)
    {
        return false;
    }
    const uint8_t *w = window_.data();
    const size_t have = window_.size();
    const size_t gap = static_cast<size_t>(pos_ - start_);
    size_t i = gap;
    while (i < have && kinds[w[i]].starts == Starts::Whitespace)
    {
        i++;
    }
    const size_t begin = i;
    size_t op = 0;
    for (;;)
    {
        if (i >= have)
        {
            return false;
        }
        const ByteKind &k = kinds[w[i]];
        if (k.skip != 0)
        {
            i += k.skip; // past the window's end: the check above
            // A value's attribute id most often follows it: taken without
            // waiting for its kind.
            if (i + 2 < have && w[i] == tag::AttrUByte)
            {
                i += 2;
            }
            continue;
        }
        if (k.starts == Starts::Value)
        {
            size_t count = k.type.shape == Shape::Scalar ? 1 : k.type.shape == Shape::XY ? 2 : 4;
            size_t elements = i + 1;
            if (k.type.shape == Shape::Array)
            {
                if (have - i < 4 || (w[i + 1] != dt::UByte && w[i + 1] != dt::UInt16))
                {
                    return false;
                }
                const size_t lsize = w[i + 1] == dt::UByte ? 1 : 2;
                count = detail::readUnsigned(w + i + 2, lsize, endian);
                elements = i + 2 + lsize;
            }
            if (have - elements < count * k.element_size)
            {
                return false;
            }
            i = elements + count * k.element_size;
        }
        else if (k.starts == Starts::Attribute)
        {
            i += w[i] == tag::AttrUByte ? 2 : 3;
        }
        else if (k.starts == Starts::Whitespace)
        {
            i++;
        }
        else if (k.starts == Starts::Operator)
        {
            op = i;
            break;
        }
        else
        {
            return false;
        }
    }
    size_t end = op + 1;
    size_t q = end;
    while (q < have && kinds[w[q]].starts == Starts::Whitespace)
    {
        q++;
    }
    if (q >= have && start_ + have < size_)
    {
        return false; // data may follow beyond the window
    }
    bool data = false;
    size_t payload = 0, length = 0;
    if (q < have && (w[q] == tag::DataLength || w[q] == tag::DataLengthByte))
    {
        const size_t lsize = w[q] == tag::DataLength ? 4 : 1;
        if (have - q < 1 + lsize)
        {
            return false;
        }
        length = detail::readUnsigned(w + q + 1, lsize, endian);
        payload = q + 1 + lsize;
        if (have - payload < length)
        {
            return false;
        }
        data = true;
        end = payload + length;
    }
    c.op = w[op];
    c.attributes.clear();
    c.gap = pos_;
    c.begin = start_ + begin;
    c.op_offset = start_ + op;
    c.has_data = data;
    c.payload_offset = data ? start_ + payload : 0;
    c.payload_length = length;
    c.end = start_ + end;
    c.bytes = w + gap;
    pos_ = c.end;
    if (decode_[c.op] && c.op_offset != c.begin)
    {
        decodeAttributes(c);
    }
    return true;
}

bool CommandReader::next(StreamCommand &c)
{
    if (done_)
    {
        return false;
    }
    const Endian endian = header_.endian;
    const ByteKind *kinds = detail::byteKinds();
    if (nextInWindow(c, kinds, endian))
    {
        return true;
    }
    uint64_t p = pos_;
    while (need(p, 1) && kinds[*at(p)].starts == Starts::Whitespace)
    {
        p++;
    }
    if (error_)
    {
        return false;
    }
    if (!need(p, 1) || *at(p) == tag::Esc)
    {
        if (need(p, 1) &&
            !(need(p, kUniversalExitLength) && std::memcmp(at(p), kUniversalExit, kUniversalExitLength) == 0))
        {
            return fail(p, detail::hexByte(tag::Esc) + " does not begin a universal exit command");
        }
        trailer_ = pos_;
        done_ = true;
        return false;
    }

    // The attribute list's room is kept: most commands have one.
    c.op = 0;
    c.attributes.clear();
    c.has_data = false;
    c.payload_offset = 0;
    c.payload_length = 0;
    c.bytes = nullptr;
    c.gap = pos_;
    c.begin = p;
    for (;;)
    {
        if (!need(p, 1))
        {
            return !error_ && fail(p, "the input ends inside an attribute list, before its operator");
        }
        const uint8_t b = *at(p);
        const Starts starts = kinds[b].starts;
        if (starts == Starts::Whitespace)
        {
            p++;
            continue;
        }
        if (starts == Starts::Value)
        {
            const DataTypeInfo info = kinds[b].type;
            const size_t esize = kinds[b].element_size;
            size_t size = 1 + esize * (info.shape == Shape::Scalar ? 1 : info.shape == Shape::XY ? 2 : 4);
            if (info.shape == Shape::Array)
            {
                if (!need(p, 2))
                {
                    return !error_ && fail(p, "the input ends inside an array's length");
                }
                const uint8_t ltag = *at(p + 1);
                if (ltag != dt::UByte && ltag != dt::UInt16)
                {
                    return fail(p, "array length must be a ubyte or uint16 value, found " + detail::hexByte(ltag));
                }
                const size_t lsize = ltag == dt::UByte ? 1 : 2;
                if (!need(p, 2 + lsize))
                {
                    return !error_ && fail(p, "the input ends inside an array's length");
                }
                size = 2 + lsize + esize * detail::readUnsigned(at(p + 2), lsize, endian);
            }
            if (!need(p, size))
            {
                return !error_ && fail(p, "a value of " + std::to_string(size) + " bytes runs past the input's end");
            }
            p += size;
            continue;
        }
        if (starts == Starts::Attribute)
        {
            if (!need(p, b == tag::AttrUByte ? 2 : 3))
            {
                return !error_ && fail(p, "the input ends inside an attribute id");
            }
            p += b == tag::AttrUByte ? 2 : 3;
            continue;
        }
        if (starts == Starts::Operator)
        {
            c.op = b;
            c.op_offset = p;
            p++;
            break;
        }
        if (b == tag::DataLength || b == tag::DataLengthByte)
        {
            return fail(p, "embedded data where no operator precedes them");
        }
        return fail(p, detail::hexByte(b) + " is not a PCL XL tag");
    }
    c.end = p;
    uint64_t q = p;
    while (need(q, 1) && kinds[*at(q)].starts == Starts::Whitespace)
    {
        q++;
    }
    if (need(q, 1) && (*at(q) == tag::DataLength || *at(q) == tag::DataLengthByte))
    {
        const size_t lsize = *at(q) == tag::DataLength ? 4 : 1;
        if (!need(q, 1 + lsize))
        {
            return !error_ && fail(q, "the input ends inside an embedded data length");
        }
        const uint64_t length = detail::readUnsigned(at(q + 1), lsize, endian);
        if (!need(q + 1 + lsize, static_cast<size_t>(length)))
        {
            return !error_ && fail(q, "embedded data of " + std::to_string(length) + " bytes run past the input's end");
        }
        c.has_data = true;
        c.payload_offset = q + 1 + lsize;
        c.payload_length = length;
        c.end = c.payload_offset + length;
    }
    if (error_)
    {
        return false;
    }

    pos_ = c.end;
    c.bytes = at(c.gap);
    if (!decode_[c.op] || c.op_offset == c.begin)
    {
        return true;
    }
    decodeAttributes(c);
    return true;
}

// The list's bytes were measured token by token above: each value and id is
// whole. A value takes the id that follows it; a value that another value
// follows, or an id without a value, names nothing (the check reports them).
void CommandReader::decodeAttributes(StreamCommand &c)
{
    const Endian endian = header_.endian;
    const ByteKind *kinds = detail::byteKinds();
    const uint8_t *base = at(c.begin);
    const size_t n = static_cast<size_t>(c.op_offset - c.begin);
    size_t value = n; // where the value waiting for its id begins; n when none
    Attribute *open = nullptr;
    for (size_t i = 0; i < n;)
    {
        const uint8_t b = base[i];
        const Starts starts = kinds[b].starts;
        if (starts == Starts::Value)
        {
            const DataTypeInfo info = kinds[b].type;
            const size_t esize = kinds[b].element_size;
            size_t count = info.shape == Shape::Scalar ? 1 : info.shape == Shape::XY ? 2 : 4;
            size_t elements = i + 1;
            if (info.shape == Shape::Array)
            {
                const size_t lsize = base[i + 1] == dt::UByte ? 1 : 2;
                count = detail::readUnsigned(base + i + 2, lsize, endian);
                elements = i + 2 + lsize;
            }
            if (open == nullptr)
            {
                open = &c.attributes.emplace_back();
            }
            open->value.tag = b;
            open->value.element = info.element;
            open->value.shape = info.shape;
            detail::readElements(base + elements, count, info.element, endian,
                                 open->value.numbers.resizeForWrite(count));
            open->offset = static_cast<size_t>(c.begin) + i;
            value = i;
            i = elements + count * esize;
        }
        else if (starts == Starts::Attribute)
        {
            const size_t size = b == tag::AttrUByte ? 1 : 2;
            if (value != n)
            {
                open->id = static_cast<uint16_t>(detail::readUnsigned(base + i + 1, size, endian));
                open = nullptr;
                value = n;
            }
            i += 1 + size;
        }
        else
        {
            i++;
        }
    }
    if (open != nullptr)
    {
        c.attributes.pop_back();
    }
}

} // namespace pclxl
