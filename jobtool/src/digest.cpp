#include "digest.h"

#include <cstring>

namespace jobtool
{

namespace
{

uint64_t Mix(uint64_t h)
{
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

} // namespace

// Eight bytes a step, four lanes so that the multiplications overlap: pages
// run to megabytes and every printed page is digested.
uint64_t Digest(const uint8_t *data, size_t size, uint64_t seed)
{
    const uint64_t k = 0x9E3779B97F4A7C15ULL;
    const uint64_t s = Mix(seed + 0x5851F42D4C957F2DULL);
    uint64_t lane[4] = {k ^ s, k ^ 0x1234567 ^ (s << 1), k ^ 0x89abcdef ^ (s >> 1), k ^ size ^ ~s};
    size_t i = 0;
    for (; i + 32 <= size; i += 32)
    {
        for (int j = 0; j < 4; j++)
        {
            uint64_t w;
            std::memcpy(&w, data + i + 8 * j, 8);
            lane[j] = (lane[j] ^ w) * k;
            lane[j] ^= lane[j] >> 29;
        }
    }
    uint64_t h = Mix(lane[0]) ^ Mix(lane[1] + 1) ^ Mix(lane[2] + 2) ^ Mix(lane[3] + 3);
    for (; i < size; i++)
    {
        h = (h ^ data[i]) * 0x100000001b3ULL;
    }
    return Mix(h ^ size ^ s);
}

PageDigest DigestPage(const uint8_t *data, size_t size)
{
    return PageDigest{Digest(data, size, 1), Digest(data, size, 2), size};
}

} // namespace jobtool
