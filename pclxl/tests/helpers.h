// Small builders shared by the pclxl tests.
#pragma once

#include "pclxl/pclxl.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pclxl_test
{

using ByteVector = std::vector<uint8_t>;

inline ByteVector operator+(ByteVector a, const ByteVector &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline ByteVector bytesOf(const std::string &s)
{
    return ByteVector(s.begin(), s.end());
}

// ") HP-PCL XL;2;0;test\n"
inline ByteVector header(pclxl::Endian endian = pclxl::Endian::Little)
{
    return pclxl::Writer(endian).streamHeader("test").take();
}

// One page of text in the shape the page bodies of our documents take.
inline void writeTextPage(pclxl::Writer &w, const std::string &label, uint8_t orientation = 0,
                          uint8_t mediaSize = pclxl::val::eA4Paper, uint16_t copies = 1)
{
    w.beginPage(orientation, mediaSize, pclxl::val::eAutoSelect);
    w.setColorSpaceGray().setBrushGray(0).setFont("Courier         ", 48, 629);
    w.setCharAngle(0).setCursor(300, 400).text(label);
    w.endPage(copies);
}

// A whole document of `pages` pages; pages with an even number are landscape.
inline ByteVector smallDocument(int pages, pclxl::Endian endian = pclxl::Endian::Little)
{
    pclxl::Writer w(endian);
    w.streamHeader("test document").beginSession(600).openDataSource();
    for (int i = 1; i <= pages; ++i)
    {
        writeTextPage(w, "Page " + std::to_string(i), i % 2 == 0 ? pclxl::val::eLandscapeOrientation : 0);
    }
    w.closeDataSource().endSession();
    return w.take();
}

// Tokenizes and checks a fragment without stream header.
inline pclxl::Structure checkFragment(const ByteVector &data, pclxl::Context context = pclxl::Context::Page,
                                      bool complete = true)
{
    pclxl::ReadOptions ro;
    ro.expect_header = false;
    pclxl::TokenList tl = pclxl::tokenize(pclxl::Bytes(data), ro);
    pclxl::CheckOptions co;
    co.context = context;
    co.require_complete = complete;
    pclxl::Structure st = pclxl::checkStructure(tl, pclxl::Bytes(data), co);
    if (tl.error && !st.error)
    {
        st.error = tl.error;
    }
    return st;
}

inline std::string errorText(const std::optional<pclxl::Error> &e)
{
    return e ? e->message() : std::string("(no error)");
}

} // namespace pclxl_test
