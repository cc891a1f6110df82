#include "digest.h"

#include "pclxl/digest.h"

namespace jobtool
{

uint64_t Digest(const uint8_t *data, size_t size, uint64_t seed)
{
    const uint64_t seeds[1] = {seed};
    uint64_t out[1];
    pclxl::digestMany(data, size, seeds, out);
    return out[0];
}

PageDigest DigestPage(const uint8_t *data, size_t size)
{
    const uint64_t seeds[2] = {1, 2};
    uint64_t out[2];
    pclxl::digestMany(data, size, seeds, out);
    return PageDigest{out[0], out[1], size};
}

} // namespace jobtool
