// The example documents of examples/ (made by examples/make-samples.sh),
// compiled into the target pclxl_samples so that tests on either build read
// them without touching the file system.
#pragma once

#include "pclxl/reader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pclxl
{
namespace samples
{

struct Sample
{
    std::string name; // file name, e.g. "sample.pxl"
    Bytes bytes;
};

// Every embedded example, in file name order.
const std::vector<Sample> &all();
// The example with this file name; an empty view when there is none.
Bytes get(const std::string &name);

} // namespace samples
} // namespace pclxl
