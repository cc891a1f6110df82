// Digests of bytes: equal pages found by content without holding them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pclxl
{

namespace detail
{

inline uint64_t mixDigest(uint64_t h)
{
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

} // namespace detail

// Eight bytes a step, four lanes so that the multiplications overlap: pages
// run to megabytes and every printed page is digested. N digests of one
// family are made in one pass over the bytes (a page's two are).
template <size_t N>
void digestMany(const uint8_t *data, size_t size, const uint64_t (&seeds)[N], uint64_t (&out)[N])
{
    const uint64_t k = 0x9E3779B97F4A7C15ULL;
    uint64_t s[N];
    uint64_t lane[N][4];
    for (size_t d = 0; d < N; d++)
    {
        s[d] = detail::mixDigest(seeds[d] + 0x5851F42D4C957F2DULL);
        lane[d][0] = k ^ s[d];
        lane[d][1] = k ^ 0x1234567 ^ (s[d] << 1);
        lane[d][2] = k ^ 0x89abcdef ^ (s[d] >> 1);
        lane[d][3] = k ^ size ^ ~s[d];
    }
    size_t i = 0;
    for (; i + 32 <= size; i += 32)
    {
        for (int j = 0; j < 4; j++)
        {
            uint64_t w;
            std::memcpy(&w, data + i + 8 * j, 8);
            for (size_t d = 0; d < N; d++)
            {
                lane[d][j] = (lane[d][j] ^ w) * k;
                lane[d][j] ^= lane[d][j] >> 29;
            }
        }
    }
    for (size_t d = 0; d < N; d++)
    {
        uint64_t h = detail::mixDigest(lane[d][0]) ^ detail::mixDigest(lane[d][1] + 1) ^
                     detail::mixDigest(lane[d][2] + 2) ^ detail::mixDigest(lane[d][3] + 3);
        for (size_t t = i; t < size; t++)
        {
            h = (h ^ data[t]) * 0x100000001b3ULL;
        }
        out[d] = detail::mixDigest(h ^ size ^ s[d]);
    }
}

} // namespace pclxl
