// Where a page probably begins in the middle of a document, found without
// reading the document from its start: for a second pass that reads the
// later pages beside the first. A guess, never a reading: the pass that
// reads up to the place is what says whether a page ends there.
#pragma once

#include "pclxl/bytesource.h"
#include "pclxl/protocol.h"

#include <cstdint>
#include <optional>

namespace pclxl
{

// The first place in [from, to) where an EndPage operator byte is followed
// by a BeginPage whose attribute list is plain values and attribute ids:
// the offset after the EndPage byte. Nothing when there is none, or when
// the bytes cannot be read.
std::optional<uint64_t> guessPageStart(ByteSource &source, uint64_t from, uint64_t to, Endian endian);

} // namespace pclxl
