// The documents the benchmarks read: a real Ghostscript document's job
// header once, its pages over and over until a size is reached, its
// trailer once; sound PCL XL of any size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench
{

struct BenchDocument
{
    uint64_t size = 0;
    size_t pages = 0;
    size_t largestPage = 0;
};

// Hands the document's bytes to put in order; false (with error) when the
// source is not a sound PCL XL document with pages. Each page is made unlike
// every other (a pen width set and undone right after BeginPage, with the
// page's number), as the pages of a real document are: nothing may profit
// from pages met before.
bool MakeBenchDocument(const std::vector<uint8_t> &source, uint64_t target,
                       const std::function<void(const uint8_t *, size_t)> &put, BenchDocument &made,
                       std::string &error);

} // namespace bench
