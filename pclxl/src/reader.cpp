#include "pclxl/reader.h"

#include "internal.h"

#include <cstring>

namespace pclxl
{

Bytes Bytes::sub(size_t offset, size_t count) const
{
    if (offset > size)
    {
        offset = size;
    }
    const size_t left = size - offset;
    return Bytes(data + offset, count < left ? count : left);
}

std::string Error::message() const
{
    return "offset " + std::to_string(offset) + ": " + reason;
}

std::string Value::text() const
{
    std::string s;
    s.reserve(numbers.size());
    for (double n : numbers)
    {
        s.push_back(n >= 0 && n <= 255 ? static_cast<char>(static_cast<uint8_t>(n)) : '?');
    }
    return s;
}

std::string Value::typeName() const
{
    std::string s = elementTypeName(element);
    if (shape != Shape::Scalar)
    {
        s += ' ';
        s += shapeName(shape);
    }
    return s;
}

const char *tokenKindName(TokenKind kind)
{
    switch (kind)
    {
    case TokenKind::Pjl:
        return "PJL";
    case TokenKind::UniversalExit:
        return "universal exit";
    case TokenKind::StreamHeader:
        return "stream header";
    case TokenKind::Whitespace:
        return "whitespace";
    case TokenKind::Value:
        return "value";
    case TokenKind::Attribute:
        return "attribute";
    case TokenKind::Operator:
        return "operator";
    case TokenKind::EmbeddedData:
        return "embedded data";
    }
    return "?";
}

namespace detail
{

double readElement(const uint8_t *p, ElementType element, Endian endian)
{
    switch (element)
    {
    case ElementType::UByte:
        return p[0];
    case ElementType::UInt16:
        return readUnsigned(p, 2, endian);
    case ElementType::UInt32:
        return readUnsigned(p, 4, endian);
    case ElementType::SInt16:
        return static_cast<int16_t>(static_cast<uint16_t>(readUnsigned(p, 2, endian)));
    case ElementType::SInt32:
        return static_cast<int32_t>(readUnsigned(p, 4, endian));
    case ElementType::Real32: {
        const uint32_t bits = readUnsigned(p, 4, endian);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    }
    return 0;
}

void readElements(const uint8_t *p, size_t count, ElementType element, Endian endian, double *out)
{
    // One loop per element type: the switch is not taken for every element.
    switch (element)
    {
    case ElementType::UByte:
        for (size_t i = 0; i < count; ++i)
        {
            out[i] = p[i];
        }
        return;
    case ElementType::UInt16:
        for (size_t i = 0; i < count; ++i)
        {
            out[i] = readUnsigned(p + 2 * i, 2, endian);
        }
        return;
    case ElementType::SInt16:
        for (size_t i = 0; i < count; ++i)
        {
            out[i] = static_cast<int16_t>(static_cast<uint16_t>(readUnsigned(p + 2 * i, 2, endian)));
        }
        return;
    default:
        for (size_t i = 0; i < count; ++i)
        {
            out[i] = readElement(p + elementSize(element) * i, element, endian);
        }
        return;
    }
}

const ByteKind *byteKinds()
{
    static const std::vector<ByteKind> table = [] {
        std::vector<ByteKind> t(256);
        for (int i = 0; i < 256; i++)
        {
            const uint8_t b = static_cast<uint8_t>(i);
            ByteKind &k = t[b];
            k.type = dataTypeInfo(b);
            k.element_size = static_cast<uint8_t>(elementSize(k.type.element));
            k.starts = isWhitespace(b)                                    ? Starts::Whitespace
                       : k.type.valid                                     ? Starts::Value
                       : b == tag::AttrUByte || b == tag::AttrUInt16      ? Starts::Attribute
                       : b == tag::DataLength || b == tag::DataLengthByte ? Starts::Data
                       : isOperator(b)                                    ? Starts::Operator
                       : b == tag::Esc                                    ? Starts::Esc
                                                                          : Starts::Other;
            if (k.starts == Starts::Value && k.type.shape != Shape::Array)
            {
                const size_t count = k.type.shape == Shape::Scalar ? 1 : k.type.shape == Shape::XY ? 2 : 4;
                k.skip = static_cast<uint8_t>(1 + count * k.element_size);
            }
            else if (k.starts == Starts::Attribute)
            {
                k.skip = b == tag::AttrUByte ? 2 : 3;
            }
            else if (k.starts == Starts::Whitespace)
            {
                k.skip = 1;
            }
        }
        return t;
    }();
    return table.data();
}

std::string hexByte(uint8_t b)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "0x";
    s += digits[b >> 4];
    s += digits[b & 0x0F];
    return s;
}

std::string plural(size_t n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace detail

namespace
{

using detail::hexByte;
using detail::plural;

const char kHeaderPrefix[] = " HP-PCL XL;";
const size_t kHeaderPrefixLength = sizeof(kHeaderPrefix) - 1;

bool startsWith(Bytes d, size_t pos, const char *text, size_t length)
{
    return pos <= d.size && d.size - pos >= length && std::memcmp(d.data + pos, text, length) == 0;
}

// True when the bytes from pos are a strict prefix of text (the input ends inside it).
bool cutInside(Bytes d, size_t pos, const char *text, size_t length)
{
    const size_t left = d.size - pos;
    return left < length && std::memcmp(d.data + pos, text, left) == 0;
}

bool startsWithPjl(Bytes d, size_t pos)
{
    if (d.size - pos < 4)
    {
        return false;
    }
    const char *want = "@PJL";
    for (size_t i = 0; i < 4; ++i)
    {
        char c = static_cast<char>(d[pos + i]);
        if (c >= 'a' && c <= 'z')
        {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != want[i])
        {
            return false;
        }
    }
    return true;
}

bool isDecimal(const std::string &s)
{
    if (s.empty())
    {
        return false;
    }
    for (char c : s)
    {
        if (!((c >= '0' && c <= '9') || c == '.'))
        {
            return false;
        }
    }
    return true;
}

using detail::ByteKind;
using detail::Starts;

class Lexer
{
  public:
    // `limit` is how many bytes the input holds from data's start: more than
    // data.size when data is a window onto a longer input, and then a token
    // that the window cuts suspends the lexer instead of failing.
    Lexer(Bytes data, const ReadOptions &options, size_t limit)
        : d_(data), base_(options.base_offset), limit_(limit < data.size ? data.size : limit),
          kinds_(detail::byteKinds())
    {
        out_.endian = options.endian;
        out_.base_offset = options.base_offset;
    }

    TokenList run(bool expect_header)
    {
        size_t pos = 0;
        if (expect_header)
        {
            if (!readLead(pos))
            {
                return std::move(out_);
            }
        }
        while (pos < d_.size && !out_.error && !suspended_)
        {
            const uint8_t b = d_[pos];
            const Starts starts = kinds_[b].starts;
            if (starts == Starts::Value)
            {
                pos = readValue(pos);
            }
            else if (starts == Starts::Attribute)
            {
                pos = readAttribute(pos);
            }
            else if (starts == Starts::Operator)
            {
                add(TokenKind::Operator, pos, 1);
                ++pos;
            }
            else if (starts == Starts::Whitespace)
            {
                size_t end = pos;
                while (end < d_.size && kinds_[d_[end]].starts == Starts::Whitespace)
                {
                    ++end;
                }
                add(TokenKind::Whitespace, pos, end - pos);
                pos = end;
            }
            else if (starts == Starts::Data)
            {
                pos = readData(pos);
            }
            else if (b == tag::Esc && limit_ > d_.size)
            {
                // What follows the exit is read in one piece.
                pos = suspend(pos, limit_ - pos);
            }
            else if (b == tag::Esc && startsWith(d_, pos, kUniversalExit, kUniversalExitLength))
            {
                add(TokenKind::UniversalExit, pos, kUniversalExitLength);
                readTrailingPjl(pos + kUniversalExitLength);
                break;
            }
            else if (b == tag::Esc && cutInside(d_, pos, kUniversalExit, kUniversalExitLength))
            {
                fail(pos, "universal exit command needs " + std::to_string(kUniversalExitLength) + " bytes, " +
                              std::to_string(d_.size - pos) + " remain");
            }
            else
            {
                fail(pos, hexByte(b) + " is not a PCL XL tag");
            }
        }
        if (!suspended_)
        {
            consumed_ = pos;
        }
        return std::move(out_);
    }

    // Tokens go into this vector's room (a reader of windows reuses one).
    void recycle(std::vector<Token> tokens)
    {
        out_.tokens = std::move(tokens);
        out_.tokens.clear();
        // A token takes four bytes or more of input, mostly: room for that
        // many spares the vector's growth in the first window.
        out_.tokens.reserve(d_.size / 4);
    }

    bool suspended() const
    {
        return suspended_;
    }
    // Where lexing stopped: the end of the last whole token.
    size_t consumed() const
    {
        return consumed_;
    }
    // Bytes from consumed() that the cut token needs (0 when not known).
    size_t needed() const
    {
        return needed_;
    }

  private:
    Token &add(TokenKind kind, size_t pos, size_t length)
    {
        Token &t = out_.tokens.emplace_back();
        t.kind = kind;
        t.offset = base_ + pos;
        t.length = length;
        t.tag = length ? d_[pos] : 0;
        return t;
    }

    void fail(size_t pos, std::string reason)
    {
        if (!out_.error)
        {
            out_.error = Error{base_ + pos, std::move(reason)};
        }
    }

    size_t remain(size_t pos) const
    {
        return pos < limit_ ? limit_ - pos : 0;
    }

    // True when bytes [pos, end) are in the input but not all in the window.
    bool cut(size_t end) const
    {
        return end > d_.size;
    }

    size_t suspend(size_t token, size_t need)
    {
        suspended_ = true;
        consumed_ = token;
        needed_ = need;
        return d_.size;
    }

    // PJL lines and universal exits that may come before the stream header, then the header.
    bool readLead(size_t &pos)
    {
        bool any = false;
        size_t p = 0;
        for (;;)
        {
            // A lead cut by the window is read again from its start in a larger one.
            if (limit_ > d_.size && d_.size - p < 64)
            {
                suspend(0, 0);
                return false;
            }
            if (p >= d_.size)
            {
                if (any)
                {
                    fail(p, "input ends in the PJL lines before the stream header");
                }
                else
                {
                    fail(0, "not a PCL XL stream: no binding byte and stream header (the input is empty)");
                }
                return false;
            }
            const uint8_t b = d_[p];
            if (b == tag::BindingBigEndian || b == tag::BindingLittleEndian || b == tag::BindingAscii)
            {
                break;
            }
            if (startsWith(d_, p, kUniversalExit, kUniversalExitLength))
            {
                p += kUniversalExitLength;
                any = true;
                continue;
            }
            if (b == tag::Esc && cutInside(d_, p, kUniversalExit, kUniversalExitLength))
            {
                fail(p, "universal exit command needs " + std::to_string(kUniversalExitLength) + " bytes, " +
                            std::to_string(d_.size - p) + " remain");
                return false;
            }
            if (startsWithPjl(d_, p) || (any && d_.size - p < 4 && b == '@'))
            {
                const void *lf = std::memchr(d_.data + p, '\n', d_.size - p);
                if (!lf && limit_ > d_.size)
                {
                    suspend(0, 0);
                    return false;
                }
                if (!lf)
                {
                    fail(p, "PJL line is not ended by a line feed (input ends)");
                    return false;
                }
                p = static_cast<size_t>(static_cast<const uint8_t *>(lf) - d_.data) + 1;
                any = true;
                continue;
            }
            if (any && (b == '\r' || b == '\n' || b == ' ' || b == '\t'))
            {
                ++p;
                continue;
            }
            if (any)
            {
                fail(p, "expected a PJL line or the binding byte of the stream header, found " + hexByte(b));
            }
            else
            {
                fail(0, "not a PCL XL stream: no binding byte and stream header");
            }
            return false;
        }
        if (p > 0)
        {
            Token &t = add(TokenKind::Pjl, 0, p);
            t.text.assign(reinterpret_cast<const char *>(d_.data), p);
        }
        if (limit_ > d_.size && !std::memchr(d_.data + p, '\n', d_.size - p))
        {
            // The lead is read again from its start: its PJL token then comes once.
            out_.tokens.clear();
            suspend(0, 0);
            return false;
        }
        Error err;
        std::optional<StreamHeader> h = parseStreamHeader(d_.sub(p), base_ + p, false, &err);
        if (!h)
        {
            out_.error = err;
            return false;
        }
        Token &t = add(TokenKind::StreamHeader, p, h->length);
        t.text = h->text;
        out_.endian = h->endian;
        out_.header = std::move(h);
        pos = p + t.length;
        return true;
    }

    // After the final universal exit only PJL may follow.
    void readTrailingPjl(size_t pos)
    {
        size_t p = pos;
        while (p < d_.size)
        {
            const uint8_t b = d_[p];
            if (startsWith(d_, p, kUniversalExit, kUniversalExitLength))
            {
                p += kUniversalExitLength;
            }
            else if (startsWithPjl(d_, p))
            {
                const void *lf = std::memchr(d_.data + p, '\n', d_.size - p);
                p = lf ? static_cast<size_t>(static_cast<const uint8_t *>(lf) - d_.data) + 1 : d_.size;
            }
            else if (b == '\r' || b == '\n' || b == ' ' || b == '\t' || b == 0)
            {
                ++p;
            }
            else if ((b == tag::BindingBigEndian || b == tag::BindingLittleEndian) &&
                     startsWith(d_, p + 1, kHeaderPrefix, kHeaderPrefixLength))
            {
                fail(p, "a second PCL XL stream starts here; read each stream separately");
                break;
            }
            else if (b == tag::Esc && cutInside(d_, p, kUniversalExit, kUniversalExitLength))
            {
                fail(p, "universal exit command needs " + std::to_string(kUniversalExitLength) + " bytes, " +
                            std::to_string(d_.size - p) + " remain");
                break;
            }
            else
            {
                fail(p, "only PJL may follow the universal exit command, found " + hexByte(b));
                break;
            }
        }
        if (p > pos)
        {
            Token &t = add(TokenKind::Pjl, pos, p - pos);
            t.text.assign(reinterpret_cast<const char *>(d_.data + pos), p - pos);
        }
    }

    size_t readValue(size_t pos)
    {
        const ByteKind &kind = kinds_[d_[pos]];
        const DataTypeInfo info = kind.type;
        const size_t esize = kind.element_size;
        auto type = [&info] { // for the faults only: every value passes here
            Value v;
            v.element = info.element;
            v.shape = info.shape;
            return v.typeName();
        };
        size_t p = pos + 1;
        size_t count = 1;
        if (info.shape == Shape::Array)
        {
            if (p >= limit_)
            {
                fail(pos, type() + " needs its length (a ubyte or uint16 value), 0 bytes remain");
                return d_.size;
            }
            if (cut(p + 1))
            {
                return suspend(pos, 0);
            }
            const uint8_t ltag = d_[p];
            if (ltag != dt::UByte && ltag != dt::UInt16)
            {
                fail(pos, type() + " length must be a ubyte or uint16 value, found " + hexByte(ltag));
                return d_.size;
            }
            const size_t lsize = ltag == dt::UByte ? 1 : 2;
            if (remain(p + 1) < lsize)
            {
                fail(pos, type() + " length needs " + plural(lsize, "byte", "bytes") + ", " +
                              std::to_string(remain(p + 1)) + " remain");
                return d_.size;
            }
            if (cut(p + 1 + lsize))
            {
                return suspend(pos, 0);
            }
            count = detail::readUnsigned(d_.data + p + 1, lsize, out_.endian);
            p += 1 + lsize;
            const size_t need = count * esize;
            if (remain(p) < need)
            {
                fail(pos, type() + " of " + plural(count, "element", "elements") + " needs " +
                              plural(need, "byte", "bytes") + ", " + std::to_string(remain(p)) + " remain");
                return d_.size;
            }
            if (cut(p + need))
            {
                return suspend(pos, p + need - pos);
            }
        }
        else
        {
            count = info.shape == Shape::Scalar ? 1 : info.shape == Shape::XY ? 2 : 4;
            const size_t need = count * esize;
            if (remain(p) < need)
            {
                fail(pos, type() + " value needs " + plural(need, "byte", "bytes") + ", " + std::to_string(remain(p)) +
                              " remain");
                return d_.size;
            }
            if (cut(p + need))
            {
                return suspend(pos, p + need - pos);
            }
        }
        const uint8_t *elements = d_.data + p;
        p += count * esize;
        Token &t = add(TokenKind::Value, pos, p - pos);
        t.value.tag = d_[pos];
        t.value.element = info.element;
        t.value.shape = info.shape;
        detail::readElements(elements, count, info.element, out_.endian, t.value.numbers.resizeForWrite(count));
        return p;
    }

    size_t readAttribute(size_t pos)
    {
        const size_t size = d_[pos] == tag::AttrUByte ? 1 : 2;
        if (remain(pos + 1) < size)
        {
            fail(pos, "attribute id (" + hexByte(d_[pos]) + ") needs " + plural(size, "byte", "bytes") + ", " +
                          std::to_string(remain(pos + 1)) + " remain");
            return d_.size;
        }
        if (cut(pos + 1 + size))
        {
            return suspend(pos, 1 + size);
        }
        Token &t = add(TokenKind::Attribute, pos, 1 + size);
        t.attribute = static_cast<uint16_t>(detail::readUnsigned(d_.data + pos + 1, size, out_.endian));
        return pos + 1 + size;
    }

    size_t readData(size_t pos)
    {
        const size_t lsize = d_[pos] == tag::DataLength ? 4 : 1;
        if (remain(pos + 1) < lsize)
        {
            fail(pos, "embedded data length (" + hexByte(d_[pos]) + ") needs " + plural(lsize, "byte", "bytes") + ", " +
                          std::to_string(remain(pos + 1)) + " remain");
            return d_.size;
        }
        if (cut(pos + 1 + lsize))
        {
            return suspend(pos, 0);
        }
        const size_t length = detail::readUnsigned(d_.data + pos + 1, lsize, out_.endian);
        const size_t start = pos + 1 + lsize;
        if (remain(start) < length)
        {
            fail(pos, "embedded data of " + plural(length, "byte", "bytes") + ", only " +
                          std::to_string(remain(start)) + " remain");
            return d_.size;
        }
        if (cut(start + length))
        {
            return suspend(pos, 1 + lsize + length);
        }
        Token &t = add(TokenKind::EmbeddedData, pos, 1 + lsize + length);
        t.payload_offset = base_ + start;
        t.payload_length = length;
        return start + length;
    }

    Bytes d_;
    size_t base_;
    size_t limit_;
    const ByteKind *kinds_;
    TokenList out_;
    bool suspended_ = false;
    size_t consumed_ = 0;
    size_t needed_ = 0;
};

} // namespace

std::optional<StreamHeader> parseStreamHeader(Bytes d, size_t base, bool nested, Error *error)
{
    auto fail = [&](size_t pos, std::string reason) -> std::optional<StreamHeader> {
        if (error)
        {
            *error = Error{base + pos, std::move(reason)};
        }
        return std::nullopt;
    };
    const char *what = nested ? "stream data" : "a PCL XL stream";
    if (d.size == 0)
    {
        return fail(0, nested ? "stream data must begin with a stream header, but it is empty"
                              : "not a PCL XL stream: no binding byte and stream header (input ends)");
    }
    const uint8_t b = d[0];
    if (b == tag::BindingAscii)
    {
        return fail(0, std::string("the ASCII binding (') of ") + what +
                           " is not supported; only the binary bindings \"(\" and \")\" are read");
    }
    if (b != tag::BindingBigEndian && b != tag::BindingLittleEndian)
    {
        if (nested)
        {
            return fail(0, "stream data must begin with a stream header (binding \"(\" or \")\" and \" HP-PCL "
                           "XL;...\"), found " +
                               detail::hexByte(b));
        }
        return fail(0, "not a PCL XL stream: no binding byte and stream header");
    }
    if (cutInside(d, 1, kHeaderPrefix, kHeaderPrefixLength))
    {
        return fail(0, std::string("stream header of ") + what + " is cut short (input ends after " +
                           std::to_string(d.size) + " bytes)");
    }
    if (!startsWith(d, 1, kHeaderPrefix, kHeaderPrefixLength))
    {
        return fail(0, std::string("the binding byte of ") + what +
                           " must be followed by \" HP-PCL XL;\" (the stream header)");
    }
    const void *lf = std::memchr(d.data, '\n', d.size);
    if (!lf)
    {
        return fail(0, "stream header is not ended by a line feed (input ends)");
    }
    const size_t lfpos = static_cast<size_t>(static_cast<const uint8_t *>(lf) - d.data);
    StreamHeader h;
    h.offset = base;
    h.length = lfpos + 1;
    h.endian = b == tag::BindingLittleEndian ? Endian::Little : Endian::Big;
    h.text.assign(reinterpret_cast<const char *>(d.data), lfpos);
    std::string rest = h.text.substr(1 + kHeaderPrefixLength);
    while (!rest.empty() && (rest.back() == '\0' || rest.back() == '\r'))
    {
        rest.pop_back();
    }
    const size_t semi1 = rest.find(';');
    if (semi1 == std::string::npos)
    {
        return fail(0, "stream header needs \"<class>;<revision>;<comment>\" after \"HP-PCL XL;\"");
    }
    h.protocolClass = rest.substr(0, semi1);
    const size_t semi2 = rest.find(';', semi1 + 1);
    h.revision = rest.substr(semi1 + 1, semi2 == std::string::npos ? std::string::npos : semi2 - semi1 - 1);
    if (semi2 != std::string::npos)
    {
        h.comment = rest.substr(semi2 + 1);
    }
    if (!isDecimal(h.protocolClass))
    {
        return fail(0, "stream header's protocol class \"" + h.protocolClass + "\" is not a number");
    }
    if (!isDecimal(h.revision))
    {
        return fail(0, "stream header's protocol revision \"" + h.revision + "\" is not a number");
    }
    return h;
}

TokenList tokenize(Bytes data, const ReadOptions &options)
{
    return Lexer(data, options, data.size).run(options.expect_header);
}

namespace detail
{

TokenList tokenizeWindow(Bytes window, const ReadOptions &options, size_t limit, WindowStop &stop,
                         std::vector<Token> recycled)
{
    Lexer lexer(window, options, limit);
    lexer.recycle(std::move(recycled));
    TokenList out = lexer.run(options.expect_header);
    stop.suspended = lexer.suspended();
    stop.consumed = lexer.suspended() ? lexer.consumed() : window.size;
    stop.needed = lexer.needed();
    return out;
}

} // namespace detail

} // namespace pclxl
