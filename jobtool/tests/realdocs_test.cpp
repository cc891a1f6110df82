// Real documents through every option: PCL XL that Ghostscript made from
// PostScript and PDF that Debian ships (with and without its glyph cache,
// portrait, landscape, and mixed), made into jobs, run through kd7720um and
// checked page by page as a printer would print them:
// - every printed document is one a printer prints (pclxl/printability.h);
// - every printed page is the input page the page map names, in the order
//   the option gives, each one once where a booklet puts it;
// - it draws the characters the input page drew (by a model of how a
//   printer keeps downloaded fonts), whatever order it was printed in;
// - booklet pages land inside their half of the sheet (by the geometry of
//   what the printer receives);
// - watermarks set up what they draw with and only add ink.
// The documents are made by make-real-documents.sh into the folder that
// KD_REAL_DOCUMENTS names.
#include "sheetgeometry.h"

#include "jobfile.h"

#include "../../tests/models/drawing.h"

#include <fontmodel.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>

namespace jobtool_test
{
namespace
{

using jobtool::BookletKind;
using jobtool::Interleave;
using jobtool::JobOptions;
using jobtool::PageSet;
using Seq = std::vector<std::string>;

Bytes Document(const std::string &name)
{
    const char *dir = std::getenv("KD_REAL_DOCUMENTS");
    if (dir == nullptr)
    {
        ADD_FAILURE() << "KD_REAL_DOCUMENTS does not name the folder of the real documents";
        return Bytes();
    }
    std::ifstream in(std::string(dir) + "/" + name, std::ios::binary);
    Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(b.empty()) << name << " is missing from " << dir << " (make-real-documents.sh makes it)";
    return b;
}

Seq Range(int from, int to, int step = 1)
{
    Seq s;
    for (int k = from; step > 0 ? k <= to : k >= to; k += step)
    {
        s.push_back(std::to_string(k));
    }
    return s;
}

// What each option prints, in the order a person takes the sheets out;
// empty for booklets, which the geometry checks.
struct Option
{
    const char *name;
    std::function<void(JobOptions &)> set;
    std::function<std::vector<Seq>(int)> expected;
};

const Option kOptions[] = {
    {"reverse", [](JobOptions &o) { o.reverse = true; }, [](int n) { return std::vector<Seq>{Range(n, 1, -1)}; }},
    {"odd pages", [](JobOptions &o) { o.pageSet = PageSet::Odd; },
     [](int n) { return std::vector<Seq>{Range(1, n, 2)}; }},
    {"even pages", [](JobOptions &o) { o.pageSet = PageSet::Even; },
     [](int n) { return std::vector<Seq>{Range(2, n, 2)}; }},
    {"two collated copies",
     [](JobOptions &o) {
         o.collate = true;
         o.copies = 2;
     },
     [](int n) {
         Seq s = Range(1, n), once = s;
         s.insert(s.end(), once.begin(), once.end());
         return std::vector<Seq>{s};
     }},
    {"manual duplex", [](JobOptions &o) { o.manualDuplex = true; },
     [](int n) {
         // The backs first, last to first; then the fronts.
         return std::vector<Seq>{Range(n - n % 2, 2, -2), Range(1, n, 2)};
     }},
    {"transparencies with the same page", [](JobOptions &o) { o.transparency = Interleave::SamePage; },
     [](int n) {
         Seq s;
         for (int k = 1; k <= n; k++)
         {
             s.push_back(std::to_string(k));
             s.push_back(std::to_string(k));
         }
         return std::vector<Seq>{s};
     }},
    {"transparencies first, the last page between",
     [](JobOptions &o) {
         o.transparency = Interleave::LastPage;
         o.transparencyFirst = true;
     },
     [](int n) {
         Seq s;
         for (int k = 1; k < n; k++)
         {
             s.push_back(std::to_string(k));
             s.push_back(std::to_string(n));
         }
         return std::vector<Seq>{s};
     }},
    {"watermark", [](JobOptions &o) { o.watermark = "CONFIDENTIAL"; },
     [](int n) { return std::vector<Seq>{Range(1, n)}; }},
    {"outlined watermark, reverse",
     [](JobOptions &o) {
         o.watermark = "DRAFT";
         o.wmOutline = o.reverse = true;
     },
     [](int n) { return std::vector<Seq>{Range(n, 1, -1)}; }},
    {"booklet by the printer", [](JobOptions &o) { o.booklet = BookletKind::Printer; }, nullptr},
    {"landscape booklet by hand, right to left, watermark",
     [](JobOptions &o) {
         o.booklet = BookletKind::Manual;
         o.orientation = DMORIENT_LANDSCAPE;
         o.direction = 1;
         o.watermark = "COPY";
     },
     nullptr},
};

// The texts a printed page or sheet draws against those of the input pages
// it carries (a sheet: its halves in the order they are printed).
std::string CompareDrawing(const std::vector<jobtool::PageMap> &maps,
                           const std::vector<const spoolsim::Document *> &docs, const fontmodel::Drawing &input)
{
    for (size_t d = 0; d < maps.size(); d++)
    {
        fontmodel::Drawing printed = fontmodel::Draw(docs[d]->data, true);
        if (!printed.error.empty())
        {
            return "document " + std::to_string(d + 1) + ": " + printed.error;
        }
        std::vector<const jobtool::Entry *> pages = maps[d].Pages();
        if (pages.size() != printed.pages.size())
        {
            return "document " + std::to_string(d + 1) + ": the page map and the drawing disagree on the pages";
        }
        for (size_t i = 0; i < pages.size(); i++)
        {
            std::vector<fontmodel::Drawn> wanted;
            std::vector<int> from;
            if (pages[i]->kind == jobtool::EntryKind::Page)
            {
                from.push_back(pages[i]->inputPage);
            }
            else if (pages[i]->kind == jobtool::EntryKind::Sheet)
            {
                from.assign(std::begin(pages[i]->halves), std::end(pages[i]->halves));
            }
            for (int k : from)
            {
                if (k > 0)
                {
                    wanted.insert(wanted.end(), input.pages[static_cast<size_t>(k - 1)].begin(),
                                  input.pages[static_cast<size_t>(k - 1)].end());
                }
            }
            if (printed.pages[i] != wanted)
            {
                return "document " + std::to_string(d + 1) + ", printed page " + std::to_string(i + 1) + ": " +
                       std::to_string(printed.pages[i].size()) + " texts do not draw the characters of input page(s) " +
                       std::to_string(from.empty() ? 0 : from[0]);
            }
        }
    }
    return std::string();
}

// Every watermark fragment in the printed documents.
std::string CheckWatermarks(const std::vector<const spoolsim::Document *> &docs, size_t expected)
{
    size_t found = 0;
    for (const spoolsim::Document *d : docs)
    {
        pclxl::Document doc = pclxl::readDocument(pclxl::Bytes(d->data));
        const std::vector<pclxl::Command> &cmds = doc.commands;
        for (size_t i = 0; i + 2 < cmds.size(); i++)
        {
            const pclxl::Attribute *rop = cmds[i + 2].find(pclxl::attr::ROP3);
            if (cmds[i].op != pclxl::op::PushGS || cmds[i + 1].op != pclxl::op::SetClipToPage || !rop ||
                rop->value.number() != 252)
            {
                continue;
            }
            size_t j = i;
            for (int depth = 0; j < cmds.size(); j++)
            {
                depth += cmds[j].op == pclxl::op::PushGS ? 1 : cmds[j].op == pclxl::op::PopGS ? -1 : 0;
                if (depth == 0)
                {
                    break;
                }
            }
            models::Painted p = models::CheckDrawing(std::vector<pclxl::Command>(
                cmds.begin() + static_cast<long>(i), cmds.begin() + static_cast<long>(std::min(j + 1, cmds.size()))));
            if (!p.problem.empty() || p.paints == 0)
            {
                return "watermark at offset " + std::to_string(cmds[i].begin) + ": " +
                       (p.problem.empty() ? "draws nothing" : p.problem);
            }
            found++;
            i = j;
        }
    }
    return found == expected ? std::string()
                             : std::to_string(found) + " watermarks found, " + std::to_string(expected) + " expected";
}

void Check(const std::string &name)
{
    const Bytes input = Document(name);
    ASSERT_FALSE(input.empty());
    const fontmodel::Drawing drawn = fontmodel::Draw(input, true);
    ASSERT_EQ(drawn.error, "") << name;
    const int n = static_cast<int>(drawn.pages.size());
    ASSERT_GT(n, 1) << name;
    // Text as graphics (without the glyph cache) draws nothing with fonts.
    const bool downloads = std::any_of(drawn.pages.begin(), drawn.pages.end(),
                                       [](const std::vector<fontmodel::Drawn> &p) { return !p.empty(); });
    const std::vector<PageSize> sizes = PageSizes(input);
    for (const Option &option : kOptions)
    {
        JobOptions o;
        option.set(o);
        const std::string what = name + ", " + option.name;
        Outcome out = MakeAndRun(input, o);
        ASSERT_TRUE(out.made.job) << what << ": " << out.made.error;
        EXPECT_TRUE(out.replay.problems.empty()) << what << "\n" << out.Report();
        EXPECT_TRUE(out.AllWellFormed()) << what << "\n" << out.Report();
        EXPECT_TRUE(out.AllPrintable()) << what << "\n" << out.Report();
        std::vector<const spoolsim::Document *> docs;
        for (const spoolsim::Document *d : out.replay.run.PrinterDocuments())
        {
            if (d->ended && !d->data.empty())
            {
                docs.push_back(d);
            }
        }
        ASSERT_EQ(docs.size(), out.maps.size()) << what;
        if (option.expected)
        {
            EXPECT_EQ(out.Sequences(), option.expected(n)) << what << "\n" << out.Report();
        }
        else
        {
            std::vector<SheetSide> sides;
            const std::vector<Bytes> bodies = BodiesOf(input);
            for (const spoolsim::Document *d : docs)
            {
                std::vector<SheetSide> more = PlaceBooklet(d->data, bodies, sizes, 1.0);
                sides.insert(sides.end(), more.begin(), more.end());
            }
            EXPECT_EQ(CheckBooklet(sides, n, o.direction), "") << what;
        }
        if (downloads)
        {
            EXPECT_EQ(CompareDrawing(out.maps, docs, drawn), "") << what;
        }
        if (o.watermark)
        {
            // One watermark on every input page printed, a sheet's halves too.
            size_t printed = 0;
            for (const jobtool::PageMap &m : out.maps)
            {
                for (const jobtool::Entry *e : m.Pages())
                {
                    printed += e->kind == jobtool::EntryKind::Sheet ? (e->halves[0] > 0) + (e->halves[1] > 0) : 1;
                }
            }
            EXPECT_EQ(CheckWatermarks(docs, printed), "") << what;
        }
    }
}

TEST(RealDocuments, PostScriptWithTheGlyphCache)
{
    Check("man-db.pxl");
}

TEST(RealDocuments, PostScriptWithoutTheGlyphCache)
{
    Check("man-db-nocache.pxl");
}

TEST(RealDocuments, PostScriptOnLandscapePaper)
{
    Check("man-db-landscape.pxl");
}

TEST(RealDocuments, PdfWithTheGlyphCache)
{
    Check("mime-info.pxl");
}

TEST(RealDocuments, PdfWithoutTheGlyphCache)
{
    Check("mime-info-nocache.pxl");
}

TEST(RealDocuments, PdfWithLandscapePagesAmongPortraitOnes)
{
    Check("mixed.pxl");
}

// make works on a file a page at a time, finding chunk cuts and text runs
// in its one reading pass; the whole-document form reads each page again on
// its own. Both must give the same job to the byte.
TEST(RealDocuments, AJobMadeFromTheFileIsTheJobMadeInMemory)
{
    TempDir dir;
    const std::pair<const char *, std::function<void(JobOptions &)>> options[] = {
        {"plain", [](JobOptions &) {}},
        {"collated copies", [](JobOptions &o) { o.copies = 3, o.collate = true; }},
        {"uncollated copies", [](JobOptions &o) { o.copies = 2; }},
        {"deferred text", [](JobOptions &o) { o.deferText = true; }},
        {"booklet with an overlay", [](JobOptions &o) { o.booklet = BookletKind::Printer, o.overlay = "C:\\o.ovl"; }},
        {"watermark, manual duplex", [](JobOptions &o) { o.watermark = "DRAFT", o.manualDuplex = true; }},
        {"overlay creation", [](JobOptions &o) { o.overlayCreate = "C:\\o.ovl"; }},
    };
    for (const char *name : {"man-db.pxl", "man-db-nocache.pxl", "mime-info.pxl", "mixed.pxl"})
    {
        const Bytes document = Document(name);
        for (const auto &option : options)
        {
            const std::string what = std::string(name) + ", " + option.first;
            JobOptions o;
            o.documentName = name;
            option.second(o);
            jobtool::MadeJob whole = jobtool::MakeJob(document, o);
            ASSERT_TRUE(whole.job.has_value()) << what << ": " << whole.error;

            pclxl::MemorySource source{pclxl::Bytes(document)};
            spoolsim::JobFileWriter writer;
            std::string error;
            const std::string path = dir.Path("streamed.kdjob");
            ASSERT_TRUE(writer.Open(path, spoolsim::Widen(name), true, false, error)) << error;
            jobtool::MadeJob streamed = jobtool::MakeJob(source, o, writer, dir.Path("scratch.pxl"));
            ASSERT_TRUE(streamed.ok) << what << ": " << streamed.error;
            ASSERT_TRUE(writer.Finish("", error)) << error;
            EXPECT_EQ(streamed.steps, whole.job->steps.size()) << what;
            EXPECT_EQ(streamed.notes, whole.notes) << what;
            EXPECT_FALSE(std::ifstream(dir.Path("scratch.pxl")).good()) << what << ": the scratch file is left";

            std::ifstream in(path, std::ios::binary);
            const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            const Bytes expected = spoolsim::SaveJob(*whole.job);
            if (file != expected)
            {
                const auto at = std::mismatch(file.begin(), file.end(), expected.begin(), expected.end());
                ADD_FAILURE() << what << ": the job files differ from byte " << (at.first - file.begin()) << " of "
                              << expected.size();
            }
        }
    }
}

} // namespace
} // namespace jobtool_test
