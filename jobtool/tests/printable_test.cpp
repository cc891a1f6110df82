// "explain" and "run" say what a printer would refuse in a well-formed
// document: the faults printers reported in what reached them (a watermark
// with a gray brush before any colour space, a booklet half turned off the
// sheet, a Ghostscript document's pages reordered with their glyph
// downloads), and nothing in what the tool makes today.
#include "commands.h"
#include "support.h"

#include <fstream>
#include <sstream>

namespace jobtool_test
{
namespace
{

using jobtool::JobOptions;

Bytes Replace(Bytes b, const Bytes &from, const Bytes &to, size_t *count)
{
    *count = 0;
    for (auto it = std::search(b.begin(), b.end(), from.begin(), from.end()); it != b.end();
         it = std::search(it, b.end(), from.begin(), from.end()))
    {
        const size_t at = static_cast<size_t>(it - b.begin());
        b.erase(it, it + static_cast<long>(from.size()));
        b.insert(b.begin() + static_cast<long>(at), to.begin(), to.end());
        it = b.begin() + static_cast<long>(at + to.size());
        ++*count;
    }
    return b;
}

// The pages of a document in another order (1-based), downloads left where they are.
Bytes Reordered(const Bytes &document, const std::vector<size_t> &order)
{
    pclxl::Document doc = pclxl::readDocument(pclxl::Bytes(document));
    Bytes out(document.begin(), document.begin() + static_cast<long>(doc.job_header.end));
    for (size_t k : order)
    {
        const pclxl::Range &r = doc.pages.at(k - 1).range;
        out.insert(out.end(), document.begin() + static_cast<long>(r.begin),
                   document.begin() + static_cast<long>(r.end));
    }
    out.insert(out.end(), document.begin() + static_cast<long>(doc.job_trailer.begin), document.end());
    return out;
}

TEST(Printable, WhatTheToolMakesFromTheExamplesPrints)
{
    JobOptions plain, reverse, booklet, landscapeBooklet, watermark, duplex, defer, transparency, copies;
    reverse.reverse = true;
    booklet.booklet = jobtool::BookletKind::Printer;
    landscapeBooklet.booklet = jobtool::BookletKind::Manual;
    landscapeBooklet.orientation = DMORIENT_LANDSCAPE;
    watermark.watermark = "CONFIDENTIAL";
    watermark.reverse = true;
    duplex.manualDuplex = true;
    duplex.instructionPage = true;
    defer.deferText = true;
    transparency.transparency = jobtool::Interleave::LastPage;
    copies.copies = 2;
    copies.collate = true;
    for (const char *sample : {"sample.pxl", "landscape.pxl", "one-page.pxl"})
    {
        for (const JobOptions *o :
             {&plain, &reverse, &booklet, &landscapeBooklet, &watermark, &duplex, &defer, &transparency, &copies})
        {
            Outcome out = MakeAndRun(sample, *o, {IDOK});
            EXPECT_TRUE(out.AllPrintable()) << sample << "\n" << out.Report();
        }
    }
}

TEST(Printable, WatermarkBeforeThePagesColourSpaceIsNotPrintable)
{
    Outcome out = MakeAndRun("sample.pxl", JobOptions());
    Bytes printed = out.replay.run.PrinterDocument(0).data;
    ASSERT_TRUE(jobtool::Explain(printed, out.reference).printable);

    // The watermark data as the rendering driver once made them, right
    // after BeginPage of page 2, before the page sets its colour space.
    pclxl::Writer w;
    w.pushGS().setClipToPage().setROP(252);
    w.setBrushGray(192).setFont("Arial           ", 300, 629).setCursor(1200, 3000);
    w.uint16Array({'D', 'R', 'A', 'F', 'T'}).attr(pclxl::attr::TextData).op(pclxl::op::Text);
    w.popGS();
    pclxl::Document doc = pclxl::readDocument(pclxl::Bytes(printed));
    const size_t at = doc.pages[1].body.begin;
    printed.insert(printed.begin() + static_cast<long>(at), w.bytes().begin(), w.bytes().end());

    jobtool::PageMap map = jobtool::Explain(printed, out.reference);
    EXPECT_TRUE(map.wellFormed) << map.error;
    EXPECT_FALSE(map.printable);
    const std::string text = jobtool::FormatPageMap(map, "watermarked.pxl");
    EXPECT_NE(text.find("well-formed PCL XL, not printable (offset " + std::to_string(at + 11) +
                        ": SetBrushSource gives GrayLevel before any SetColorSpace on page 2"),
              std::string::npos)
        << text;
    EXPECT_EQ(map.Sequence(), (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}))
        << "the page map is still drawn";
}

TEST(Printable, BookletHalfTurnedTheWrongWayIsNotPrintable)
{
    JobOptions o;
    o.booklet = jobtool::BookletKind::Printer;
    Outcome out = MakeAndRun("sample.pxl", o);
    ASSERT_TRUE(out.AllPrintable()) << out.Report();
    // Landscape pages on the landscape sheet of a portrait booklet are
    // turned; turned by 90 instead of 270 they go up off the sheet. The
    // example is at 150 units per inch: landscape A4 is 1754 x 1240; its
    // first landscape page is on the third sheet side.
    pclxl::Writer w270, w90;
    w270.sint16(270).attr(pclxl::attr::PageAngle).op(pclxl::op::SetPageRotation);
    w90.sint16(90).attr(pclxl::attr::PageAngle).op(pclxl::op::SetPageRotation);
    size_t turned = 0;
    const Bytes printed = Replace(out.replay.run.PrinterDocument(0).data, w270.bytes(), w90.bytes(), &turned);
    ASSERT_GT(turned, 0u);
    jobtool::PageMap map = jobtool::Explain(printed, out.reference);
    EXPECT_TRUE(map.wellFormed);
    EXPECT_FALSE(map.printable);
    EXPECT_NE(map.refusal.find("page 3 draws off its 1754 x 1240 sheet"), std::string::npos) << map.refusal;
    EXPECT_NE(map.refusal.find("SetPageRotation 90"), std::string::npos) << map.refusal;
}

TEST(Printable, GhostscriptPagesReorderedWithTheirDownloadsAreNotPrintable)
{
    // The example as Ghostscript made it downloads characters on the page
    // that first draws them: reversed as it is, a page draws or downloads
    // into a font whose header comes later.
    const Bytes sample = Sample("sample.pxl");
    const size_t pages = pclxl::readDocument(pclxl::Bytes(sample)).pages.size();
    ASSERT_EQ(pages, 6u);
    std::string error;
    jobtool::Reference ref = jobtool::ReferenceFromInput(sample, &error);
    ASSERT_EQ(error, "");
    jobtool::PageMap map = jobtool::Explain(Reordered(sample, {6, 5, 4, 3, 2, 1}), ref);
    EXPECT_TRUE(map.wellFormed);
    EXPECT_FALSE(map.printable);
    EXPECT_NE(map.refusal.find("font"), std::string::npos) << map.refusal;
    // The tool's own reverse order moves the downloads ahead of the pages.
    JobOptions reverse;
    reverse.reverse = true;
    Outcome out = MakeAndRun(sample, reverse);
    EXPECT_TRUE(out.AllPrintable()) << out.Report();
}

TEST(Printable, ExplainSaysNotPrintableAndFails)
{
    TempDir dir;
    const std::string path = dir.Path("reversed.pxl");
    {
        const Bytes reversed = Reordered(Sample("sample.pxl"), {6, 5, 4, 3, 2, 1});
        std::ofstream f(path, std::ios::binary);
        f.write(reinterpret_cast<const char *>(reversed.data()), static_cast<std::streamsize>(reversed.size()));
    }
    std::ostringstream out, err;
    EXPECT_EQ(jobtool::ExplainCommand({path}, out, err), 1);
    EXPECT_NE(out.str().find("well-formed PCL XL, not printable (offset "), std::string::npos) << out.str();
    EXPECT_EQ(err.str(), "");

    const std::string good = dir.Path("good.pxl");
    {
        const Bytes sample = Sample("sample.pxl");
        std::ofstream f(good, std::ios::binary);
        f.write(reinterpret_cast<const char *>(sample.data()), static_cast<std::streamsize>(sample.size()));
    }
    std::ostringstream out2;
    EXPECT_EQ(jobtool::ExplainCommand({good}, out2, err), 0) << out2.str();
    EXPECT_EQ(out2.str().find("not printable"), std::string::npos) << out2.str();
}

TEST(Printable, RunSaysWhatIsNotPrintableInThePrintedDocumentAndTheOverlayFile)
{
    // A document whose page gives a gray brush before its colour space:
    // the hook passes it on as it is, and an overlay made of its page has
    // the same fault.
    pclxl::Writer w;
    w.streamHeader("gray first").beginSession(600).openDataSource().beginPage();
    w.setBrushGray(0).setColorSpaceGray().setFont("Courier         ", 48).setCursor(600, 600).text("form");
    w.endPage(1).closeDataSource().endSession();
    TempDir dir;
    const std::string pxl = dir.Path("gray.pxl"), job = dir.Path("gray.kdjob"), form = dir.Path("gray.kdjob.ovl");
    {
        std::ofstream f(pxl, std::ios::binary);
        f.write(reinterpret_cast<const char *>(w.bytes().data()), static_cast<std::streamsize>(w.bytes().size()));
    }
    for (const std::vector<std::string> &options :
         {std::vector<std::string>{}, std::vector<std::string>{"--overlay-create", form}})
    {
        std::vector<std::string> make = {pxl, "-o", job};
        make.insert(make.end(), options.begin(), options.end());
        std::ostringstream out, err;
        ASSERT_EQ(jobtool::Make(make, out, err), 0) << err.str();
        std::ostringstream runOut, runErr;
        EXPECT_EQ(jobtool::Run({job, "--out", dir.Path("out"), "--answer", "ok"}, runOut, runErr, nullptr), 1)
            << runOut.str();
        const std::string expected = options.empty() ? "well-formed PCL XL, not printable (offset "
                                                     : "a well-formed page body, not printable (offset ";
        EXPECT_NE(runOut.str().find(expected), std::string::npos) << runOut.str();
        EXPECT_NE(runOut.str().find("SetBrushSource gives GrayLevel before any SetColorSpace"), std::string::npos)
            << runOut.str();
    }
}

} // namespace
} // namespace jobtool_test
