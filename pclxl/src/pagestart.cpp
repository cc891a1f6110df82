#include "pclxl/pagestart.h"

#include "internal.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace pclxl
{

namespace
{

// A BeginPage's attribute list is a few values; a longer one is not looked for.
const size_t kMostList = 128;
const size_t kPiece = 1u << 20;

// The length of a plain attribute list at p that ends with a BeginPage
// operator (the operator included), or 0.
size_t beginPageAt(const uint8_t *p, size_t size, Endian endian)
{
    const detail::ByteKind *kinds = detail::byteKinds();
    size_t at = 0;
    size_t attributes = 0;
    while (at < size && at < kMostList)
    {
        const uint8_t b = p[at];
        if (b == op::BeginPage)
        {
            return attributes > 0 ? at + 1 : 0;
        }
        const detail::ByteKind &k = kinds[b];
        if (k.starts != detail::Starts::Value)
        {
            return 0;
        }
        size_t value = 1;
        switch (k.type.shape)
        {
        case Shape::Scalar:
            value += k.element_size;
            break;
        case Shape::XY:
            value += 2u * k.element_size;
            break;
        case Shape::Box:
            value += 4u * k.element_size;
            break;
        case Shape::Array: {
            // The element count: a ubyte or uint16 scalar.
            if (at + 2 >= size)
            {
                return 0;
            }
            const uint8_t lengthTag = p[at + 1];
            const size_t cb = lengthTag == dataTypeTag(ElementType::UByte, Shape::Scalar)    ? 1
                              : lengthTag == dataTypeTag(ElementType::UInt16, Shape::Scalar) ? 2
                                                                                             : 0;
            if (cb == 0 || at + 2 + cb > size)
            {
                return 0;
            }
            const size_t count = detail::readUnsigned(p + at + 2, cb, endian);
            value += 1 + cb + count * k.element_size;
            break;
        }
        }
        at += value;
        // The attribute id.
        if (at + 2 > size || (p[at] != tag::AttrUByte && p[at] != tag::AttrUInt16))
        {
            return 0;
        }
        at += p[at] == tag::AttrUByte ? 2 : 3;
        attributes++;
    }
    return 0;
}

} // namespace

std::optional<uint64_t> guessPageStart(ByteSource &source, uint64_t from, uint64_t to, Endian endian)
{
    std::vector<uint8_t> piece;
    to = std::min(to, source.size());
    for (uint64_t at = from; at < to; at += kPiece)
    {
        // A piece overlaps the next by the longest list, so that none is cut.
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece + kMostList, source.size() - at));
        piece.resize(n);
        if (!source.read(at, piece.data(), n))
        {
            return std::nullopt;
        }
        const size_t scan = static_cast<size_t>(std::min<uint64_t>(std::min<uint64_t>(kPiece, to - at), n));
        for (size_t i = 0; i < scan; i++)
        {
            const uint8_t *hit = static_cast<const uint8_t *>(std::memchr(piece.data() + i, op::EndPage, scan - i));
            if (hit == nullptr)
            {
                break;
            }
            i = static_cast<size_t>(hit - piece.data());
            if (beginPageAt(hit + 1, n - i - 1, endian) > 0)
            {
                return at + i + 1;
            }
        }
    }
    return std::nullopt;
}

} // namespace pclxl
