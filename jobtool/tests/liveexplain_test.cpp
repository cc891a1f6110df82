// A printed document explained on its own thread while it is written must be
// judged exactly as the finished file is, however the writes and the reader
// interleave; and a reading that is given up must end.
#include "liveexplain.h"
#include "support.h"
#include "tool_run.h"

#include "pclxl/bytesource.h"

#include <filesystem>

using namespace jobtool_test;

namespace
{

// The sample in many collated copies, as the printer received it: some
// megabytes, so that the writer publishes many times before it ends.
struct PrintedDocument
{
    Bytes bytes;
    jobtool::Reference reference;
};

PrintedDocument ManyCopies(int copies)
{
    jobtool::JobOptions o;
    o.copies = copies;
    o.collate = true;
    o.documentName = "sample.pxl";
    Outcome outcome = MakeAndRun("sample.pxl", o);
    EXPECT_EQ(outcome.replay.run.documents.size(), 1u) << outcome.Report();
    return {outcome.replay.run.documents.at(0).data, outcome.reference};
}

// Writes the first `count` bytes to the file in pieces of uneven size (up
// to `most`), as the hook's writes come, publishing after some of them and
// pausing after about one in `pause`, so that the reader catches up and has
// to wait at what was published.
void WriteInPieces(const Bytes &bytes, size_t count, pclxl::FileSink &sink, jobtool::LiveExplain &live,
                   size_t most = 70000, uint32_t pause = 17)
{
    uint32_t step = 12345;
    size_t at = 0;
    while (at < count)
    {
        step = step * 1103515245u + 12345u;
        const size_t piece = std::min<size_t>(count - at, 1 + (step >> 8) % most);
        ASSERT_TRUE(sink.write(bytes.data() + at, piece));
        at += piece;
        if ((step >> 4) % 3 == 0)
        {
            ASSERT_TRUE(sink.flush());
            live.Published(at);
        }
        if ((step >> 6) % pause == 0)
        {
            Sleep(2);
        }
    }
}

std::string MapText(const jobtool::PageMap &map)
{
    return jobtool::FormatPageMap(map, "printed.pxl");
}

} // namespace

TEST(LiveExplain, TheMapOfADocumentReadAsItIsWrittenIsThatOfTheWholeFile)
{
    const PrintedDocument doc = ManyCopies(120);
    ASSERT_GT(doc.bytes.size(), 2u << 20);
    const jobtool::PageMap whole = jobtool::Explain(doc.bytes, doc.reference);
    ASSERT_TRUE(whole.wellFormed) << whole.error;
    ASSERT_EQ(whole.Pages().size(), 720u);

    TempDir dir;
    const std::string path = dir.Path("printed.part");
    // A writer far ahead of the reader, and one the reader keeps waiting for.
    for (size_t most : {size_t{70000}, size_t{70000}, size_t{3000}})
    {
        SCOPED_TRACE("pieces of up to " + std::to_string(most) + " bytes");
        pclxl::FileSink sink(path);
        ASSERT_TRUE(sink.ok());
        jobtool::LiveExplain live(path, doc.reference);
        WriteInPieces(doc.bytes, doc.bytes.size(), sink, live, most, most < 10000 ? 5 : 17);
        ASSERT_TRUE(sink.close());
        live.Published(doc.bytes.size());
        live.Ended();
        std::string readError;
        const jobtool::PageMap map = live.Result("explain", &readError);
        EXPECT_EQ(readError, "");
        EXPECT_EQ(MapText(map), MapText(whole));
        EXPECT_EQ(map.size, doc.bytes.size());
    }
}

TEST(LiveExplain, ADocumentThatEndsShortIsJudgedAsTheShortFile)
{
    const PrintedDocument doc = ManyCopies(60);
    TempDir dir;
    const std::string path = dir.Path("printed.part");
    // In the middle of a page, and inside the job header.
    for (size_t cut : {doc.bytes.size() * 2 / 3, size_t{100}})
    {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const Bytes shorter(doc.bytes.begin(), doc.bytes.begin() + static_cast<long>(cut));
        const jobtool::PageMap whole = jobtool::Explain(shorter, doc.reference);
        EXPECT_FALSE(whole.wellFormed);
        pclxl::FileSink sink(path);
        jobtool::LiveExplain live(path, doc.reference);
        WriteInPieces(doc.bytes, cut, sink, live);
        ASSERT_TRUE(sink.close());
        live.Published(cut);
        live.Ended();
        std::string readError;
        EXPECT_EQ(MapText(live.Result("explain", &readError)), MapText(whole));
        EXPECT_EQ(readError, "");
    }
}

