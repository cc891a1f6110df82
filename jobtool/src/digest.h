// Digests of bytes, for finding equal pages by content without holding
// them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jobtool
{

// 64 bits; seed chooses one of a family of independent digests.
uint64_t Digest(const uint8_t *data, size_t size, uint64_t seed = 0);

// What a page is known by: two independent 64-bit digests and the size. Two
// different pages share one by chance once in 2^128: as good as comparing
// the bytes, which a document's worth of pages would need memory for.
struct PageDigest
{
    uint64_t first = 0;
    uint64_t second = 0;
    uint64_t size = 0;

    bool operator==(const PageDigest &o) const
    {
        return first == o.first && second == o.second && size == o.size;
    }
};

PageDigest DigestPage(const uint8_t *data, size_t size);

} // namespace jobtool
