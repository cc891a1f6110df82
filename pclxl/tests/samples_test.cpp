// The real documents of examples/, as Ghostscript's monochrome PCL XL device
// writes them (PJL lead, downloaded bitmap fonts, raster images, points as
// embedded data, universal exit at the end).
#include "helpers.h"

#include "pclxl/samples.h"

#include <gtest/gtest.h>

using namespace pclxl;
using namespace pclxl_test;
using pclxl::samples::Sample;

namespace
{

struct Expected
{
    const char *name;
    std::vector<bool> landscape; // per page
    std::vector<std::string> media;
};

const std::vector<Expected> &expected()
{
    static const std::vector<Expected> list = {
        {"sample.pxl",
         {false, false, true, false, true, false},
         {"eA4Paper", "eA4Paper", "eA4Paper", "eLetterPaper", "eA4Paper", "eA4Paper"}},
        {"one-page.pxl", {false}, {"eA4Paper"}},
        {"landscape.pxl", {true, true}, {"eA4Paper", "eA4Paper"}},
    };
    return list;
}

// Where the document is complete: right after EndSession.
size_t endOfSession(const Document &d)
{
    for (size_t i = d.commands.size(); i-- > 0;)
    {
        if (d.commands[i].op == op::EndSession)
        {
            return d.commands[i].end;
        }
    }
    return static_cast<size_t>(-1);
}

// A prefix is sound exactly when it stops after EndSession, before the universal exit.
void checkPrefix(const Sample &s, size_t length, size_t complete)
{
    Document p = readDocument(s.bytes.sub(0, length));
    if (length == complete)
    {
        EXPECT_TRUE(p.ok()) << s.name << " cut at " << length << ": " << errorText(p.error);
        return;
    }
    ASSERT_FALSE(p.ok()) << s.name << " cut at " << length << " was accepted";
    EXPECT_LE(p.error->offset, length) << s.name << ": " << p.error->message();
    EXPECT_EQ(p.error->message().rfind("offset ", 0), 0u);
}

} // namespace

TEST(Samples, AllExamplesAreEmbedded)
{
    for (const Expected &e : expected())
    {
        EXPECT_GT(samples::get(e.name).size, 1000u) << e.name;
    }
    EXPECT_EQ(samples::get("no-such.pxl").size, 0u);
}

TEST(Samples, EveryExampleIsASoundDocumentWithTheRightPages)
{
    for (const Expected &e : expected())
    {
        SCOPED_TRACE(e.name);
        Document d = readDocument(samples::get(e.name));
        ASSERT_TRUE(d.ok()) << errorText(d.error);
        ASSERT_TRUE(d.header);
        EXPECT_EQ(d.endian, Endian::Little);
        EXPECT_EQ(d.tokens.front().kind, TokenKind::Pjl);
        EXPECT_EQ(d.tokens.back().kind, TokenKind::UniversalExit);
        ASSERT_EQ(d.pages.size(), e.landscape.size());
        for (size_t i = 0; i < d.pages.size(); ++i)
        {
            EXPECT_EQ(d.pages[i].isLandscape(), e.landscape[i]) << "page " << i + 1;
            EXPECT_EQ(d.pages[i].mediaSizeName(), e.media[i]) << "page " << i + 1;
            EXPECT_TRUE(describe(d.commands[d.pages[i].begin_command]).rfind("BeginPage Orientation=e", 0) == 0);
        }
        // Header, pages and trailer tile the document.
        EXPECT_EQ(d.job_header.begin, 0u);
        size_t at = d.job_header.end;
        for (const Page &p : d.pages)
        {
            EXPECT_EQ(p.range.begin, at);
            at = p.range.end;
        }
        EXPECT_EQ(d.job_trailer.begin, at);
        EXPECT_EQ(d.job_trailer.end, samples::get(e.name).size);
    }
}

TEST(Samples, EveryStrictPrefixOfTheSmallExamplesIsRefusedButOne)
{
    for (const char *name : {"one-page.pxl", "landscape.pxl"})
    {
        const Bytes all = samples::get(name);
        const size_t complete = endOfSession(readDocument(all));
        ASSERT_LT(complete, all.size);
        const Sample s{name, all};
        for (size_t length = 0; length < all.size; ++length)
        {
            checkPrefix(s, length, complete);
            if (HasFailure())
            {
                return;
            }
        }
    }
}

