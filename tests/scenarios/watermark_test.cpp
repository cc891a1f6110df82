// The watermark: the nested job that draws it into the watermark file, and
// its fragment in pages on the direct path and in the spool file.
#include "jobtest.h"

#include "../models/drawing.h"

#include <pclxl/pclxl.h>

#include <algorithm>
#include <cmath>

namespace scenarios
{
namespace
{

using spoolsim::GdiCall;
using spoolsim::JobBuilder;
using spoolsim::Machine;
using spoolsim::ToBytes;
namespace markers = spoolsim::markers;

DRVDEVMODE WatermarkOn()
{
    DRVDEVMODE dm = Settings();
    dm.sWatermarkOn = 1;
    return dm;
}

Bytes Fragment(const Bytes &watermark)
{
    static const BYTE abBefore[] = {0x61, 0x69, 0xC0, 0xFC, 0xF8, 0x2C, 0x7B};
    Bytes b(sizeof(abBefore) + watermark.size() + 1);
    std::copy(std::begin(abBefore), std::end(abBefore), b.begin());
    std::copy(watermark.begin(), watermark.end(), b.begin() + sizeof(abBefore));
    b.back() = 0x60;
    return b;
}

std::vector<const GdiCall *> Calls(const RunResult &r, const std::string &name)
{
    std::vector<const GdiCall *> found;
    for (const GdiCall &c : r.gdiCalls)
    {
        if (c.name == name)
        {
            found.push_back(&c);
        }
    }
    return found;
}

std::vector<std::string> BoxTexts(const RunResult &r)
{
    std::vector<std::string> texts;
    for (const spoolsim::MessageBoxRecord &b : r.boxes)
    {
        texts.push_back(spoolsim::Narrow(b.text));
    }
    return texts;
}

class Watermark : public JobTest
{
  protected:
    Bytes PortraitFile()
    {
        return Machine::ReadFileBytes(spoolsim::DriverFile(W("qvpcl6.wmk"))).value_or(Bytes());
    }
    Bytes LandscapeFile()
    {
        return Machine::ReadFileBytes(spoolsim::DriverFile(W("qvpcl6_2.wmk"))).value_or(Bytes());
    }
};

// The settings block arrives; the watermark job is printed through the same
// hooks to the watermark file; the outer job's settings come back.
TEST_F(Watermark, NestedJobMakesTheFileAndTheOuterSettingsStayInForce)
{
    DRVDEVMODE dm = WatermarkOn();
    dm.sCollate = 1;
    dm.dmPublic.dmCopies = 2;
    DocumentJob job(dm, 2);
    job.pages[0].buffers = {ToBytes("[p1a]"), ToBytes(markers::kWatermark), ToBytes("[p1b]")};
    RunResult r = Run(job);

    ASSERT_EQ(r.documents.size(), 2u);
    const spoolsim::Document &nested = r.documents[1];
    EXPECT_TRUE(nested.nested && nested.ended);
    EXPECT_EQ(nested.name, WString(W("watermark file")));
    EXPECT_EQ(nested.outputFile, spoolsim::DriverFile(W("qvpcl6.wmk")));
    Bytes watermark = PortraitFile();
    ASSERT_FALSE(watermark.empty());
    EXPECT_EQ(watermark, nested.data) << "the file holds what the watermark job delivered";
    EXPECT_TRUE(r.boxes.empty());

    // The outer job is still collated (its settings were restored): two copies.
    Parts copy = {P("page 1a", "[p1a]"), P("watermark", Fragment(watermark)), P("page 1b", "[p1b]"),
                  P("page 2", job.Page(2))};
    Parts expected = {P("header", job.Header())};
    expected.insert(expected.end(), copy.begin(), copy.end());
    expected.insert(expected.end(), copy.begin(), copy.end());
    expected.push_back(P("trailer", job.trailer));
    EXPECT_PARTS(r.PrinterDocument(0).data, expected);
}

// The watermark job gets its own copy of the settings: no watermark, no
// overlay, booklet or capture, everything passed straight through, scale 100.
TEST_F(Watermark, WatermarkJobSettingsAreItsOwn)
{
    DRVDEVMODE dm = WatermarkOn();
    dm.sDeferText = 1;
    dm.sTextMode = 2;
    dm.sBooklet = 1;
    dm.sOverlayMode = 1;
    dm.sOverlayRepeat = 3;
    dm.dmPublic.dmScale = 50;
    RunResult r = Run(JobBuilder().Settings(dm).Build());
    std::vector<const GdiCall *> dcs = Calls(r, "CreateDCW");
    ASSERT_EQ(dcs.size(), 1u);
    EXPECT_EQ(dcs[0]->text, WString(W("KD7720 PCL6")));
    ASSERT_EQ(dcs[0]->data.size(), sizeof(DRVDEVMODE));
    DRVDEVMODE nested;
    std::memcpy(&nested, dcs[0]->data.data(), sizeof(nested));
    EXPECT_EQ(nested.dmPublic.dmScale, 100);
    EXPECT_EQ(nested.sWatermarkOn, 0);
    EXPECT_EQ(nested.sOverlayMode, 0);
    EXPECT_EQ(nested.sOverlayRepeat, 0);
    EXPECT_EQ(nested.sBooklet, 0);
    EXPECT_EQ(nested.sDeferText, 0);
    EXPECT_EQ(nested.sTextMode, 1);
    EXPECT_EQ(nested.sPassThrough, 1);
    DRVDEVMODE rest = dm;
    rest.dmPublic.dmScale = 100;
    rest.sWatermarkOn = rest.sOverlayMode = rest.sOverlayRepeat = rest.sBooklet = rest.sDeferText = 0;
    rest.sTextMode = 1;
    rest.sPassThrough = 1;
    EXPECT_EQ(std::memcmp(&rest, &nested, sizeof(rest)), 0) << "every other field is the job's";
    EXPECT_EQ(Machine::SpoolFilesLeft(), 0);
    EXPECT_FALSE(Machine::Exists(spoolsim::DriverFile(W("textout.teq"))));
    EXPECT_FALSE(Machine::ReadFileBytes(spoolsim::DriverFile(W("qvpcl6.wmk"))).value_or(Bytes()).empty());
}

struct Geometry
{
    short angle;
    int dx;
    int dy;
};

// Half the line height (h = 50 here) above and beside the page centre, by the
// angle, with the truncation of the approximate degree factor.
TEST_F(Watermark, TextIsCentredOnThePhysicalPageAtEachAngle)
{
    spooler->model.internalLeadingPercent = 0;
    const Geometry cases[] = {{0, 0, 50}, {30, 24, 43}, {45, 35, 35}, {90, 49, 0}};
    for (const Geometry &g : cases)
    {
        DRVDEVMODE dm = WatermarkOn();
        dm.sWmFontSize = 12; // 100 device units at 600 dpi: tmHeight 100, h 50
        dm.sWmAngle = g.angle;
        dm.sWmOffsetX = 7;
        dm.sWmOffsetY = -11;
        RunResult r = Run(JobBuilder().Settings(dm).Build());
        std::vector<const GdiCall *> text = Calls(r, "TextOutW");
        ASSERT_EQ(text.size(), 1u) << g.angle;
        const int pw = 4960 - 2 * 100, ph = 7016 - 2 * 100;
        EXPECT_EQ(text[0]->args[0], pw / 2 - g.dx + 7) << g.angle;
        EXPECT_EQ(text[0]->args[1], ph / 2 - g.dy - 11) << g.angle;
        EXPECT_EQ(text[0]->text, WString(W("CONFIDENTIAL")));

        std::vector<const GdiCall *> fonts = Calls(r, "CreateFontIndirectW");
        ASSERT_EQ(fonts.size(), 1u);
        const LOGFONTW &lf = *fonts[0]->font;
        EXPECT_EQ(lf.lfHeight, -100);
        EXPECT_EQ(lf.lfWidth, 0);
        EXPECT_EQ(lf.lfEscapement, g.angle * 10);
        EXPECT_EQ(lf.lfOrientation, g.angle * 10);
        EXPECT_EQ(lf.lfWeight, FW_BOLD);
        EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
        EXPECT_EQ(lf.lfPitchAndFamily, 1);
        EXPECT_EQ(WString(lf.lfFaceName), WString(W("Arial")));
        EXPECT_EQ(Calls(r, "SetTextAlign")[0]->args[0], TA_CENTER | TA_TOP);
        EXPECT_EQ(Calls(r, "SetBkMode")[0]->args[0], TRANSPARENT);
        EXPECT_EQ(Calls(r, "SetTextColor")[0]->args[0], static_cast<long>(RGB(192, 192, 192)));
    }
}

TEST_F(Watermark, FontSizesSnapOnlyWhenAsked)
{
    const short sizes[] = {114, 115, 119, 120, 125, 126};
    const short snapped[] = {114, 114, 114, 126, 126, 126};
    for (short snap : {1, 0})
    {
        for (size_t i = 0; i < 6; i++)
        {
            DRVDEVMODE dm = WatermarkOn();
            dm.sWmSizeSnap = snap;
            dm.sWmFontSize = sizes[i];
            RunResult r = Run(JobBuilder().Settings(dm).Build());
            short expected = snap ? snapped[i] : sizes[i];
            ASSERT_EQ(Calls(r, "CreateFontIndirectW").size(), 1u);
            EXPECT_EQ(Calls(r, "CreateFontIndirectW")[0]->font->lfHeight, -MulDiv(expected, 600, 72))
                << "size " << sizes[i] << " snap " << snap;
        }
    }
}

// A face without outlines under the default character set is drawn again
// under the system code page's; a failing lookup falls back to 1.
TEST_F(Watermark, OutlineWithEmptyPathIsRedrawnUnderTheSystemCharset)
{
    for (bool fails : {false, true})
    {
        spooler->model.systemCharset = EASTEUROPE_CHARSET;
        spooler->model.translateCharsetFails = fails;
        DRVDEVMODE dm = WatermarkOn();
        dm.sWmOutline = 1;
        std::strcpy(dm.szWmFaceName, "Charset Sans");
        RunResult r = Run(JobBuilder().Settings(dm).Build());
        std::vector<const GdiCall *> fonts = Calls(r, "CreateFontIndirectW");
        ASSERT_EQ(fonts.size(), 2u) << fails;
        EXPECT_EQ(fonts[1]->font->lfCharSet, fails ? DEFAULT_CHARSET : EASTEUROPE_CHARSET);
        EXPECT_EQ(Calls(r, "TextOutW").size(), 2u);
        EXPECT_EQ(Calls(r, "StrokePath").size(), 1u);
        ASSERT_EQ(Calls(r, "CreatePen").size(), 1u);
        EXPECT_EQ(Calls(r, "CreatePen")[0]->args,
                  (std::vector<long>{PS_SOLID, 2, static_cast<long>(RGB(192, 192, 192))}));
        EXPECT_EQ(spoolsim::LiveGdiObjects(), 0u) << "pen and both fonts deleted";
        EXPECT_EQ(spoolsim::LiveDeviceContexts(), 0u);
    }
    // Outlines that exist are stroked once; a filled watermark is never redrawn.
    DRVDEVMODE dm = WatermarkOn();
    dm.sWmOutline = 1;
    EXPECT_EQ(Calls(Run(JobBuilder().Settings(dm).Build()), "TextOutW").size(), 1u);
    std::strcpy(dm.szWmFaceName, "Charset Sans");
    dm.sWmOutline = 0;
    EXPECT_EQ(Calls(Run(JobBuilder().Settings(dm).Build()), "TextOutW").size(), 1u);
}

TEST_F(Watermark, FailuresAreShownAndTheJobGoesOn)
{
    struct Case
    {
        const char *name;
        std::function<void(spoolsim::Spooler &)> arrange;
        std::vector<std::string> boxes;
    } cases[] = {
        {"no device context",
         [](spoolsim::Spooler &s) { s.model.createDcError = ERROR_INVALID_PRINTER_NAME; },
         {"Failed to createDC in PSUI", std::to_string(ERROR_INVALID_PRINTER_NAME), "Failed to makewatermark: WMark"}},
        {"start of document",
         [](spoolsim::Spooler &s) { s.model.startDocFails = true; },
         {"Failed to startDoc", "Failed to makewatermark: WMark"}},
        {"text",
         [](spoolsim::Spooler &s) { s.model.textOutFailures = 1; },
         {"Failed to TextOut", "Failed to makewatermark: WMark"}},
    };
    for (const Case &c : cases)
    {
        UseMachine();
        c.arrange(*spooler);
        DocumentJob job(WatermarkOn(), 1);
        job.pageMarkers = false;
        RunResult r = Run(job);
        ASSERT_EQ(BoxTexts(r), c.boxes) << c.name;
        EXPECT_EQ(r.boxes.back().style, static_cast<UINT>(MB_ICONERROR)) << c.name;
        EXPECT_EQ(r.boxes.front().style, static_cast<UINT>(MB_OK)) << c.name;
        EXPECT_TRUE(r.writes.front().result && r.writes.front().cbWritten == 1625) << c.name;
        EXPECT_PARTS(r.PrinterDocument(0).data, Layout(job, {"H", 1, "T"}));
        EXPECT_EQ(spoolsim::LiveGdiObjects(), 0u) << c.name;
        EXPECT_EQ(spoolsim::LiveDeviceContexts(), 0u) << c.name;
        EXPECT_FALSE(Machine::Exists(spoolsim::DriverFile(W("qvpcl6.wmk")))) << c.name;
    }
}

// Without its file a watermark cannot be inserted: the marker's write fails.
TEST_F(Watermark, OrientationWithoutAFileFailsTheInsertion)
{
    DRVDEVMODE dm = WatermarkOn();
    dm.dmPublic.dmOrientation = 3;
    Job job = JobBuilder().Settings(dm).StartPage().Write(markers::kWatermark).EndPage().Build();
    RunResult r = Run(job);
    ASSERT_EQ(r.writes.size(), 2u);
    EXPECT_FALSE(r.writes[1].result);
    EXPECT_EQ(BoxTexts(r), std::vector<std::string>{"Failed to CreateFile"});
    EXPECT_EQ(r.boxes[0].style, static_cast<UINT>(MB_OK));
    EXPECT_TRUE(r.PrinterDocument(0).data.empty()) << "no PushGS without its PopGS";
}

TEST_F(Watermark, DirectPathWritesTheFragmentInFiveStepsOnDuePagesOnly)
{
    DRVDEVMODE dm = WatermarkOn();
    dm.sWmFirstPageOnly = 1;
    Job job = JobBuilder()
                  .Settings(dm)
                  .StartPage()
                  .Write("[p1]")
                  .Write(markers::kWatermark)
                  .EndPage()
                  .StartPage()
                  .Write("[p2]")
                  .Write(markers::kWatermark)
                  .EndPage()
                  .Build();
    RunResult r = Run(job);
    Bytes watermark = PortraitFile();
    EXPECT_PARTS(r.PrinterDocument(0).data,
                 {P("page 1", "[p1]"), P("watermark", Fragment(watermark)), P("page 2", "[p2]")});
    EXPECT_EQ(r.PrinterDocument(0).writes,
              (std::vector<DWORD>{4, 1, 1, 5, static_cast<DWORD>(watermark.size()), 1, 4}));
    EXPECT_EQ(r.writes[2].cbWritten, 21u);
    EXPECT_EQ(r.writes[4].cbWritten, 21u) << "swallowed on page 2";

    // Every page when first-page-only is off.
    dm.sWmFirstPageOnly = 0;
    job.steps[0].data = ToBytes(std::string(reinterpret_cast<const char *>(&dm), sizeof(dm)));
    RunResult every = Run(job);
    EXPECT_PARTS(every.PrinterDocument(0).data, {P("page 1", "[p1]"), P("watermark", Fragment(watermark)),
                                                 P("page 2", "[p2]"), P("watermark", Fragment(watermark))});
}

// A failing printer write in the fragment fails the marker's write; the
// clip reset's result is not looked at.
TEST_F(Watermark, FailingFragmentWriteFailsTheMarker)
{
    for (DWORD failing : {2u, 3u, 4u, 5u, 6u})
    {
        Job job =
            JobBuilder().Settings(WatermarkOn()).StartPage().Write("[p]").Write(markers::kWatermark).EndPage().Build();
        spooler->printerFault = {failing, 1, false, 0};
        RunResult r = Run(job);
        spooler->printerFault = {};
        ASSERT_EQ(r.writes.size(), 3u);
        EXPECT_EQ(r.writes[2].result, failing == 3 ? TRUE : FALSE) << "printer write " << failing;
    }
}

TEST_F(Watermark, RemadeOnceAtTheFirstOrientationChange)
{
    DRVDEVMODE portrait = WatermarkOn();
    DRVDEVMODE landscape = portrait;
    landscape.dmPublic.dmOrientation = DMORIENT_LANDSCAPE;
    DRVDEVMODE other = landscape;
    std::memcpy(other.dmPublic.dmDeviceName, W("Other"), sizeof(W("Other")));
    Job job = JobBuilder()
                  .Settings(portrait)
                  .StartPage()
                  .Write("[p1]")
                  .Write(markers::kWatermark)
                  .EndPage()
                  .Settings(landscape) // swallowed, remade
                  .StartPage()
                  .Write("[p2]")
                  .Write(markers::kWatermark)
                  .EndPage()
                  .Settings(portrait) // swallowed, not remade again
                  .Settings(other)    // another printer's block: data
                  .Build();
    RunResult r = Run(job);

    int nested = static_cast<int>(
        std::count_if(r.documents.begin(), r.documents.end(), [](const spoolsim::Document &d) { return d.nested; }));
    EXPECT_EQ(nested, 2);
    Bytes p = PortraitFile(), l = LandscapeFile();
    ASSERT_FALSE(p.empty());
    ASSERT_FALSE(l.empty());
    EXPECT_NE(p, l);
    const Bytes otherBlock(reinterpret_cast<const BYTE *>(&other),
                           reinterpret_cast<const BYTE *>(&other) + sizeof(other));
    EXPECT_PARTS(r.PrinterDocument(0).data,
                 {P("page 1", "[p1]"), P("portrait watermark", Fragment(p)), P("page 2", "[p2]"),
                  P("landscape watermark", Fragment(l)), P("other block", otherBlock)});
    EXPECT_EQ(r.writes[3].cbWritten, 1625u);
    EXPECT_EQ(r.writes[6].cbWritten, 1625u);
}

TEST_F(Watermark, SpooledFragmentGrowsTheIndexByTheWatermarkAndEight)
{
    DRVDEVMODE dm = WatermarkOn();
    dm.sReverseOrder = 1;
    DocumentJob job(dm, 2);
    job.pages[1].buffers = {ToBytes("[p2]"), ToBytes(markers::kWatermark)};
    RunResult r = Run(job);
    Bytes w = PortraitFile();
    Bytes page2 = ToBytes("[p2]");
    Bytes fragment = Fragment(w);
    page2.insert(page2.end(), fragment.begin(), fragment.end());
    EXPECT_PARTS(r.PrinterDocument(0).data, {P("header", job.ShortHeader()), P("lead-in 2", job.leadIn2),
                                             P("page 2", page2), P("page 1", job.Page(1)), P("trailer", job.trailer)});
    std::vector<WString> index = IndexTraces(2, static_cast<DWORD>(20 + 8 + 4 + w.size() + 8 + 9),
                                             {20, 28, static_cast<DWORD>(28 + 4 + w.size() + 8)});
    std::vector<WString> traces = r.TracesStartingWith(W(" pData->file_info."));
    ASSERT_GE(traces.size(), index.size());
    // The watermark job, printed first, traces its own empty index.
    EXPECT_EQ(std::vector<WString>(traces.end() - static_cast<long>(index.size()), traces.end()), index);
}

// The commands of the watermark data, read as the printer reads a page body.
std::vector<pclxl::Command> WatermarkCommands(const Bytes &data)
{
    pclxl::ReadOptions ro;
    ro.expect_header = false;
    pclxl::TokenList tokens = pclxl::tokenize(pclxl::Bytes(data), ro);
    pclxl::CheckOptions co;
    co.context = pclxl::Context::Page;
    pclxl::Structure structure = pclxl::checkStructure(tokens, pclxl::Bytes(data), co);
    EXPECT_TRUE(tokens.ok() && structure.ok()) << (tokens.ok() ? structure.error->message() : tokens.error->message());
    return structure.commands;
}

// Whatever the watermark's colour, filled or outlined, its data set up what
// they draw with and paint with a raster operation that only darkens the
// page, yet shows the watermark's ink on white paper.
TEST_F(Watermark, DataSetUpTheirOwnStateAndOnlyAddInk)
{
    const COLORREF colours[] = {RGB(192, 192, 192), RGB(0, 0, 0), RGB(255, 255, 255), RGB(200, 30, 30)};
    for (bool outline : {false, true})
    {
        for (COLORREF colour : colours)
        {
            DRVDEVMODE dm = WatermarkOn();
            dm.crWmColor = colour;
            dm.sWmOutline = outline ? 1 : 0;
            RunResult r = Run(JobBuilder().Settings(dm).Build());
            models::Painted p = models::CheckDrawing(WatermarkCommands(PortraitFile()));
            const std::string what = std::string(outline ? "outline" : "filled") + " colour " + std::to_string(colour);
            EXPECT_EQ(p.problem, "") << what;
            ASSERT_GT(p.paints, 0) << what;
            const uint8_t ink =
                static_cast<uint8_t>((GetRValue(colour) * 30 + GetGValue(colour) * 59 + GetBValue(colour) * 11) / 100);
            for (uint8_t rop : p.rops)
            {
                // Shapes are painted through a black source; on white paper
                // the watermark's own gray is what shows.
                EXPECT_EQ(models::Paint(rop, 255, 0, ink, false, false), ink) << what;
            }
        }
    }
}

// The model itself: the page's default ROP lightens dark content under a
// light brush, which is what the watermark must not do.
TEST(Rop3Model, DefaultRopPaintsOverWhatIsThere)
{
    EXPECT_EQ(models::Rop3(252, 0, 0, 192), 192) << "T OR S through a black source copies the brush";
    EXPECT_NE(models::OnlyAddsInk(252), "");
    EXPECT_EQ(models::OnlyAddsInk(0xAA), "") << "D alone never lightens";
    EXPECT_EQ(models::Rop3(0xCC, 0x0F, 0xF0, 0x00), 0xF0) << "S";
    EXPECT_EQ(models::Rop3(0xF0, 0x0F, 0x00, 0x3C), 0x3C) << "T";
    EXPECT_EQ(models::Paint(0xF0, 0x00, 0x00, 0xFF, false, true), 0x00) << "white texture bits leave D";
}

// Each character advances the cursor by its own width along the escapement,
// and the text stands where GDI puts it: centred on the reference point,
// its cell's top edge through it.
TEST_F(Watermark, TextAdvancesGlyphByGlyphAroundItsReferencePoint)
{
    spooler->model.internalLeadingPercent = 0;
    for (short angle : {0, 30, 90, -45})
    {
        DRVDEVMODE dm = WatermarkOn();
        dm.sWmFontSize = 12; // an em of 100 units at 600 dpi, no leading: ascent 80
        dm.sWmAngle = angle;
        RunResult r = Run(JobBuilder().Settings(dm).Build());
        std::vector<const GdiCall *> out = Calls(r, "TextOutW");
        ASSERT_EQ(out.size(), 1u);
        const double x = static_cast<double>(out[0]->args[0]), y = static_cast<double>(out[0]->args[1]);

        const pclxl::Command *cursor = nullptr, *text = nullptr, *charAngle = nullptr;
        std::vector<pclxl::Command> cmds = WatermarkCommands(PortraitFile());
        for (const pclxl::Command &c : cmds)
        {
            cursor = c.op == pclxl::op::SetCursor ? &c : cursor;
            text = c.op == pclxl::op::Text ? &c : text;
            charAngle = c.op == pclxl::op::SetCharAngle ? &c : charAngle;
        }
        ASSERT_TRUE(cursor && text && charAngle) << angle;
        EXPECT_EQ(charAngle->find(pclxl::attr::CharAngle)->value.number(), angle);
        const pclxl::Value &dx = text->find(pclxl::attr::XSpacingData)->value;
        const pclxl::Value &dy = text->find(pclxl::attr::YSpacingData)->value;
        const size_t n = text->find(pclxl::attr::TextData)->value.count();
        ASSERT_EQ(n, std::string("CONFIDENTIAL").size());
        ASSERT_EQ(dx.count(), n);
        ASSERT_EQ(dy.count(), n);
        // With y down the page, a counterclockwise escapement runs along
        // (cos, -sin); "down" across the line is (sin, cos).
        const double pi = 3.14159265358979323846;
        const double ux = std::cos(angle * pi / 180), uy = -std::sin(angle * pi / 180);
        double along = 0;
        for (size_t i = 0; i < n; i++)
        {
            const double a = dx.number(i) * ux + dy.number(i) * uy;
            const double across = dx.number(i) * -uy + dy.number(i) * ux;
            EXPECT_GT(a, 20) << angle << ": character " << i << " advances";
            EXPECT_LT(a, 100) << angle << ": character " << i;
            EXPECT_LE(std::abs(across), 1.5) << angle << ": character " << i << " stays on the line";
            along += a;
        }
        EXPECT_GT(along, 12 * 40.0) << "a bold capital is wider than 0.4 em";
        const double cx = cursor->find(pclxl::attr::Point)->value.number(0);
        const double cy = cursor->find(pclxl::attr::Point)->value.number(1);
        // Top centre of the line: half the advance along it, the ascent up.
        const double topX = cx + along / 2 * ux - 80 * -uy, topY = cy + along / 2 * uy - 80 * ux;
        EXPECT_NEAR(topX, x, 1.5) << angle;
        EXPECT_NEAR(topY, y, 1.5) << angle;
    }
}

} // namespace
} // namespace scenarios
