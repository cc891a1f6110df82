#include "helpers.h"

#include <gtest/gtest.h>

using namespace pclxl;
using namespace pclxl_test;

namespace
{

std::string fragmentError(const ByteVector &d, Context context = Context::Page, bool complete = true)
{
    return errorText(checkFragment(d, context, complete).error);
}

// A document whose only page holds `body`.
ByteVector pageWith(const ByteVector &body)
{
    Writer w;
    w.streamHeader().beginSession().openDataSource().beginPage().raw(Bytes(body)).endPage().closeDataSource();
    return w.endSession().take();
}

size_t find(const ByteVector &hay, const ByteVector &needle, size_t from = 0)
{
    for (size_t i = from; i + needle.size() <= hay.size(); ++i)
    {
        if (std::equal(needle.begin(), needle.end(), hay.begin() + static_cast<std::ptrdiff_t>(i)))
        {
            return i;
        }
    }
    return static_cast<size_t>(-1);
}

} // namespace

TEST(Structure, ValuesAttributesAndOperatorsMustComeInOrder)
{
    EXPECT_EQ(fragmentError({0xC0, 1, 0xC0, 2, 0xF8, 0x2C, 0x7B}),
              "offset 2: a value must be followed by an attribute id, but the value at offset 0 is followed by "
              "another value");
    EXPECT_EQ(fragmentError({0xF8, 0x2C, 0x7B}), "offset 0: attribute id ROP3 has no value before it");
    EXPECT_EQ(fragmentError({0xC0, 1, 0x61}),
              "offset 2: operator PushGS follows the value at offset 0, which has no attribute id");
    EXPECT_EQ(fragmentError({0xC0, 1, 0xF8, 0xFF, 0x7B}), "offset 2: attribute id 255 is not a known attribute");
    EXPECT_EQ(fragmentError({0xC0, 1, 0xF8, 0x2C}),
              "offset 4: input ends after an attribute list that no operator follows (the list begins at offset 0)");
    EXPECT_EQ(fragmentError({0xC0, 1}),
              "offset 2: input ends after a value that has no attribute id (the value at offset 0)");
    // Unfinished is fine when the caller says the fragment may stop early.
    EXPECT_EQ(fragmentError({0xC0, 1, 0xF8, 0x2C}, Context::Page, false), "(no error)");

    Structure st = checkFragment({0xC0, 0xFC, 0xF8, 0x2C, 0x20, 0x7B});
    ASSERT_TRUE(st.ok()) << errorText(st.error);
    ASSERT_EQ(st.commands.size(), 1u);
    EXPECT_EQ(st.commands[0].begin, 0u);
    EXPECT_EQ(st.commands[0].op_offset, 5u);
    EXPECT_EQ(st.commands[0].find(attr::ROP3)->value.number(), 252);
}

TEST(Structure, EmbeddedDataFollowsOnlyOperatorsThatReadIt)
{
    Writer bad;
    bad.setFont("Courier", 12).data(Bytes(std::string("abc")));
    EXPECT_EQ(fragmentError(bad.bytes()),
              "offset " + std::to_string(bad.size() - 5) +
                  ": embedded data must follow an operator that reads data (ReadImage, ReadChar, ReadStream, ...); "
                  "it follows SetFont");

    // LinePath takes its points either as attributes or as embedded data.
    Writer lines;
    lines.newPath().xy(ElementType::SInt16, 0, 0).attr(attr::Point).op(op::SetCursor);
    lines.ubyte(2).attr(attr::NumberOfPoints).ubyte(3).attr(attr::PointType).op(op::LinePath);
    lines.data(Bytes(ByteVector{1, 0, 2, 0, 3, 0, 4, 0}));
    lines.xy(ElementType::SInt16, 9, 9).attr(attr::EndPoint).op(op::LinePath);
    EXPECT_EQ(fragmentError(lines.bytes()), "(no error)");

    // ReadImage cannot go without its data, nor take two blocks.
    Writer image;
    image.ubyte(0).attr(attr::ColorMapping).ubyte(0).attr(attr::ColorDepth).uint16(8).attr(attr::SourceWidth);
    image.uint16(1).attr(attr::SourceHeight).xy(ElementType::UInt16, 8, 1).attr(attr::DestinationSize);
    image.op(op::BeginImage).uint16(0).attr(attr::StartLine).uint16(1).attr(attr::BlockHeight);
    image.ubyte(0).attr(attr::CompressMode).op(op::ReadImage);
    const size_t read = image.size() - 1;
    Writer missing = image;
    missing.op(op::EndImage);
    EXPECT_EQ(fragmentError(missing.bytes()), "offset " + std::to_string(read + 1) + ": ReadImage at offset " +
                                                  std::to_string(read) +
                                                  " must be followed by its embedded data (0xFA or 0xFB), found "
                                                  "operator");
    Writer twice = image;
    twice.data(Bytes(ByteVector{0, 0, 0, 0})).data(Bytes(ByteVector{0, 0, 0, 0})).op(op::EndImage);
    EXPECT_NE(fragmentError(twice.bytes()).find("it follows another embedded data block"), std::string::npos);
    Writer good = image;
    good.data(Bytes(ByteVector{0xFF, 0, 0, 0})).op(op::EndImage);
    Structure st = checkFragment(good.bytes());
    ASSERT_TRUE(st.ok()) << errorText(st.error);
    const Command &c = st.commands[st.commands.size() - 2];
    EXPECT_EQ(c.op, op::ReadImage);
    EXPECT_TRUE(c.has_data);
    EXPECT_EQ(c.payload_length, 4u);
    EXPECT_EQ(c.end, good.size() - 1);
}