TEST(Samples, PrefixesOfTheSixPageExampleAroundEveryPageAreRefused)
{
    const Sample s{"sample.pxl", samples::get("sample.pxl")};
    Document d = readDocument(s.bytes);
    const size_t complete = endOfSession(d);
    std::vector<size_t> cuts;
    for (const Page &p : d.pages)
    {
        for (size_t at : {p.range.begin, p.body.begin, p.body.end, p.range.end})
        {
            for (size_t k = at - 20; k < at + 20; ++k)
            {
                cuts.push_back(k);
            }
        }
    }
    for (size_t k = 0; k < s.bytes.size; k += 53)
    {
        cuts.push_back(k);
    }
    for (size_t k = complete - 5; k < s.bytes.size; ++k)
    {
        cuts.push_back(k);
    }
    for (size_t length : cuts)
    {
        if (length >= s.bytes.size)
        {
            continue;
        }
        checkPrefix(s, length, complete);
        if (HasFailure())
        {
            return;
        }
    }
}

TEST(Samples, CorruptedBytesAreReportedWhereTheyAre)
{
    const Bytes original = samples::get("sample.pxl");
    Document d = readDocument(original);
    ASSERT_TRUE(d.ok());
    auto corrupt = [&](size_t at, uint8_t b) {
        ByteVector bytes = original.copy();
        bytes[at] = b;
        return readDocument(Bytes(bytes)).error;
    };
    // An operator byte replaced by a byte that is no tag.
    const size_t endPage2 = d.pages[1].range.end - 1;
    EXPECT_EQ(errorText(corrupt(endPage2, 0x3F)), "offset " + std::to_string(endPage2) + ": 0x3F is not a PCL XL tag");
    // BeginPage turned into EndPage.
    const size_t beginPage3 = d.pages[2].body.begin - 1;
    EXPECT_EQ(errorText(corrupt(beginPage3, op::EndPage)),
              "offset " + std::to_string(beginPage3) + ": EndPage without BeginPage");
    // An attribute id tag turned into a data type tag.
    const Command &first = d.commands[d.pages[3].begin_command];
    const size_t attrTag = first.attributes[0].offset + 2;
    ASSERT_EQ(original[attrTag], tag::AttrUByte);
    EXPECT_NE(errorText(corrupt(attrTag, dt::UByte)).find("offset " + std::to_string(attrTag) + ": a value must be"),
              std::string::npos);
    // A character's data length that no longer matches CharDataSize.
    for (const Command &c : d.commands)
    {
        if (c.op == op::ReadChar && original[c.data_offset] == tag::DataLengthByte)
        {
            ByteVector bytes = original.copy();
            bytes[c.data_offset + 1] = static_cast<uint8_t>(c.payload_length - 1);
            bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(c.end - 1));
            EXPECT_EQ(errorText(readDocument(Bytes(bytes)).error),
                      "offset " + std::to_string(c.data_offset) +
                          ": ReadChar says CharDataSize=" + std::to_string(c.payload_length) +
                          " but its embedded data holds " + std::to_string(c.payload_length - 1) + " bytes");
            break;
        }
    }
}

TEST(Samples, TheSixPageExampleReadsTheSameInBigEndian)
{
    const Bytes little = samples::get("sample.pxl");
    Document d = readDocument(little);
    ASSERT_TRUE(d.ok());
    Writer w(Endian::Big);
    for (const Token &t : d.tokens)
    {
        switch (t.kind)
        {
        case TokenKind::StreamHeader:
            w.streamHeader(d.header->comment, d.header->protocolClass, d.header->revision);
            break;
        case TokenKind::Value:
            w.value(t.value);
            break;
        case TokenKind::Attribute:
            w.op(tag::AttrUInt16);
            w.raw(Bytes(ByteVector{static_cast<uint8_t>(t.attribute >> 8), static_cast<uint8_t>(t.attribute)}));
            break;
        case TokenKind::EmbeddedData:
            w.data(little.sub(t.payload_offset, t.payload_length), t.tag == tag::DataLength);
            break;
        default:
            w.raw(little.sub(t.offset, t.length));
            break;
        }
    }
    const ByteVector big = w.take();
    Document b = readDocument(Bytes(big));
    ASSERT_TRUE(b.ok()) << errorText(b.error);
    EXPECT_EQ(b.endian, Endian::Big);
    ASSERT_EQ(b.commands.size(), d.commands.size());
    for (size_t i = 0; i < d.commands.size(); ++i)
    {
        ASSERT_EQ(describe(b.commands[i]), describe(d.commands[i])) << "command " << i;
        if (d.commands[i].has_data)
        {
            EXPECT_TRUE(std::equal(little.data + d.commands[i].payload_offset,
                                   little.data + d.commands[i].payload_offset + d.commands[i].payload_length,
                                   big.begin() + static_cast<std::ptrdiff_t>(b.commands[i].payload_offset)));
        }
    }
    ASSERT_EQ(b.pages.size(), 6u);
    EXPECT_TRUE(b.pages[2].isLandscape());
}
