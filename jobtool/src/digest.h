// Digests of bytes, for finding equal pages by content without holding
// them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// A page body, known without holding it: found in a sheet where its first
// bytes are, and confirmed there by its size and digest.
struct BodyKey
{
    size_t size = 0;
    PageDigest digest;
    std::vector<uint8_t> head; // the first kBodyHead bytes, or the whole of a shorter body

    bool operator==(const BodyKey &o) const
    {
        return size == o.size && digest == o.digest && head == o.head;
    }
};
constexpr size_t kBodyHead = 32;
BodyKey KeyOfBody(const uint8_t *body, size_t size);

} // namespace jobtool
