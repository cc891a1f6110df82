// Tokenizer for PCL XL data: the optional PJL lead, the stream header and the
// binary tokens, each with its byte offset and length.
#pragma once

#include "pclxl/protocol.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pclxl
{

// A read-only view of bytes (the library never copies its input).
struct Bytes
{
    const uint8_t *data = nullptr;
    size_t size = 0;

    Bytes() = default;
    Bytes(const uint8_t *d, size_t n) : data(d), size(n)
    {
    }
    Bytes(const std::vector<uint8_t> &v) : data(v.data()), size(v.size())
    {
    }
    Bytes(std::string_view s) : data(reinterpret_cast<const uint8_t *>(s.data())), size(s.size())
    {
    }
    uint8_t operator[](size_t i) const
    {
        return data[i];
    }
    // Bytes [offset, offset + count), clipped to the view.
    Bytes sub(size_t offset, size_t count = static_cast<size_t>(-1)) const;
    std::vector<uint8_t> copy() const
    {
        return std::vector<uint8_t>(data, data + size);
    }
};

// A fault in the input: the byte offset where it was found and why.
struct Error
{
    size_t offset = 0;
    std::string reason;
    // "offset 1234: <reason>"
    std::string message() const;
};

// The elements of a value: a vector of doubles that holds up to four in
// place. Every value token of every document is decoded into one, and
// scalars, xy pairs, boxes and the short arrays of text need no allocation.
class Numbers
{
  public:
    static constexpr size_t kInPlace = 4;
    using value_type = double;
    using iterator = double *;
    using const_iterator = const double *;

    Numbers() = default;
    Numbers(std::initializer_list<double> list)
    {
        assign(list.begin(), list.end());
    }
    Numbers(const std::vector<double> &v)
    {
        assign(v.data(), v.data() + v.size());
    }
    Numbers(const Numbers &o)
    {
        assign(o.begin(), o.end());
    }
    Numbers(Numbers &&o) noexcept
    {
        take(o);
    }
    Numbers &operator=(const Numbers &o)
    {
        if (this != &o)
        {
            assign(o.begin(), o.end());
        }
        return *this;
    }
    Numbers &operator=(Numbers &&o) noexcept
    {
        if (this != &o)
        {
            take(o);
        }
        return *this;
    }
    Numbers &operator=(std::initializer_list<double> list)
    {
        assign(list.begin(), list.end());
        return *this;
    }
    ~Numbers()
    {
        delete[] heap_;
    }

    size_t size() const
    {
        return size_;
    }
    bool empty() const
    {
        return size_ == 0;
    }
    double *data()
    {
        return heap_ ? heap_ : here_;
    }
    const double *data() const
    {
        return heap_ ? heap_ : here_;
    }
    double *begin()
    {
        return data();
    }
    double *end()
    {
        return data() + size_;
    }
    const double *begin() const
    {
        return data();
    }
    const double *end() const
    {
        return data() + size_;
    }
    double &operator[](size_t i)
    {
        return data()[i];
    }
    double operator[](size_t i) const
    {
        return data()[i];
    }
    void clear()
    {
        size_ = 0;
    }
    // Room for n elements; the ones held are kept.
    void reserve(size_t n)
    {
        if (n <= capacity())
        {
            return;
        }
        double *bigger = new double[n];
        std::copy(begin(), end(), bigger);
        delete[] heap_;
        heap_ = bigger;
        heap_capacity_ = static_cast<uint32_t>(n);
    }
    // n elements whose values the caller then sets.
    double *resizeForWrite(size_t n)
    {
        size_ = 0;
        reserve(n);
        size_ = static_cast<uint32_t>(n);
        return data();
    }
    void push_back(double v)
    {
        if (size_ == capacity())
        {
            reserve(size_ * 2);
        }
        data()[size_++] = v;
    }
    void assign(size_t n, double v)
    {
        std::fill_n(resizeForWrite(n), n, v);
    }
    // Not from this one's own elements.
    void assign(const double *first, const double *last)
    {
        std::copy(first, last, resizeForWrite(static_cast<size_t>(last - first)));
    }
    bool operator==(const Numbers &o) const
    {
        return size_ == o.size_ && std::equal(begin(), end(), o.begin());
    }
    bool operator!=(const Numbers &o) const
    {
        return !(*this == o);
    }
    friend bool operator==(const Numbers &a, const std::vector<double> &b)
    {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }
    friend bool operator==(const std::vector<double> &a, const Numbers &b)
    {
        return b == a;
    }

  private:
    size_t capacity() const
    {
        return heap_ ? heap_capacity_ : kInPlace;
    }
    void take(Numbers &o)
    {
        delete[] heap_;
        heap_ = o.heap_;
        heap_capacity_ = o.heap_capacity_;
        size_ = o.size_;
        std::copy(o.here_, o.here_ + (o.heap_ ? 0 : o.size_), here_);
        o.heap_ = nullptr;
        o.heap_capacity_ = 0;
        o.size_ = 0;
    }

    double here_[kInPlace];  // only the first size_ are ever read
    double *heap_ = nullptr; // when more than kInPlace were ever asked for
    uint32_t heap_capacity_ = 0;
    uint32_t size_ = 0;
};

// A decoded data value: a scalar, an xy pair, a box or an array. Every
// element is held as a double, which represents all PCL XL element types
// exactly.
struct Value
{
    uint8_t tag = 0; // the data type tag, 0xC0 to 0xE5
    ElementType element = ElementType::UByte;
    Shape shape = Shape::Scalar;
    Numbers numbers; // 1 (scalar), 2 (xy), 4 (box) or the array's elements

    bool isReal() const
    {
        return element == ElementType::Real32;
    }
    size_t count() const
    {
        return numbers.size();
    }
    double number(size_t i = 0) const
    {
        return i < numbers.size() ? numbers[i] : 0.0;
    }
    int64_t integer(size_t i = 0) const
    {
        return static_cast<int64_t>(number(i));
    }
    // The elements as characters, one per element (for ubyte and uint16
    // arrays such as FontName or TextData; elements above 0xFF become '?').
    std::string text() const;
    // "ubyte", "uint16 array", "sint16 xy", "real32 box"
    std::string typeName() const;
};

// The line that opens a PCL XL stream: binding byte, " HP-PCL XL;", protocol
// class, revision and comment, up to and including the line feed.
struct StreamHeader
{
    size_t offset = 0; // of the binding byte
    size_t length = 0; // through the line feed
    Endian endian = Endian::Little;
    std::string protocolClass; // "2" in ") HP-PCL XL;2;0;..."
    std::string revision;      // "0"
    std::string comment;       // without trailing NUL, CR
    std::string text;          // the whole line without its line feed
};

enum class TokenKind
{
    Pjl,           // PJL lines and universal exits before the stream header, or PJL after the final exit
    UniversalExit, // ESC %-12345X after the PCL XL data
    StreamHeader,  // binding byte through line feed
    Whitespace,    // a run of whitespace bytes
    Value,         // a data value (tag and its bytes)
    Attribute,     // 0xF8 id or 0xF9 id
    Operator,      // one operator byte
    EmbeddedData   // 0xFA/0xFB, its length and the data
};

const char *tokenKindName(TokenKind kind);

struct Token
{
    TokenKind kind = TokenKind::Whitespace;
    size_t offset = 0; // of the token's first byte
    size_t length = 0;
    uint8_t tag = 0;           // first byte of the token (the operator for Operator tokens)
    Value value;               // Value tokens
    uint16_t attribute = 0;    // Attribute tokens
    size_t payload_offset = 0; // EmbeddedData tokens: where the data bytes start
    size_t payload_length = 0; // EmbeddedData tokens: how many data bytes
    std::string text;          // StreamHeader and Pjl tokens: their text

    size_t end() const
    {
        return offset + length;
    }
};

struct ReadOptions
{
    // A document begins (after optional PJL lines) with a stream header; a
    // fragment (a page body, the watermark data, the body of a stream) has
    // none and is read in the byte order given by `endian`.
    bool expect_header = true;
    Endian endian = Endian::Little;
    // Added to every offset reported, so that a fragment cut from a larger
    // buffer reports offsets of that buffer.
    size_t base_offset = 0;
};

struct TokenList
{
    std::optional<StreamHeader> header;
    Endian endian = Endian::Little;
    size_t base_offset = 0;
    std::vector<Token> tokens; // every token before the first error
    std::optional<Error> error;

    bool ok() const
    {
        return !error.has_value();
    }
};

// Splits data into tokens. Stops at the first fault, keeping the tokens before it.
TokenList tokenize(Bytes data, const ReadOptions &options = {});

// Reads a stream header at data[0]. `nested` words the errors for the stream
// header that starts the data of a ReadStream. Offsets are data's plus base_offset.
std::optional<StreamHeader> parseStreamHeader(Bytes data, size_t base_offset, bool nested, Error *error);

} // namespace pclxl
