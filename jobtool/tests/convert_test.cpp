// PDF and PostScript in: what a file holds, judged by its first bytes, and
// the PCL XL that Ghostscript makes of documents Debian ships.
#include "paper_support.h"

#include "convert.h"
#include "programs.h"
#include "thumbnails.h"

#include <pclxl/pclxl.h>

#include <cmath>

namespace jobtool_test
{
namespace
{

using jobtool::DocumentFormat;

DocumentFormat Sniff(const std::string &bytes)
{
    return jobtool::SniffFormat(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

TEST(Convert, FormatsByTheirFirstBytes)
{
    struct Case
    {
        std::string head;
        DocumentFormat format;
    };
    const Case cases[] = {
        {"%PDF-1.7\n%\xE2\xE3\xCF\xD3\n1 0 obj", DocumentFormat::Pdf},
        // Mail headers or a spooler's banner before the header: PDF readers look further.
        {"From: someone\n\n%PDF-1.4\n", DocumentFormat::Pdf},
        {"%!PS-Adobe-3.0\n%%Pages: 2\n", DocumentFormat::PostScript},
        {"\x04%!PS\n", DocumentFormat::PostScript},
        {std::string("\xC5\xD0\xD3\xC6\x1E\x00\x00\x00", 8), DocumentFormat::PostScript},
        {"\x1B%-12345X@PJL JOB\r\n@PJL ENTER LANGUAGE = PCLXL\r\n) HP-PCL XL;2;0;", DocumentFormat::PclXl},
        {"\x1B%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS\n", DocumentFormat::PostScript},
        {"\x1B%-12345X@pjl enter language = pdf\n%PDF-1.4\n", DocumentFormat::Pdf},
        {"\x1B%-12345X@PJL ENTER LANGUAGE=PCL\n\x1B"
         "E",
         DocumentFormat::Unknown},
        {"\x1B%-12345X@PJL SET RESOLUTION=600\n) HP-PCL XL;2;0;", DocumentFormat::PclXl},
        {") HP-PCL XL;2;0;Comment\n", DocumentFormat::PclXl},
        {"( HP-PCL XL;2;0;\n", DocumentFormat::PclXl},
        {std::string("\x1F\x8B\x08\x00", 4), DocumentFormat::Gzip},
        {"", DocumentFormat::Unknown},
        {"%", DocumentFormat::Unknown},
        {"Dear printer,\nplease print this.\n", DocumentFormat::Unknown},
    };
    for (const Case &c : cases)
    {
        EXPECT_EQ(Sniff(c.head), c.format) << "head: " << spoolsim::Printable(spoolsim::ToBytes(c.head));
    }
    // A header further in than the bytes looked at does not count.
    EXPECT_EQ(Sniff(std::string(jobtool::kSniffBytes, ' ') + "%PDF-1.4"), DocumentFormat::Unknown);
    const Bytes pxl = Sample("sample.pxl");
    EXPECT_EQ(jobtool::SniffFormat(pxl.data(), pxl.size()), DocumentFormat::PclXl);
}

#ifndef _WIN32

// What Ghostscript wrote: the pages' sizes and orientations, and the
// resolution of the session.
struct Written
{
    std::string error;
    std::vector<std::string> papers; // per page: "eA4Paper" or "eA4Paper landscape"
    double units = 0;
};

Written Read(const std::string &path)
{
    Written w;
    const Bytes data = ReadBytes(path);
    pclxl::Document doc = pclxl::readDocument(pclxl::Bytes(data));
    if (!doc.ok())
    {
        w.error = doc.error->message();
        return w;
    }
    for (const pclxl::Page &p : doc.pages)
    {
        w.papers.push_back(p.mediaSizeName() + (p.isLandscape() ? " landscape" : ""));
    }
    for (const pclxl::Command &c : doc.commands)
    {
        const pclxl::Attribute *units = c.find(pclxl::attr::UnitsPerMeasure);
        if (c.op == pclxl::op::BeginSession && units)
        {
            w.units = units->value.number(0);
        }
    }
    return w;
}

// Pages as Ghostscript's bounding-box device counts them: a count that does
// not go through the PCL XL device.
size_t PagesCounted(const std::string &document)
{
    jobtool::ProgramRun run;
    run.argv = {"gs", "-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-sDEVICE=bbox", document};
    jobtool::ProgramResult r = jobtool::RunProgram(run);
    size_t pages = 0;
    for (size_t at = r.errors.find("%%HiResBoundingBox"); at != std::string::npos;
         at = r.errors.find("%%HiResBoundingBox", at + 1))
    {
        pages++;
    }
    return pages;
}

std::string Unpacked(const std::string &gz, const std::string &to)
{
    jobtool::ProgramRun run;
    run.argv = {"gzip", "-dc", gz};
    run.outputFile = to;
    EXPECT_TRUE(jobtool::RunProgram(run).Succeeded());
    return to;
}

TEST(Convert, DebianDocumentsKeepTheirPagesAndPaper)
{
    if (!Installed(kManDbManual) || !Installed(kMimeInfoDocument))
    {
        return;
    }
    TempDir dir;
    // The manual says what it is in its own DSC comments.
    const std::string ps = Unpacked(kManDbManual, dir.Path("manual.ps"));
    const Bytes text = ReadBytes(ps);
    const std::string head(text.begin(), text.begin() + std::min<size_t>(text.size(), 2000));
    ASSERT_TRUE(Contains(head, "%%Pages: 26")) << head;
    ASSERT_TRUE(Contains(head, "%%DocumentMedia: Default 595 842")) << head;

    // Straight from the compressed file, as Debian ships it.
    jobtool::Conversion c = jobtool::ConvertToPclXl(kManDbManual, dir.Path("manual.pxl"), {});
    ASSERT_TRUE(c.ok) << c.error;
    EXPECT_EQ(c.source, DocumentFormat::PostScript);
    Written w = Read(dir.Path("manual.pxl"));
    ASSERT_EQ(w.error, "");
    EXPECT_EQ(w.papers, std::vector<std::string>(26, "eA4Paper"));
    EXPECT_EQ(w.units, 600);
    EXPECT_EQ(std::filesystem::directory_iterator(dir.Path("")) == std::filesystem::directory_iterator(), false);
    for (const auto &entry : std::filesystem::directory_iterator(dir.Path("")))
    {
        EXPECT_FALSE(Contains(entry.path().filename().string(), "unpacked")) << "left behind: " << entry.path();
    }

    // The PDF's pages are 609.7 by 789.0 points: the printer's nearest paper is Letter.
    c = jobtool::ConvertToPclXl(kMimeInfoDocument, dir.Path("mime.pxl"), {});
    ASSERT_TRUE(c.ok) << c.error;
    EXPECT_EQ(c.source, DocumentFormat::Pdf);
    w = Read(dir.Path("mime.pxl"));
    ASSERT_EQ(w.error, "");
    EXPECT_EQ(w.papers.size(), PagesCounted(kMimeInfoDocument));
    EXPECT_EQ(w.papers, std::vector<std::string>(17, "eLetterPaper"));
}

TEST(Convert, PaperAndResolutionFollowTheDocumentUnlessGiven)
{
    TempDir dir;
    // sample.ps sets A4 portrait, A4 landscape (pages 3 and 5) and Letter (page 4).
    jobtool::Conversion c = jobtool::ConvertToPclXl(Example("sample.ps"), dir.Path("own.pxl"), {});
    ASSERT_TRUE(c.ok) << c.error;
    Written w = Read(dir.Path("own.pxl"));
    EXPECT_EQ(w.papers, (std::vector<std::string>{"eA4Paper", "eA4Paper", "eA4Paper landscape", "eLetterPaper",
                                                  "eA4Paper landscape", "eA4Paper"}));
    EXPECT_EQ(w.units, 600);

    jobtool::ConvertOptions o;
    o.paper = "A5";
    o.resolution = 300;
    c = jobtool::ConvertToPclXl(Example("sample.ps"), dir.Path("a5.pxl"), o);
    ASSERT_TRUE(c.ok) << c.error;
    w = Read(dir.Path("a5.pxl"));
    // Every page fits the one paper; landscape pages are turned onto it.
    EXPECT_EQ(w.papers, std::vector<std::string>(6, "eA5Paper"));
    EXPECT_EQ(w.units, 300);

    for (const std::string &paper : jobtool::PaperNames())
    {
        o.paper = paper;
        o.resolution = 72;
        c = jobtool::ConvertToPclXl(Example("one-page.ps"), dir.Path("p.pxl"), o);
        ASSERT_TRUE(c.ok) << paper << ": " << c.error;
        w = Read(dir.Path("p.pxl"));
        ASSERT_EQ(w.papers.size(), 1u);
        EXPECT_NE(w.papers[0], "") << paper;
    }
    o.paper = "ledger";
    ASSERT_TRUE(jobtool::ConvertToPclXl(Example("one-page.ps"), dir.Path("p.pxl"), o).ok);
    EXPECT_EQ(Read(dir.Path("p.pxl")).papers, std::vector<std::string>{"eLedgerPaper"});
}

TEST(Convert, WrappedCompressedAndOddlyNamedDocuments)
{
    TempDir dir;
    // PostScript in a PJL job, as a spooler may have kept it.
    Bytes pjl = spoolsim::ToBytes("\x1B%-12345X@PJL JOB\r\n@PJL ENTER LANGUAGE = POSTSCRIPT\r\n");
    Bytes ps = ReadBytes(Example("one-page.ps"));
    pjl.insert(pjl.end(), ps.begin(), ps.end());
    WriteBytes(dir.Path("job.prn"), pjl);
    jobtool::Conversion c = jobtool::ConvertToPclXl(dir.Path("job.prn"), dir.Path("job.pxl"), {});
    ASSERT_TRUE(c.ok) << c.error;
    EXPECT_EQ(Read(dir.Path("job.pxl")).papers.size(), 1u);

    // Compressed PCL XL only needs unpacking: the bytes come back as they were.
    WriteBytes(dir.Path("sample.pxl"), Sample("sample.pxl"));
    jobtool::ProgramRun gzip;
    gzip.argv = {"gzip", "-k", dir.Path("sample.pxl")};
    ASSERT_TRUE(jobtool::RunProgram(gzip).Succeeded());
    c = jobtool::ConvertToPclXl(dir.Path("sample.pxl.gz"), dir.Path("back.pxl"), {});
    ASSERT_TRUE(c.ok) << c.error;
    EXPECT_EQ(c.source, DocumentFormat::PclXl);
    EXPECT_EQ(ReadBytes(dir.Path("back.pxl")), Sample("sample.pxl"));

    // Names Ghostscript would otherwise read as options, page formats or pipes.
    WriteBytes(dir.Path("-dFIRSTPAGE=2 %d.ps"), ps);
    const std::string out = dir.Path("|out %d %s.pxl");
    c = jobtool::ConvertToPclXl(dir.Path("-dFIRSTPAGE=2 %d.ps"), out, {});
    ASSERT_TRUE(c.ok) << c.error;
    EXPECT_EQ(Read(out).papers.size(), 1u);
}

TEST(Convert, RefusalsSayWhy)
{
    TempDir dir;
    struct Case
    {
        std::string input, output;
        jobtool::ConvertOptions options;
        std::vector<std::string> words;
    };
    WriteBytes(dir.Path("letter.txt"), spoolsim::ToBytes("Dear printer,\nplease.\n"));
    WriteBytes(dir.Path("doc.pxl"), Sample("one-page.pxl"));
    WriteBytes(dir.Path("bad.ps"), spoolsim::ToBytes("%!PS\n/x undefinedname\n"));
    WriteBytes(dir.Path("one.ps"), ReadBytes(Example("one-page.ps")));
    jobtool::ConvertOptions a0, badPaper, badDpi;
    badPaper.paper = "A4-ish";
    badDpi.resolution = 5000;
    const Case cases[] = {
        {dir.Path("none.pdf"), dir.Path("o.pxl"), a0, {"cannot open", "none.pdf", "No such file"}},
        {dir.Path(""), dir.Path("o.pxl"), a0, {"cannot read", "Is a directory"}},
        {dir.Path("letter.txt"), dir.Path("o.pxl"), a0, {"neither PCL XL, PDF nor PostScript"}},
        {dir.Path("doc.pxl"), dir.Path("o.pxl"), a0, {"PCL XL already"}},
        {dir.Path("bad.ps"), dir.Path("o.pxl"), a0, {"Ghostscript could not convert", "Error: /undefined"}},
        {dir.Path("one.ps"), dir.Path("no/such/dir/o.pxl"), a0, {"cannot write", "No such file"}},
        {dir.Path("one.ps"), dir.Path("one.ps"), a0, {"would overwrite the document itself"}},
        {dir.Path("one.ps"), dir.Path("o.pxl"), badPaper, {"no paper called \"A4-ish\""}},
        {dir.Path("one.ps"), dir.Path("o.pxl"), badDpi, {"5000 dpi", "72 to 1200"}},
    };
    const Bytes original = ReadBytes(dir.Path("one.ps"));
    for (const Case &c : cases)
    {
        jobtool::Conversion r = jobtool::ConvertToPclXl(c.input, c.output, c.options);
        EXPECT_FALSE(r.ok) << c.input;
        for (const std::string &w : c.words)
        {
            EXPECT_TRUE(Contains(r.error, w)) << c.input << ": " << r.error << " lacks " << w;
        }
        EXPECT_FALSE(std::filesystem::exists(dir.Path("o.pxl"))) << "a failed conversion leaves no output";
    }
    EXPECT_EQ(ReadBytes(dir.Path("one.ps")), original);

    // A PDF cut short: Ghostscript says so, and nothing of it reads as pages.
    if (Installed(kMimeInfoDocument))
    {
        Bytes cut = ReadBytes(kMimeInfoDocument);
        cut.resize(3000);
        WriteBytes(dir.Path("cut.pdf"), cut);
        jobtool::Conversion r = jobtool::ConvertToPclXl(dir.Path("cut.pdf"), dir.Path("cut.pxl"), {});
        // Ghostscript may refuse it or write a document without pages; either
        // way it says why, and make then finds no page.
        EXPECT_TRUE(!r.ok || !r.notes.empty()) << "no word about the damage";
        EXPECT_TRUE(!r.ok || Read(dir.Path("cut.pxl")).papers.empty());
    }
}

TEST(Convert, WithoutGhostscriptTheMessageNamesThePackage)
{
    TempDir dir;
    ScopedPath path(dir.Path(""));
    jobtool::Conversion c = jobtool::ConvertToPclXl(Example("one-page.ps"), dir.Path("o.pxl"), {});
    EXPECT_FALSE(c.ok);
    EXPECT_TRUE(Contains(c.error, "Ghostscript (gs)")) << c.error;
    EXPECT_TRUE(Contains(c.error, "install the Debian package ghostscript")) << c.error;
    EXPECT_FALSE(std::filesystem::exists(dir.Path("o.pxl")));
    std::string error;
    EXPECT_EQ(jobtool::Thumbnails::Render(Example("one-page.ps"), error), nullptr);
    EXPECT_TRUE(Contains(error, "ghostscript")) << error;
}

TEST(Convert, ThumbnailsShowEachPageInItsShape)
{
    std::string error;
    std::unique_ptr<jobtool::Thumbnails> t = jobtool::Thumbnails::Render(Example("sample.ps"), error);
    ASSERT_NE(t, nullptr) << error;
    ASSERT_EQ(t->Pages(), 6);
    // At 16 dpi an A4 page is 8.27 x 11.69 inches, a Letter page 8.5 x 11.
    const double sizes[6][2] = {{8.27, 11.69}, {8.27, 11.69}, {11.69, 8.27}, {8.5, 11}, {11.69, 8.27}, {8.27, 11.69}};
    for (int k = 1; k <= 6; k++)
    {
        std::optional<Bytes> png = t->Png(k);
        ASSERT_TRUE(png) << "page " << k;
        std::optional<jobtool::PixelSize> px = jobtool::PngSize(*png);
        ASSERT_TRUE(px) << "page " << k;
        EXPECT_NEAR(px->width, sizes[k - 1][0] * 16, 1.5) << "page " << k;
        EXPECT_NEAR(px->height, sizes[k - 1][1] * 16, 1.5) << "page " << k;
    }
    EXPECT_FALSE(t->Png(0));
    EXPECT_FALSE(t->Png(7));

    if (Installed(kManDbManual))
    {
        t = jobtool::Thumbnails::Render(kManDbManual, error);
        ASSERT_NE(t, nullptr) << error;
        EXPECT_EQ(t->Pages(), 26);
    }
    EXPECT_EQ(jobtool::Thumbnails::Render(Example("sample.pxl"), error), nullptr);
    EXPECT_TRUE(Contains(error, "need PDF or PostScript")) << error;
}

#else

TEST(Convert, NotOnTheWindowsBuild)
{
    jobtool::Conversion c = jobtool::ConvertToPclXl("a.pdf", "a.pxl", {});
    EXPECT_FALSE(c.ok);
    EXPECT_TRUE(Contains(c.error, "not available on this build")) << c.error;
    std::string error;
    EXPECT_EQ(jobtool::Thumbnails::Render("a.pdf", error), nullptr);
    EXPECT_TRUE(Contains(error, "not available on this build")) << error;
}

#endif

} // namespace
} // namespace jobtool_test