TEST(Structure, BeginEndPairsNestAndBalance)
{
    // Offsets of the operators inside the page of pageWith(): header, session and data source come first.
    const size_t bodyAt = readDocument(pageWith({})).pages.at(0).body.begin;
    auto at = [&](size_t k) { return "offset " + std::to_string(bodyAt + k) + ": "; };
    EXPECT_EQ(errorText(readDocument(pageWith({0x60})).error), at(0) + "PopGS without PushGS");
    EXPECT_EQ(errorText(readDocument(pageWith({0x61, 0x61, 0x60})).error),
              at(3) + "EndPage while the graphics state begun at offset " + std::to_string(bodyAt) +
                  " is still open (PopGS missing)");
    EXPECT_EQ(errorText(readDocument(pageWith({0x43})).error),
              at(0) + "BeginPage inside the page begun at offset " + std::to_string(bodyAt - 1) + " (EndPage missing)");
    EXPECT_EQ(errorText(readDocument(pageWith({0x49})).error),
              at(0) + "CloseDataSource while the page begun at offset " + std::to_string(bodyAt - 1) +
                  " is still open (EndPage missing)");
    EXPECT_EQ(errorText(readDocument(pageWith({0xC0, 0, 0xF8, 0x62, 0xB1})).error),
              at(4) + "ReadImage without BeginImage");

    Writer image;
    image.op(op::BeginImage).setFont("Courier", 10);
    EXPECT_EQ(errorText(readDocument(pageWith(image.bytes())).error),
              at(image.size() - 1) + "SetFont is not allowed inside the image begun at offset " +
                  std::to_string(bodyAt) + " (EndImage missing)");

    Writer w;
    w.streamHeader().setCursor(1, 1);
    EXPECT_EQ(errorText(readDocument(w.bytes()).error),
              "offset " + std::to_string(w.size() - 1) + ": SetCursor outside a page (BeginPage missing)");
    Writer early;
    early.streamHeader().beginPage();
    EXPECT_EQ(errorText(readDocument(early.bytes()).error),
              "offset " + std::to_string(early.size() - 1) + ": BeginPage outside a session (BeginSession missing)");
    Writer open;
    open.streamHeader().beginSession().openDataSource().endSession();
    EXPECT_NE(errorText(readDocument(open.bytes()).error).find("EndSession while the data source begun at offset"),
              std::string::npos);
}

TEST(Structure, ADocumentMustEndClosed)
{
    ByteVector doc = smallDocument(2);
    Document full = readDocument(Bytes(doc));
    ASSERT_TRUE(full.ok()) << errorText(full.error);
    const Page &p2 = full.pages[1];
    const Bytes cut = Bytes(doc).sub(0, p2.body.begin);
    EXPECT_EQ(errorText(readDocument(cut).error), "offset " + std::to_string(p2.body.begin) +
                                                      ": input ends inside the page begun at offset " +
                                                      std::to_string(p2.body.begin - 1) + " (EndPage missing)");
    CheckOptions prefix;
    prefix.require_complete = false;
    EXPECT_TRUE(readDocument(cut, {}, prefix).ok());
    Writer empty;
    empty.streamHeader();
    EXPECT_EQ(errorText(readDocument(empty.bytes()).error),
              "offset " + std::to_string(empty.size()) +
                  ": input ends without a session (BeginSession ... EndSession)");
}

TEST(Structure, FragmentsAreCheckedInTheirContext)
{
    // The watermark fragment as it is spliced into a page.
    const ByteVector watermark = ByteVector{0x61, 0x69, 0xC0, 0xFC, 0xF8, 0x2C, 0x7B} +
                                 Writer().setFont("Arial", 40).setCharAngle(45).text("DRAFT").take() + ByteVector{0x60};
    EXPECT_EQ(fragmentError(watermark), "(no error)");
    EXPECT_EQ(fragmentError(watermark, Context::Session), "offset 0: PushGS outside a page (BeginPage missing)");
    EXPECT_EQ(fragmentError({0x44}), "offset 0: EndPage closes the page around this fragment, which this fragment "
                                     "did not open");
    EXPECT_EQ(fragmentError({0x61}),
              "offset 1: input ends inside the graphics state begun at offset 0 (PopGS missing)");
    // Between pages: whole pages are fine, page content is not.
    Writer between;
    writeTextPage(between, "x");
    EXPECT_EQ(fragmentError(between.bytes(), Context::Session), "(no error)");
}

