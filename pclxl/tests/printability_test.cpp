// What a PCL XL interpreter refuses in well-formed streams: the faults that
// real printers reported (a watermark's gray brush before any colour space,
// a booklet half turned off the sheet, glyph downloads left in pages that
// were printed in another order), and that documents printers do print
// pass.
#include "fontmodel.h"
#include "helpers.h"

#include <gtest/gtest.h>

#include <pclxl/samples.h>

#include <cmath>

namespace
{

using pclxl_test::ByteVector;
using pclxl_test::errorText;
using pclxl_test::operator+;
namespace op = pclxl::op;
namespace attr = pclxl::attr;
namespace val = pclxl::val;

std::string Verdict(const ByteVector &doc)
{
    std::optional<pclxl::Error> e = pclxl::checkPrintability(pclxl::Bytes(doc));
    return e ? e->message() : std::string();
}

std::string PageVerdict(const ByteVector &body)
{
    pclxl::PrintabilityOptions o;
    o.context = pclxl::Context::Page;
    std::optional<pclxl::Error> e = pclxl::checkPrintability(pclxl::Bytes(body), o);
    return e ? e->message() : std::string();
}

// A whole document around page bodies, each on portrait A4.
ByteVector Document(const std::vector<ByteVector> &bodies, const ByteVector &jobHeader = {})
{
    pclxl::Writer w;
    w.streamHeader("printability").beginSession(600).openDataSource();
    w.raw(pclxl::Bytes(jobHeader));
    for (const ByteVector &body : bodies)
    {
        w.beginPage(val::ePortraitOrientation, val::eA4Paper, val::eAutoSelect);
        w.raw(pclxl::Bytes(body));
        w.endPage(1);
    }
    w.closeDataSource().endSession();
    return w.take();
}

ByteVector TextBody(const std::string &label)
{
    pclxl::Writer w;
    w.setColorSpaceGray().setBrushGray(0).setFont("Courier         ", 48, 629);
    w.setCursor(300, 400).text(label);
    return w.take();
}

// The watermark fragment as the rendering driver once wrote it: a gray
// brush, font and text, with no colour space of its own.
ByteVector OldWatermark()
{
    pclxl::Writer w;
    w.pushGS().setClipToPage().setROP(252);
    w.setBrushGray(192).setFont("Arial           ", 300, 629).setCharAngle(45).setCursor(1200, 3000);
    w.uint16Array({'D', 'R', 'A', 'F', 'T'}).attr(attr::TextData).op(op::Text);
    return w.popGS().take();
}

// The offset of a verdict "offset N: ...".
size_t Offset(const std::string &verdict)
{
    return verdict.empty() ? 0 : std::stoul(verdict.substr(7));
}

TEST(Printability, WatermarkWithAGrayBrushBeforeAnyColourSpaceIsRefused)
{
    // Put right after BeginPage, before the page's own SetColorSpace.
    const ByteVector page = OldWatermark() + TextBody("Page 1");
    const ByteVector doc = Document({page});
    const std::string v = Verdict(doc);
    ASSERT_NE(v, "");
    EXPECT_NE(v.find("SetBrushSource gives GrayLevel before any SetColorSpace"), std::string::npos) << v;
    EXPECT_EQ(doc[Offset(v)], op::SetBrushSource) << "the offset is that of the operator: " << v;

    // After the page's colour space it prints; a colour space of its own too.
    EXPECT_EQ(Verdict(Document({TextBody("Page 1") + OldWatermark()})), "");
    pclxl::Writer own;
    own.pushGS().setColorSpaceGray().popGS();
    EXPECT_NE(Verdict(Document({own.bytes() + OldWatermark()})), "") << "PopGS takes back the colour space set inside";
    // Every page starts without one: the second page does not inherit the first's.
    EXPECT_NE(Verdict(Document({TextBody("Page 1"), OldWatermark()})), "");
}

TEST(Printability, ColoursMustMatchTheColourSpace)
{
    pclxl::Writer rgb;
    rgb.ubyte(2).attr(attr::ColorSpace).op(op::SetColorSpace).setBrushGray(0);
    EXPECT_NE(PageVerdict(rgb.bytes()).find("GrayLevel in the eRGB colour space"), std::string::npos);

    pclxl::Writer gray;
    gray.setColorSpaceGray().ubyteArray(std::string("\xff\0\0", 3)).attr(attr::RGBColor).op(op::SetPenSource);
    EXPECT_NE(PageVerdict(gray.bytes()).find("RGBColor in the eGray colour space"), std::string::npos);

    pclxl::Writer image;
    image.setCursor(0, 0).ubyte(0).attr(attr::ColorMapping).ubyte(0).attr(attr::ColorDepth);
    image.uint16(8).attr(attr::SourceWidth).uint16(8).attr(attr::SourceHeight);
    image.xy(pclxl::ElementType::UInt16, 80, 80).attr(attr::DestinationSize).op(op::BeginImage);
    image.op(op::EndImage);
    EXPECT_NE(PageVerdict(image.bytes()).find("BeginImage before any SetColorSpace"), std::string::npos);

    pclxl::Writer unknown;
    unknown.ubyte(9).attr(attr::ColorSpace).op(op::SetColorSpace);
    EXPECT_NE(PageVerdict(unknown.bytes()).find("not a colour space"), std::string::npos);
}

// A booklet sheet side carrying a landscape page (7016 x 4960 at 600 units
// per inch) turned into the left half of an A4 sheet at scale 0.7.
ByteVector BookletSide(uint8_t sheetOrientation, int16_t angle)
{
    pclxl::Writer body;
    body.setColorSpaceGray().setBrushGray(0).setFont("Courier         ", 100, 629);
    for (int16_t y = 300; y < 4800; y += 600)
    {
        body.setCursor(300, y).text("A line across the landscape page");
    }
    body.setCursor(6500, 4700).text("corner");
    body.newPath().rectangle(100, 100, 6900, 4800);

    pclxl::Writer w;
    w.streamHeader("booklet").beginSession(600).openDataSource();
    w.beginPage(sheetOrientation, val::eA4Paper);
    w.xy(pclxl::ElementType::SInt16, 3507, 2).attr(attr::PageOrigin).op(op::SetPageOrigin);
    w.sint16(angle).attr(attr::PageAngle).op(op::SetPageRotation);
    w.xy(pclxl::ElementType::Real32, 0.7, 0.7).attr(attr::PageScale).op(op::SetPageScale);
    w.raw(pclxl::Bytes(body.bytes()));
    w.endPage(1).closeDataSource().endSession();
    return w.take();
}

TEST(Printability, BookletHalfTurnedOffTheSheetIsRefused)
{
    for (uint8_t sheet : {val::ePortraitOrientation, val::eLandscapeOrientation})
    {
        // A positive angle turns counterclockwise as seen on paper: the page's
        // x axis runs up from the top edge, off the sheet.
        const ByteVector wrong = BookletSide(sheet, 90);
        const std::string v = Verdict(wrong);
        EXPECT_NE(v.find("page 1 draws off its"), std::string::npos) << v;
        EXPECT_NE(v.find("SetPageRotation 90"), std::string::npos) << v;
        EXPECT_EQ(wrong[Offset(v)], op::SetPageScale) << "the last command that placed the page: " << v;
        // 270 turns it clockwise, down the sheet: it lands in the left half.
        EXPECT_EQ(Verdict(BookletSide(sheet, 270)), "") << int(sheet);
    }
    // Drawing beyond a page's own edge is not refused as long as most of it lands.
    pclxl::Writer bleed;
    bleed.setColorSpaceGray().setFont("Courier         ", 48, 629).setCursor(300, 400).text("in");
    bleed.setCursor(4000, 6000).text("in").setCursor(9000, 400).text("out");
    EXPECT_EQ(Verdict(Document({bleed.bytes()})), "");
    bleed.setCursor(9000, 800).text("out");
    bleed.setCursor(9000, 900).text("out");
    EXPECT_NE(Verdict(Document({bleed.bytes()})).find("3 of 5 drawing positions"), std::string::npos)
        << Verdict(Document({bleed.bytes()}));
}

// A document as Ghostscript makes it with its glyph cache: each page
// downloads the characters it first uses, the first page the font header.
ByteVector GlyphCacheDocument()
{
    auto chars = [](pclxl::Writer &w, const std::string &codes) {
        w.ubyteArray("F1").attr(attr::FontName).op(op::BeginChar);
        for (char ch : codes)
        {
            w.uint16(static_cast<uint8_t>(ch)).attr(attr::CharCode);
            w.uint16(4).attr(attr::CharDataSize).op(op::ReadChar).data(pclxl::Bytes(std::string("glyf")));
        }
        w.op(op::EndChar);
    };
    auto text = [](pclxl::Writer &w, const std::string &s) {
        w.setColorSpaceGray().setBrushGray(0).setFont("F1", 40, 2).setCursor(600, 600);
        w.ubyteArray(s).attr(attr::TextData);
        w.array(pclxl::ElementType::UByte, std::vector<double>(s.size(), 30)).attr(attr::XSpacingData);
        w.op(op::Text);
    };
    pclxl::Writer w;
    w.streamHeader("glyph cache").beginSession(600).openDataSource();
    w.beginPage();
    w.ubyteArray("F1").attr(attr::FontName).ubyte(0).attr(attr::FontFormat).op(op::BeginFontHeader);
    w.uint16(6).attr(attr::FontHeaderLength).op(op::ReadFontHeader).data(pclxl::Bytes(std::string("header")));
    w.op(op::EndFontHeader);
    chars(w, "AB");
    text(w, "AB");
    w.endPage(1).beginPage();
    chars(w, "C");
    text(w, "CAB");
    w.endPage(1).beginPage();
    text(w, "BA");
    w.endPage(1).closeDataSource().endSession();
    return w.take();
}

TEST(Printability, GlyphDownloadsLeftInReorderedPagesAreRefused)
{
    const ByteVector doc = GlyphCacheDocument();
    ASSERT_EQ(Verdict(doc), "");

    // Reversed: page 3 draws with F1 before any download, page 2 downloads
    // characters into a font whose header comes last.
    const ByteVector reversed = fontmodel::Reordered(doc, {3, 2, 1});
    const std::string v = Verdict(reversed);
    EXPECT_NE(v.find("BeginChar downloads characters into font \"F1\", whose header has not been downloaded"),
              std::string::npos)
        << v;
    EXPECT_EQ(reversed[Offset(v)], op::BeginChar) << v;

    // Page 2 alone: its Text draws A and B, which page 1 downloaded.
    const std::string alone = Verdict(fontmodel::Reordered(doc, {1, 3}));
    EXPECT_EQ(alone, "") << "page 3 draws only what page 1 downloaded";
    EXPECT_EQ(Verdict(fontmodel::Reordered(doc, {1, 3, 2})), "") << "page 2's downloads only add to page 1's font";

    // Page 1 twice: its font header again under a name that is defined.
    const std::string twice = Verdict(fontmodel::Reordered(doc, {1, 2, 1}));
    EXPECT_NE(twice.find("BeginFontHeader downloads font \"F1\" again"), std::string::npos) << twice;

    // Page 3 first, then page 1: the Text on page 3 drew with a name that
    // turns out to be a download.
    const ByteVector late = fontmodel::Reordered(doc, {3, 1});
    const std::string l = Verdict(late);
    EXPECT_NE(l.find("Text draws with font \"F1\" before it is downloaded"), std::string::npos) << l;
    EXPECT_EQ(late[Offset(l)], op::Text) << l;
}

TEST(Printability, TextNeedsItsFontAndEveryCharacterItDraws)
{
    pclxl::Writer header;
    header.ubyteArray("F1").attr(attr::FontName).ubyte(0).attr(attr::FontFormat).op(op::BeginFontHeader);
    header.uint16(1).attr(attr::FontHeaderLength).op(op::ReadFontHeader).data(pclxl::Bytes(std::string("h")));
    header.op(op::EndFontHeader);
    header.ubyteArray("F1").attr(attr::FontName).op(op::BeginChar);
    header.uint16('A').attr(attr::CharCode).uint16(1).attr(attr::CharDataSize).op(op::ReadChar);
    header.data(pclxl::Bytes(std::string("g"))).op(op::EndChar);

    pclxl::Writer missing;
    missing.setColorSpaceGray().setFont("F1", 40, 2).setCursor(10, 10).text("AZ");
    const std::string v = Verdict(Document({missing.bytes()}, header.bytes()));
    EXPECT_NE(v.find("Text draws character code 90 ('Z') of font \"F1\", which has not been downloaded"),
              std::string::npos)
        << v;

    pclxl::Writer noFont;
    noFont.setColorSpaceGray().setCursor(10, 10).text("A");
    EXPECT_NE(Verdict(Document({noFont.bytes()})).find("Text with no font selected"), std::string::npos);
    // The font is part of the graphics state, which every page starts afresh.
    EXPECT_NE(Verdict(Document({TextBody("one"), noFont.bytes()})), "");

    // A name never downloaded is one of the printer's own fonts.
    EXPECT_EQ(Verdict(Document({TextBody("resident")})), "");

    // Removed fonts are gone; downloaded again they are fine.
    pclxl::Writer removed;
    removed.ubyteArray("F1").attr(attr::FontName).op(op::RemoveFont);
    const ByteVector draw = pclxl::Writer().setFont("F1", 40, 2).setCursor(10, 10).text("A").take();
    EXPECT_NE(Verdict(Document({draw}, header.bytes() + removed.bytes())).find("RemoveFont at offset"),
              std::string::npos);
    EXPECT_EQ(Verdict(Document({draw}, header.bytes() + removed.bytes() + header.bytes())), "");
    // Removed after a page drew with it and downloaded again without that
    // character, the font no longer has it (whatever font took its place in
    // between, here F2 with the character).
    auto download = [](const char *name, char code) {
        pclxl::Writer w;
        w.ubyteArray(name).attr(attr::FontName).ubyte(0).attr(attr::FontFormat).op(op::BeginFontHeader);
        w.uint16(1).attr(attr::FontHeaderLength).op(op::ReadFontHeader).data(pclxl::Bytes(std::string("h")));
        w.op(op::EndFontHeader);
        w.ubyteArray(name).attr(attr::FontName).op(op::BeginChar);
        w.uint16(static_cast<uint16_t>(code)).attr(attr::CharCode).uint16(1).attr(attr::CharDataSize).op(op::ReadChar);
        w.data(pclxl::Bytes(std::string("g"))).op(op::EndChar);
        return w.take();
    };
    const std::string again =
        Verdict(Document({draw, removed.bytes() + download("F2", 'A') + download("F1", 'B') + draw}, header.bytes()));
    EXPECT_NE(again.find("Text draws character code 65 ('A') of font \"F1\", which has not been downloaded"),
              std::string::npos)
        << again;

    // One spacing value per character.
    pclxl::Writer spacing;
    spacing.setColorSpaceGray().setFont("Courier         ", 40, 629).setCursor(10, 10);
    spacing.ubyteArray("abc").attr(attr::TextData);
    spacing.array(pclxl::ElementType::UByte, {20, 20}).attr(attr::XSpacingData).op(op::Text);
    EXPECT_NE(PageVerdict(spacing.bytes()).find("Text has 3 characters but 2 XSpacingData values"), std::string::npos);

    // Characters only into a font whose header is complete.
    pclxl::Writer early;
    early.ubyteArray("F2").attr(attr::FontName).op(op::BeginChar).op(op::EndChar);
    EXPECT_NE(Verdict(Document({}, early.bytes())).find("BeginChar downloads characters into font \"F2\""),
              std::string::npos);
}

TEST(Printability, StreamsRunWhereTheyAreCalled)
{
    pclxl::Writer gray;
    gray.setBrushGray(0).newPath().rectangle(10, 10, 100, 100);
    pclxl::Writer def;
    def.beginStream("Form").readStream(pclxl::Bytes(gray.bytes())).endStream();
    const ByteVector call = pclxl::Writer().execStream("Form").take();

    EXPECT_NE(Verdict(Document({call})).find("ExecStream runs stream \"Form\", which has not been defined"),
              std::string::npos);
    const ByteVector doc = Document({call}, def.bytes());
    const std::string v = Verdict(doc);
    EXPECT_NE(v.find("in stream \"Form\" run here: SetBrushSource gives GrayLevel before any SetColorSpace"),
              std::string::npos)
        << v;
    EXPECT_EQ(doc[Offset(v)], op::ExecStream) << v;
    EXPECT_EQ(Verdict(Document({pclxl::Writer().setColorSpaceGray().take() + call}, def.bytes())), "");
    // Removed, the stream cannot run; defined twice, it is refused.
    const ByteVector remove = pclxl::Writer().ubyteArray("Form").attr(attr::StreamName).op(op::RemoveStream).take();
    EXPECT_NE(Verdict(Document({call}, def.bytes() + remove)), "");
    EXPECT_NE(Verdict(Document({}, def.bytes() + def.bytes())).find("defines stream \"Form\" again"),
              std::string::npos);

    // A stream that runs itself is stopped, not followed for ever.
    pclxl::Writer self;
    self.beginStream("Loop").readStream(pclxl::Bytes(call)).endStream();
    pclxl::Writer loop;
    loop.beginStream("Form").readStream(pclxl::Bytes(pclxl::Writer().execStream("Loop").take())).endStream();
    const std::string deep = Verdict(Document({call}, self.bytes() + loop.bytes()));
    EXPECT_NE(deep.find("more than 8 deep"), std::string::npos) << deep;
}

TEST(Printability, AttributesMustBeThereAndOfTheirShape)
{
    pclxl::Writer turned;
    turned.xy(pclxl::ElementType::SInt16, 90, 0).attr(attr::PageAngle).op(op::SetPageRotation);
    EXPECT_NE(PageVerdict(turned.bytes()).find("SetPageRotation's PageAngle is a sint16 xy; a printer takes a single"),
              std::string::npos)
        << PageVerdict(turned.bytes());

    pclxl::Writer noName;
    noName.real32(12).attr(attr::CharSize).op(op::SetFont);
    EXPECT_NE(PageVerdict(noName.bytes()).find("SetFont has no FontName attribute"), std::string::npos);

    // Numbers a printer cannot use are refused before anything is computed with them.
    pclxl::Writer nan;
    nan.real32(std::nanf("")).attr(attr::PageAngle).op(op::SetPageRotation);
    EXPECT_NE(PageVerdict(nan.bytes()).find("PageAngle holds nan"), std::string::npos) << PageVerdict(nan.bytes());
    pclxl::Writer code;
    code.ubyteArray("F").attr(attr::FontName).ubyte(0).attr(attr::FontFormat).op(op::BeginFontHeader);
    code.uint16(1).attr(attr::FontHeaderLength).op(op::ReadFontHeader).data(pclxl::Bytes(std::string("h")));
    code.op(op::EndFontHeader).ubyteArray("F").attr(attr::FontName).op(op::BeginChar);
    code.real32(4e9f).attr(attr::CharCode).uint16(1).attr(attr::CharDataSize).op(op::ReadChar);
    code.data(pclxl::Bytes(std::string("g"))).op(op::EndChar);
    EXPECT_NE(Verdict(Document({}, code.bytes())).find("CharCode 4000000000 is not a character code"),
              std::string::npos)
        << Verdict(Document({}, code.bytes()));

    pclxl::Writer wideEnum;
    wideEnum.uint16(1).attr(attr::ColorSpace).op(op::SetColorSpace);
    EXPECT_NE(PageVerdict(wideEnum.bytes()).find("takes its values as a ubyte"), std::string::npos);

    // Drawing needs a page (the reader does not check nesting; this does).
    pclxl::Writer w;
    w.streamHeader().beginSession(600).openDataSource().setCursor(1, 1).closeDataSource().endSession();
    EXPECT_NE(Verdict(w.bytes()).find("SetCursor outside a page"), std::string::npos);
}

TEST(Printability, BadInputGetsTheReadersFault)
{
    EXPECT_NE(Verdict(pclxl_test::bytesOf("not PCL XL")), "");
    ByteVector cut = Document({TextBody("x")});
    cut.resize(cut.size() - 20);
    EXPECT_NE(Verdict(cut).find("end"), std::string::npos) << Verdict(cut);
    ByteVector garbage = Document({TextBody("x")});
    garbage[garbage.size() / 2] = 0xFF;
    EXPECT_NE(Verdict(garbage), "");
    EXPECT_NE(PageVerdict(ByteVector{0xC0}), "") << "a value with nothing after it";
}

TEST(Printability, ExamplesPrint)
{
    for (const pclxl::samples::Sample &s : pclxl::samples::all())
    {
        EXPECT_EQ(Verdict(s.bytes.copy()), "") << s.name;
    }
}

TEST(Printability, GraphicsStatesPushedWithoutEndAreCutOff)
{
    pclxl::Writer deep;
    for (int i = 0; i < 300; i++)
    {
        deep.pushGS();
    }
    // Fed as a page body still open at its end, so that the nesting is this
    // check's to refuse.
    const pclxl::Structure st = pclxl_test::checkFragment(deep.bytes(), pclxl::Context::Page, false);
    ASSERT_TRUE(st.ok()) << errorText(st.error);
    pclxl::PrintabilityOptions o;
    o.context = pclxl::Context::Page;
    pclxl::PrintabilityChecker checker(o);
    for (const pclxl::Command &c : st.commands)
    {
        checker.feed(c, pclxl::Bytes(deep.bytes()));
    }
    checker.finish();
    EXPECT_NE(errorText(checker.error()).find("PushGS nests graphics states more than 256 deep"), std::string::npos)
        << errorText(checker.error());
}

} // namespace
