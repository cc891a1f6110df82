#include "helpers.h"

#include <gtest/gtest.h>

using namespace pclxl;
using namespace pclxl_test;

TEST(Writer, ShorthandsEmitTheBytesThePrinterExpects)
{
    EXPECT_EQ(Writer().pushGS().setClipToPage().setROP(252).popGS().take(),
              (ByteVector{0x61, 0x69, 0xC0, 0xFC, 0xF8, 0x2C, 0x7B, 0x60}));
    EXPECT_EQ(Writer().setCursor(-2, 300).take(), (ByteVector{0xD3, 0xFE, 0xFF, 0x2C, 0x01, 0xF8, 0x4C, 0x6B}));
    EXPECT_EQ(Writer(Endian::Big).setCursor(-2, 300).take(),
              (ByteVector{0xD3, 0xFF, 0xFE, 0x01, 0x2C, 0xF8, 0x4C, 0x6B}));
    EXPECT_EQ(Writer().text("Hi").take(), (ByteVector{0xC8, 0xC1, 0x02, 0x00, 'H', 'i', 0xF8, 0xAB, 0xA8}));
    EXPECT_EQ(Writer().attr(0x1234).take(), (ByteVector{0xF9, 0x34, 0x12}));
    EXPECT_EQ(Writer().streamHeader("c").take(), bytesOf(") HP-PCL XL;2;0;c\n"));
    EXPECT_EQ(Writer(Endian::Big).streamHeader("c", "3", "0").take(), bytesOf("( HP-PCL XL;3;0;c\n"));
    const ByteVector big(300, 0xAA);
    EXPECT_EQ(Writer().data(Bytes(big)).size(), 305u);
    EXPECT_EQ(Writer().data(Bytes(ByteVector(255, 0))).bytes()[0], tag::DataLengthByte);
}

TEST(Writer, WholeDocumentsRoundTripInBothByteOrders)
{
    for (Endian endian : {Endian::Little, Endian::Big})
    {
        const ByteVector doc = smallDocument(3, endian);
        Document d = readDocument(Bytes(doc));
        ASSERT_TRUE(d.ok()) << errorText(d.error);
        EXPECT_EQ(d.endian, endian);
        ASSERT_EQ(d.pages.size(), 3u);
        EXPECT_FALSE(d.pages[0].isLandscape());
        EXPECT_TRUE(d.pages[1].isLandscape());
        const Command &font = d.commands[d.pages[2].begin_command + 3];
        EXPECT_EQ(describe(font), "SetFont FontName=\"Courier         \" CharSize=48 SymbolSet=629");
        const Command &text = d.commands[d.pages[2].end_command - 1];
        EXPECT_EQ(describe(text), "Text TextData=\"Page 3\"");
        EXPECT_EQ(describe(d.commands[0]),
                  "BeginSession UnitsPerMeasure=(600, 600) Measure=eInch ErrorReport=eNoReporting");
        EXPECT_EQ(describe(d.commands[1]),
                  std::string("OpenDataSource SourceType=eDefaultDataSource DataOrg=") +
                      (endian == Endian::Little ? "eBinaryLowByteFirst" : "eBinaryHighByteFirst"));
    }
}

TEST(Writer, ValuesRoundTripThroughTheReader)
{
    Writer w;
    w.ubyte(255).uint16(65535).uint32(4000000000u).sint16(-32768).sint32(-2147483647).real32(-0.125f);
    w.xy(ElementType::Real32, 1.5, -2.5).box(ElementType::SInt32, -1, -2, 3, 4).sint16Array({-5, 5});
    ReadOptions ro;
    ro.expect_header = false;
    TokenList tl = tokenize(w.bytes(), ro);
    ASSERT_TRUE(tl.ok()) << errorText(tl.error);
    ASSERT_EQ(tl.tokens.size(), 9u);
    // Re-encoding every value gives the same bytes back.
    Writer again;
    for (const Token &t : tl.tokens)
    {
        again.value(t.value);
    }
    EXPECT_EQ(again.bytes(), w.bytes());
    EXPECT_EQ(tl.tokens[2].value.number(), 4000000000.0);
    EXPECT_EQ(tl.tokens[4].value.number(), -2147483647.0);
    EXPECT_EQ(tl.tokens[5].value.number(), -0.125);
}

// The overlay embedding exactly as the spool hook writes it: uint32 N,
// StreamDataLength, ReadStream, 0xFA N, ") " and a 60-byte header text, a
// line feed and n bytes of overlay data, with N = n + 63.
TEST(Writer, OverlayEmbeddingIsAValidStreamDefinition)
{
    const ByteVector overlay = Writer().setBrushGray(0).rectangle(100, 100, 400, 200).take();
    const std::string headerText = "HP-PCL XL;2;0;Comment " + std::string(38, 'x');
    ASSERT_EQ(headerText.size(), 60u);
    const uint32_t n = static_cast<uint32_t>(overlay.size());
    const uint32_t N = n + 63;
    auto le32 = [](uint32_t v) {
        return ByteVector{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                          static_cast<uint8_t>(v >> 24)};
    };
    const ByteVector embedding = ByteVector{0xC2} + le32(N) + ByteVector{0xF8, 0x8C, 0x5C, 0xFA} + le32(N) +
                                 ByteVector{0x29, 0x20} + bytesOf(headerText) + ByteVector{0x0A} + overlay;
    ASSERT_EQ(embedding.size(), 13u + N);

    Writer w;
    w.streamHeader().beginSession().openDataSource().beginStream("overlay");
    const size_t at = w.size();
    w.raw(Bytes(embedding)).endStream();
    w.beginPage().execStream("overlay").endPage().closeDataSource().endSession();
    Document d = readDocument(w.bytes());
    ASSERT_TRUE(d.ok()) << errorText(d.error);
    ASSERT_EQ(d.streams.size(), 1u);
    const StreamDefinition &s = d.streams[0];
    EXPECT_EQ(s.header->comment, "Comment " + std::string(38, 'x'));
    EXPECT_EQ(s.header->offset, at + 13);
    ASSERT_EQ(s.body_commands.size(), 2u);
    EXPECT_EQ(describe(s.body_commands[1]), "Rectangle BoundingBox=(100, 100, 400, 200)");
    EXPECT_EQ(describe(d.commands[d.pages[0].begin_command + 1]), "ExecStream StreamName=\"overlay\"");

    // The writer's own ReadStream makes the same layout for the same header text.
    Writer mine;
    mine.readStream(Bytes(overlay), "Comment " + std::string(38, 'x'));
    EXPECT_EQ(mine.bytes(), embedding);
}