TEST(Structure, StreamDataIsAPclXlFragmentWithItsOwnHeader)
{
    const ByteVector body = Writer().setFont("Courier", 12).setCursor(10, 20).text("overlay").take();
    Writer w;
    w.streamHeader().beginSession().openDataSource().beginStream("ovl").readStream(Bytes(body), "x").endStream();
    writeTextPage(w, "p");
    w.closeDataSource().endSession();
    const ByteVector doc = w.take();
    Document d = readDocument(Bytes(doc));
    ASSERT_TRUE(d.ok()) << errorText(d.error);
    ASSERT_EQ(d.streams.size(), 1u);
    const StreamDefinition &s = d.streams[0];
    EXPECT_EQ(s.name, "ovl");
    ASSERT_TRUE(s.header);
    EXPECT_EQ(s.header->comment, "x");
    ASSERT_EQ(s.body_commands.size(), 3u);
    EXPECT_EQ(describe(s.body_commands[2]), "Text TextData=\"overlay\"");
    // Offsets inside the stream body are offsets of the document.
    for (const Command &c : s.body_commands)
    {
        EXPECT_EQ(doc[c.op_offset], c.op);
    }
    EXPECT_EQ(d.pages.size(), 1u);
}

TEST(Structure, StreamDataMaySpanSeveralReadStreams)
{
    const ByteVector content = makeStreamData(Bytes(Writer().pushGS().setROP(252).popGS().take()), "split");
    Writer w;
    w.streamHeader().beginSession().beginStream("two");
    for (size_t part = 0; part < 2; ++part)
    {
        const Bytes half = Bytes(content).sub(part * 20, part == 0 ? 20 : static_cast<size_t>(-1));
        w.uint32(static_cast<uint32_t>(half.size)).attr(attr::StreamDataLength).op(op::ReadStream).data(half);
    }
    w.endStream().endSession();
    const ByteVector doc = w.take();
    Document d = readDocument(Bytes(doc));
    ASSERT_TRUE(d.ok()) << errorText(d.error);
    ASSERT_EQ(d.streams.size(), 1u);
    EXPECT_EQ(d.streams[0].read_commands.size(), 2u);
    ASSERT_EQ(d.streams[0].body_commands.size(), 3u);
    for (const Command &c : d.streams[0].body_commands)
    {
        EXPECT_EQ(doc[c.op_offset], c.op);
    }
}

TEST(Structure, FaultsInStreamDataAreReportedAtTheirOffsetInTheDocument)
{
    // Data without a stream header.
    Writer noHeader;
    noHeader.streamHeader().beginSession().beginStream("bad").uint32(3).attr(attr::StreamDataLength);
    noHeader.op(op::ReadStream).data(Bytes(ByteVector{0x61, 0x60, 0x20})).endStream().endSession();
    EXPECT_EQ(
        errorText(readDocument(noHeader.bytes()).error),
        "offset " + std::to_string(noHeader.size() - 5) +
            ": stream data must begin with a stream header (binding \"(\" or \")\" and \" HP-PCL XL;...\"), found "
            "0x61 (in the data of the stream \"bad\" begun at offset " +
            std::to_string(noHeader.size() - 16) + ")");

    // A page cannot begin inside stream data.
    const ByteVector inner = Writer().beginPage().endPage().take();
    Writer page;
    page.streamHeader().beginSession().beginStream("pg").readStream(Bytes(inner)).endStream().endSession();
    const ByteVector doc = page.take();
    const size_t beginPageAt = doc.size() - 2 - inner.size() + (inner.size() - 2);
    EXPECT_EQ(errorText(readDocument(Bytes(doc)).error),
              "offset " + std::to_string(beginPageAt) +
                  ": BeginPage inside the page around this fragment (in the data of the stream \"pg\" "
                  "begun at offset " +
                  std::to_string(find(doc, {0x5B})) + ")");

    // StreamDataLength must match the data.
    Writer lie;
    lie.streamHeader().beginSession().beginStream("n").uint32(99).attr(attr::StreamDataLength).op(op::ReadStream);
    const size_t dataAt = lie.size();
    lie.data(Bytes(makeStreamData(Bytes()))).endStream().endSession();
    EXPECT_EQ(errorText(readDocument(lie.bytes()).error),
              "offset " + std::to_string(dataAt) +
                  ": ReadStream says StreamDataLength=99 but its embedded data holds " +
                  std::to_string(makeStreamData(Bytes()).size()) + " bytes");

    Writer empty;
    empty.streamHeader().beginSession().beginStream("e").endStream().endSession();
    EXPECT_NE(errorText(readDocument(empty.bytes()).error).find("stream \"e\" begun at offset"), std::string::npos);
}