TEST(LiveExplain, AReadingGivenUpOrLeftEndsWithoutTheRest)
{
    const PrintedDocument doc = ManyCopies(30);
    TempDir dir;
    const std::string path = dir.Path("printed.part");
    {
        pclxl::FileSink sink(path);
        jobtool::LiveExplain live(path, doc.reference);
        WriteInPieces(doc.bytes, doc.bytes.size() / 3, sink, live);
        live.Abandon();
    } // the reader waits for bytes that never come unless it is told
    {
        // Left without an end, as when the run stops: the destructor ends it.
        pclxl::FileSink sink(path);
        jobtool::LiveExplain live(path, doc.reference);
        WriteInPieces(doc.bytes, doc.bytes.size() / 2, sink, live);
    }
    SUCCEED();
}

TEST(LiveExplain, ARunReportsForALargeDocumentTheMapThatExplainGivesOfTheFile)
{
    TempDir dir;
    const std::string input = dir.Path("sample.pxl");
    WriteBytes(input, Sample("sample.pxl"));
    const std::string job = dir.Path("sample.kdjob");
    ASSERT_EQ(Tool({"make", input, "-o", job, "--copies", "150", "--collate"}).code, 0);
    const ToolRun run = Tool({"run", job, "--out", dir.Path("out")});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    const std::string printed = (std::filesystem::path(dir.Path("out")) / "sample-1.pxl").string();
    ASSERT_GT(std::filesystem::file_size(printed), 2u << 20);
    const ToolRun explained = Tool({"explain", printed, "--job", job});
    ASSERT_EQ(explained.code, 0) << explained.err;
    EXPECT_NE(run.out.find(explained.out), std::string::npos) << "run's page map differs from explain's";
    EXPECT_EQ(PrintedLines(run.out).at(0).size(), 900u);
}

TEST(LiveExplain, EachDocumentOfARunWithAPromptBetweenGetsItsOwnMap)
{
    // Manual duplex: the first pass's document ends, the person is asked,
    // then the second pass's is written; each is read beside its writing.
    TempDir dir;
    const std::string input = dir.Path("sample.pxl");
    WriteBytes(input, Sample("sample.pxl"));
    const std::string job = dir.Path("duplex.kdjob");
    ASSERT_EQ(Tool({"make", input, "-o", job, "--manual-duplex"}).code, 0);
    const ToolRun run = Tool({"run", job, "--out", dir.Path("out"), "--answer", "ok"});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    const std::vector<std::vector<std::string>> printed = PrintedLines(run.out);
    ASSERT_EQ(printed.size(), 2u) << run.out;
    for (int n : {1, 2})
    {
        const std::string file =
            (std::filesystem::path(dir.Path("out")) / ("duplex-" + std::to_string(n) + ".pxl")).string();
        const ToolRun explained = Tool({"explain", file, "--job", job});
        ASSERT_EQ(explained.code, 0) << explained.err;
        EXPECT_NE(run.out.find(explained.out), std::string::npos) << "document " << n << ": run's map differs";
    }
    // The passes hold the even pages, then the odd ones.
    EXPECT_EQ(printed[0].front(), "6");
    EXPECT_EQ(printed[1].front(), "1");
}

