// make's input when it is not PCL XL: a PDF or PostScript document (gzip-
// compressed or not) turned into PCL XL by Ghostscript, as the printer's
// rendering driver would have sent it, and read in whole.
#pragma once

#include "convert.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jobtool
{

struct InputDocument
{
    std::optional<std::vector<uint8_t>> pxl;
    DocumentFormat source = DocumentFormat::Unknown; // what the file held (inside gzip too)
    std::vector<std::string> notes;                  // how it was converted, what Ghostscript warned about
    std::string error;                               // why there is no PCL XL
};

// Converts `input` into a scratch file next to `beside` (removed after).
InputDocument ConvertedInput(const std::string &input, const std::string &beside, const ConvertOptions &options);

// The path made absolute, so that it still names the file from elsewhere.
std::string AbsolutePath(const std::string &path);

} // namespace jobtool
