// One readable line per token or operator, for "explain" views and test
// messages: "BeginPage Orientation=ePortraitOrientation MediaSize=eA4Paper",
// "SetROP ROP3=252".
#pragma once

#include "pclxl/reader.h"
#include "pclxl/structure.h"

#include <string>
#include <vector>

namespace pclxl
{

// A value as text: enumeration names for enumerated attributes, quoted text
// for character arrays, "(x, y)" for pairs, "(x1, y1, x2, y2)" for boxes,
// "[1 2 3]" for other arrays (long ones shortened).
std::string describeValue(const Value &value, uint16_t attribute = 0);

// "Orientation", or "attribute 0x1234" for an unknown id.
std::string describeAttributeId(uint16_t id);

// The operator, its attributes as Name=value and, if any, its embedded data:
// "ReadImage StartLine=0 BlockHeight=12 CompressMode=eRLECompression [data 230 bytes]".
std::string describe(const Command &command);

// "ubyte 252", "attribute ROP3", "operator SetROP", "embedded data 230 bytes",
// "whitespace 2 bytes", "stream header ) HP-PCL XL;2;0;...", "PJL 91 bytes", "universal exit".
std::string describe(const Token &token);

// One line per operator of a headerless fragment (a page body, watermark
// data, the bytes between two pages), then "error: offset N: ..." if it is
// not sound. Constructs left open at the end are not counted as faults.
std::vector<std::string> explainFragment(Bytes data, Context context = Context::Page, Endian endian = Endian::Little,
                                         size_t base_offset = 0);

} // namespace pclxl