// run digests the input pages (a booklet's page bodies) on a thread of their
// own while it reads what the printer receives, and matches the pages at the
// end (a booklet's sheets when the first ends): the maps must be those of a
// reference made first, started or made by the first to ask.
TEST(LiveExplain, InputPagesDigestedBesideTheReadingMapAsWhenDigestedFirst)
{
    jobtool::JobOptions collated, reversed, deferred, instruction, booklet;
    collated.copies = 3;
    collated.collate = true;
    reversed.reverse = true;
    deferred.deferText = true;
    instruction.manualDuplex = instruction.descending = instruction.instructionPage = true;
    booklet.booklet = jobtool::BookletKind::Printer;
    for (const jobtool::JobOptions &o : {collated, reversed, deferred, instruction, booklet})
    {
        Outcome outcome = MakeAndRun("sample.pxl", o);
        ASSERT_TRUE(outcome.made.job) << outcome.Report();
        const spoolsim::JobSteps steps(*outcome.made.job);
        std::vector<std::string> sequences;
        for (bool started : {true, false})
        {
            std::string error;
            const jobtool::Reference later = jobtool::ReferenceFromJob(steps, &error, true);
            ASSERT_EQ(error, "");
            ASSERT_TRUE(later.later) << "a document's pages are left to be digested";
            EXPECT_TRUE(later.pages.empty());
            EXPECT_TRUE(later.bodies.empty());
            EXPECT_EQ(later.booklet, o.booklet != jobtool::BookletKind::None);
            if (started)
            {
                later.later->Start();
            }
            for (const spoolsim::Document &d : outcome.replay.run.documents)
            {
                const jobtool::PageMap first = jobtool::Explain(d.data, outcome.reference);
                const jobtool::PageMap beside = jobtool::Explain(d.data, later);
                EXPECT_EQ(jobtool::FormatPageMap(first, "x"), jobtool::FormatPageMap(beside, "x"));
                const std::vector<std::string> seq = beside.Sequence();
                sequences.insert(sequences.end(), seq.begin(), seq.end());
            }
        }
        // Every page matched an input page or is the instruction page; a
        // booklet's sheets (four for six pages) carry every page.
        EXPECT_EQ(std::count(sequences.begin(), sequences.end(), "?"), 0);
        if (o.booklet != jobtool::BookletKind::None)
        {
            const std::vector<std::string> twice = {"-|1", "2|-", "6|3", "4|5", "-|1", "2|-", "6|3", "4|5"};
            EXPECT_EQ(sequences, twice) << "read twice: started, and made by the first to ask";
        }
        if (o.instructionPage)
        {
            EXPECT_EQ(std::count(sequences.begin(), sequences.end(), "I"), 2) << "once per reading";
        }
    }
}

// The input pages are digested from the job file while the hook's replay
// reads the same file: a document of some megabytes keeps both reading at
// once, and neither may see the other's reads.
TEST(LiveExplain, TheJobFileIsReadForTheReferenceAndTheHookAtOnce)
{
    TempDir dir;
    pclxl::Writer w;
    w.streamHeader("shapes").beginSession(600).openDataSource();
    for (int page = 0; page < 300; page++)
    {
        w.beginPage().setColorSpaceGray().setBrushGray(0).setCursor(static_cast<int16_t>(page), 0);
        for (int r = 0; r < 1500; r++)
        {
            const uint16_t x = static_cast<uint16_t>(100 + r % 40 * 100), y = static_cast<uint16_t>(100 + r / 40 * 100);
            w.newPath().rectangle(x, y, static_cast<uint16_t>(x + 50), static_cast<uint16_t>(y + 50));
        }
        w.endPage(1);
    }
    w.closeDataSource().endSession();
    const Bytes doc = w.take();
    ASSERT_GT(doc.size(), 5u << 20);
    const std::string input = dir.Path("shapes.pxl");
    WriteBytes(input, doc);
    // Reversed; and a booklet, whose later sheets a second pass reads
    // beside the first once the printed file has ended (while it is written
    // for run, from the start for explain).
    const std::vector<std::string> reversed = {"--reverse"}, booklet = {"--booklet", "printer"};
    for (const std::vector<std::string> &options : {reversed, booklet})
    {
        const std::string job = dir.Path("shapes.kdjob");
        std::vector<std::string> make = {"make", input, "-o", job};
        make.insert(make.end(), options.begin(), options.end());
        ASSERT_EQ(Tool(make).code, 0);
        const std::string out = dir.Path("out" + options.front());
        const ToolRun run = Tool({"run", job, "--out", out});
        ASSERT_EQ(run.code, 0) << run.out << run.err;
        const std::string printed = (std::filesystem::path(out) / "shapes-1.pxl").string();
        const ToolRun explained = Tool({"explain", printed, "--job", job});
        ASSERT_EQ(explained.code, 0) << explained.err;
        EXPECT_NE(run.out.find(explained.out), std::string::npos) << "run's page map differs from explain's";
        const std::vector<std::string> pages = PrintedLines(run.out).at(0);
        if (options == booklet)
        {
            // 300 pages on 75 sheets, both sides: the outer sheet first.
            ASSERT_EQ(pages.size(), 150u);
            EXPECT_EQ(pages.front(), "300|1");
            EXPECT_EQ(pages.back(), "150|151");
            continue;
        }
        ASSERT_EQ(pages.size(), 300u);
        EXPECT_EQ(pages.front(), "300");
        EXPECT_EQ(pages.back(), "1");
    }
}
