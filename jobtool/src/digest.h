// A 64-bit digest of bytes, for finding equal pages by content without
// holding them: equal digests are then confirmed by comparing the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jobtool
{

uint64_t Digest(const uint8_t *data, size_t size);

} // namespace jobtool
