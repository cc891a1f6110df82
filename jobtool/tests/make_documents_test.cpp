// make with the documents a person has: PDF and PostScript that Debian
// ships, through Ghostscript, into a booklet the printer folds and a job
// printed on both sides by hand; the pages must land where a folded sheet
// and a turned stack put them. And what make says when it cannot read one.
#include "paper_support.h"

#include "programs.h"
#include "tool_run.h"

#include <set>

namespace jobtool_test
{
namespace
{

std::vector<std::string> Numbers(int from, int to, int step)
{
    std::vector<std::string> out;
    for (int p = from; step > 0 ? p <= to : p >= to; p += step)
    {
        out.push_back(std::to_string(p));
    }
    return out;
}

// Skips the test when the document or Ghostscript is not on this machine,
// or when the build runs no other program (the Windows build).
#define REQUIRE_DOCUMENT(path)                                                                                         \
    if (!std::filesystem::exists(path))                                                                                \
    {                                                                                                                  \
        GTEST_SKIP() << (path) << " is not installed";                                                                 \
    }
#define SKIP_WITHOUT_GHOSTSCRIPT(made)                                                                                 \
    if ((made).code == 1 && (Contains((made).err, "install the Debian package ghostscript") ||                         \
                             Contains((made).err, jobtool::kNotOnThisBuild)))                                          \
    {                                                                                                                  \
        GTEST_SKIP() << (made).err;                                                                                    \
    }

// A document of n pages made into a booklet the printer folds: m = n
// rounded up to four pages a sheet, m/2 sides, and on every side two pages
// that add up to m + 1, as on any folded sheet; pages above n are blank.
void ExpectFoldedBooklet(const std::string &document, int n, const char *format)
{
    TempDir dir;
    ToolRun made = Tool({"make", document, "--booklet", "printer", "-o", dir.Path("m.kdjob")});
    SKIP_WITHOUT_GHOSTSCRIPT(made);
    ASSERT_EQ(made.code, 0) << made.err;
    EXPECT_TRUE(Contains(made.out, std::to_string(n) + " pages")) << made.out;
    EXPECT_TRUE(Contains(made.out, std::string("note: converted from ") + format +
                                       " by Ghostscript at 600 dpi, each page on the paper the document sets"))
        << made.out;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir.Path(""), ec))
    {
        EXPECT_EQ(entry.path().filename().string(), "m.kdjob") << "left behind";
    }

    ToolRun run = Tool({"run", dir.Path("m.kdjob"), "--out", dir.Path("out")});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    const std::vector<std::vector<std::string>> docs = PrintedLines(run.out);
    ASSERT_EQ(docs.size(), 1u) << "the printer turns the sheets: one pass";
    const int m = (n + 3) / 4 * 4;
    ASSERT_EQ(docs[0].size(), static_cast<size_t>(m / 2)) << run.out;
    std::multiset<int> seen;
    for (const std::string &side : docs[0])
    {
        const size_t bar = side.find('|');
        ASSERT_NE(bar, std::string::npos) << side;
        const std::string left = side.substr(0, bar), right = side.substr(bar + 1);
        ASSERT_FALSE(left == "-" && right == "-") << "a side with no page";
        const int a = left == "-" ? m + 1 - std::stoi(right) : std::stoi(left);
        const int b = right == "-" ? m + 1 - a : std::stoi(right);
        EXPECT_EQ(a + b, m + 1) << side;
        EXPECT_TRUE(left != "-" || a > n) << side;
        EXPECT_TRUE(right != "-" || b > n) << side;
        seen.insert(a);
        seen.insert(b);
    }
    for (int p = 1; p <= m; p++)
    {
        EXPECT_EQ(seen.count(p), 1u) << "page " << p;
    }
    // Left to right: page 1 on the right half of the cover side.
    EXPECT_EQ(docs[0][0], (m > n ? "-" : std::to_string(m)) + "|1");

    // The job remembers where it came from.
    ToolRun shown = Tool({"show", dir.Path("m.kdjob")});
    EXPECT_EQ(shown.code, 0) << shown.err;
    EXPECT_TRUE(Contains(shown.out, "made from: " + document)) << shown.out;
    EXPECT_TRUE(Contains(shown.out, "as made by: jobtool make " + document + " --booklet printer")) << shown.out;
}

TEST(MakeDocuments, APdfBecomesABookletThePrinterFolds)
{
    REQUIRE_DOCUMENT(kMimeInfoDocument);
    ExpectFoldedBooklet(kMimeInfoDocument, 17, "PDF");
}

