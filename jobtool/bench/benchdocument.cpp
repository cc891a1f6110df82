#include "benchdocument.h"

#include "pclxl/pclxl.h"

#include <algorithm>

namespace bench
{

bool MakeBenchDocument(const std::vector<uint8_t> &source, uint64_t target,
                       const std::function<void(const uint8_t *, size_t)> &put, BenchDocument &made, std::string &error)
{
    const pclxl::Document doc = pclxl::readDocument(pclxl::Bytes(source));
    if (!doc.ok() || doc.pages.empty())
    {
        error = "the source is not a sound PCL XL document with pages" +
                (doc.error ? ": " + doc.error->message() : std::string());
        return false;
    }
    auto range = [&](size_t begin, size_t end) {
        put(source.data() + begin, end - begin);
        made.size += end - begin;
    };
    range(doc.job_header.begin, doc.job_header.end);
    for (size_t i = 0; made.size + doc.job_trailer.size() < target; i = (i + 1) % doc.pages.size())
    {
        // The bytes between this page and the next (whitespace, session-level commands) go with it.
        const pclxl::Page &p = doc.pages[i];
        const size_t next = i + 1 < doc.pages.size() ? doc.pages[i + 1].range.begin : p.range.end;
        const uint16_t n = static_cast<uint16_t>(made.pages + 1);
        const bool little = doc.endian == pclxl::Endian::Little;
        const uint8_t lo = static_cast<uint8_t>(n & 0xFF), hi = static_cast<uint8_t>(n >> 8);
        const uint8_t mark[] = {pclxl::op::PushGS,     pclxl::dt::UInt16,     little ? lo : hi,       little ? hi : lo,
                                pclxl::tag::AttrUByte, pclxl::attr::PenWidth, pclxl::op::SetPenWidth, pclxl::op::PopGS};
        range(p.range.begin, p.body.begin);
        put(mark, sizeof mark);
        made.size += sizeof mark;
        range(p.body.begin, next);
        made.pages++;
        made.largestPage = std::max(made.largestPage, p.range.size() + sizeof mark);
    }
    range(doc.job_trailer.begin, doc.job_trailer.end);
    return true;
}

} // namespace bench