TEST(MakeDocuments, ACompressedPostScriptManualBecomesABookletThePrinterFolds)
{
    REQUIRE_DOCUMENT(kManDbManual);
    ExpectFoldedBooklet(kManDbManual, 26, "PostScript");
}

TEST(MakeDocuments, ACompressedPostScriptManualPrintsOnBothSidesByHand)
{
    REQUIRE_DOCUMENT(kManDbManual);
    TempDir dir;
    ToolRun made = Tool({"make", kManDbManual, "--manual-duplex", "--paper", "Letter", "--resolution", "300", "-o",
                         dir.Path("man.kdjob")});
    SKIP_WITHOUT_GHOSTSCRIPT(made);
    ASSERT_EQ(made.code, 0) << made.err;
    EXPECT_TRUE(Contains(made.out, "converted from PostScript by Ghostscript at 300 dpi, every page fitted to letter"))
        << made.out;

    ToolRun run = Tool({"run", dir.Path("man.kdjob"), "--out", dir.Path("out"), "--answer", "ok"});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    const std::vector<std::vector<std::string>> docs = PrintedLines(run.out);
    ASSERT_EQ(docs.size(), 2u) << run.out;
    // The backs first, the last first; then the fronts.
    EXPECT_EQ(docs[0], Numbers(26, 2, -2));
    EXPECT_EQ(docs[1], Numbers(1, 25, 2));
    EXPECT_TRUE(Contains(run.out, "(portrait Letter)")) << "every page on the paper asked for";
    EXPECT_FALSE(Contains(run.out, "add one blank sheet")) << "26 pages fill 13 sheets";
}

TEST(MakeDocuments, PaperAndResolutionAreForPdfAndPostScriptAndBounded)
{
    TempDir dir;
    WriteBytes(dir.Path("doc.pxl"), Sample("one-page.pxl"));
    const std::pair<std::vector<std::string>, const char *> cases[] = {
        {{"make", dir.Path("doc.pxl"), "--paper", "a4"}, "--paper is for PDF and PostScript input; "},
        {{"make", dir.Path("doc.pxl"), "--resolution", "300"}, "is PCL XL"},
        {{"make", Example("one-page.ps"), "--paper", "tabloid"}, "--paper takes letter|legal|a4|"},
        {{"make", Example("one-page.ps"), "--resolution", "71"}, "--resolution needs a number from 72 to 1200"},
        {{"make", Example("one-page.ps"), "--resolution", "1201"}, "--resolution needs a number from 72 to 1200"},
    };
    for (const auto &c : cases)
    {
        ToolRun r = Tool(c.first);
        EXPECT_EQ(r.code, 2) << c.second;
        EXPECT_TRUE(Contains(r.err, c.second)) << r.err;
    }
}

#ifndef _WIN32
TEST(MakeDocuments, CompressedPclXlIsOnlyUnpackedAndNamesNoSource)
{
    TempDir dir;
    WriteBytes(dir.Path("sample.pxl"), Sample("sample.pxl"));
    jobtool::ProgramRun gzip;
    gzip.argv = {"gzip", "-c", dir.Path("sample.pxl")};
    gzip.outputFile = dir.Path("sample.pxl.gz");
    ASSERT_TRUE(jobtool::RunProgram(gzip).Succeeded());

    ToolRun made = Tool({"make", dir.Path("sample.pxl.gz"), "-o", dir.Path("z.kdjob")});
    ASSERT_EQ(made.code, 0) << made.err;
    EXPECT_TRUE(Contains(made.out, "note: unpacked: the file holds compressed PCL XL")) << made.out;
    ToolRun shown = Tool({"show", dir.Path("z.kdjob")});
    EXPECT_FALSE(Contains(shown.out, "made from:")) << "no thumbnails can come from PCL XL: " << shown.out;
    ToolRun paper = Tool({"make", dir.Path("sample.pxl.gz"), "--paper", "a4", "-o", dir.Path("p.kdjob")});
    EXPECT_EQ(paper.code, 2);
    EXPECT_TRUE(Contains(paper.err, "holds compressed PCL XL")) << paper.err;
}

TEST(MakeDocuments, WithoutGhostscriptMakeNamesThePackageAndWritesNothing)
{
    TempDir dir;
    ScopedPath path(dir.Path(""));
    ToolRun r = Tool({"make", Example("one-page.ps"), "-o", dir.Path("x.kdjob")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.err, "install the Debian package ghostscript")) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.Path("x.kdjob")));
    for (const auto &entry : std::filesystem::directory_iterator(dir.Path("")))
    {
        ADD_FAILURE() << "left behind: " << entry.path();
    }
}
#endif

} // namespace
} // namespace jobtool_test
