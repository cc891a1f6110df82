// The spool file and its page index: marker records, text markers, the
// limits of the index and of the fields, and the copy to the printer.
#include "jobtest.h"

namespace scenarios
{
namespace
{

using spoolsim::JobBuilder;
using spoolsim::Machine;
using spoolsim::ToBytes;
namespace markers = spoolsim::markers;

DRVDEVMODE Collated(short copies)
{
    DRVDEVMODE dm = Settings();
    dm.sCollate = 1;
    dm.dmPublic.dmCopies = copies;
    return dm;
}

std::vector<WString> EndDocIndex(const RunResult &r)
{
    std::vector<WString> found;
    for (const WString &t : r.traces)
    {
        if (t.rfind(W(" pData->file_info."), 0) == 0)
        {
            found.push_back(t);
        }
    }
    return found;
}

using Spooling = JobTest;

TEST_F(Spooling, ThreePagesGiveFourIndexEntriesAndTheTrailer)
{
    DocumentJob job(Collated(1), 3);
    RunResult r = Run(job);
    // header 12 + lead-ins 8, three pages of 8, trailer 9
    EXPECT_EQ(EndDocIndex(r), IndexTraces(3, 53, {20, 28, 36, 44}));
    EXPECT_PARTS(r.PrinterDocument(0).data, Layout(job, {"H", 1, 2, 3, "T"}));
    EXPECT_EQ(r.TracesStartingWith(W(" Manual Duplex enabled...\n")).size(), 1u);
    EXPECT_EQ(r.TracesStartingWith(W("  --- Temp File created ...\n")).size(), 1u);
    EXPECT_EQ(Machine::SpoolFilesLeft(), 0) << "deleted at close";
}

TEST_F(Spooling, LaterEndMarkerMovesTheTrailerAndStartAfterEndRewritesIt)
{
    Job job = JobBuilder()
                  .Settings(Collated(1))
                  .Write("[hdr]<L1><L2>")
                  .Write(markers::PageStart(1))
                  .Write("[p1]")
                  .Write(markers::EndCopies(1))
                  .Write(markers::PageStart(1)) // right after the end marker: same offset again
                  .Write("[p2]")
                  .Write(markers::EndCopies(1))
                  .Write("[x]")
                  .Write(markers::EndCopies(1)) // the later one wins
                  .Write("[t]")
                  .Build();
    RunResult r = Run(job);
    EXPECT_EQ(EndDocIndex(r), IndexTraces(2, 27, {13, 17, 24}));
    EXPECT_PARTS(r.PrinterDocument(0).data,
                 {P("header", "[hdr]<L1><L2>"), P("page 1", "[p1]"), P("page 2", "[p2][x]"), P("trailer", "[t]")});
}

TEST_F(Spooling, MarkerRecordsAndTextMarkersAreConsumed)
{
    DRVDEVMODE dm = Collated(1);
    dm.sWatermarkOn = 0;
    Job job = JobBuilder()
                  .Settings(dm)
                  .Write("[h]<L1><L2>")
                  .StartPage()
                  .Write(markers::PageStart(1))
                  .Write(markers::Raw(0x42, ToBytes("junk"))) // unlisted code
                  .Write(markers::Raw(0xBB))                  // copy position
                  .Write(markers::kOverlay)                   // overlay mode 0
                  .Write(markers::kWatermark)                 // watermark off
                  .Write("TimeToInsertOverla_")               // 19 bytes of data
                  .Write("TimeToInsertWatermar_")             // 21 bytes of data
                  .EndPage()
                  .Write(markers::EndCopies(1))
                  .Build();
    RunResult r = Run(job);
    EXPECT_PARTS(r.PrinterDocument(0).data,
                 {P("header", "[h]<L1><L2>"), P("page", "TimeToInsertOverla_TimeToInsertWatermar_")});
    EXPECT_TRUE(r.AllWritesSucceeded());
    EXPECT_EQ(r.writes[5].cbWritten, 19u);
    EXPECT_EQ(r.writes[6].cbWritten, 21u);
}

TEST_F(Spooling, CopiesToThePrinterInChunksOfThePrintBuffer)
{
    for (size_t cb : {8192u, 8193u, 20000u})
    {
        DocumentJob job(Collated(1), 1);
        job.pages[0].size = cb;
        RunResult r = Run(job);
        EXPECT_PARTS(r.PrinterDocument(0).data, Layout(job, {"H", 1, "T"}));
        std::vector<DWORD> expected = {20};
        for (size_t left = cb; left > 0; left -= std::min<size_t>(left, 8192))
        {
            expected.push_back(static_cast<DWORD>(std::min<size_t>(left, 8192)));
        }
        expected.push_back(9);
        EXPECT_EQ(r.PrinterDocument(0).writes, expected) << cb;
    }
}

// A job that recorded no page start has nothing to reorder: its spooled
// bytes go out once.
TEST_F(Spooling, JobWithoutPagesSendsItsDataOnce)
{
    for (short reverse : {0, 1})
    {
        DRVDEVMODE dm = Collated(3);
        dm.sReverseOrder = reverse;
        RunResult r = Run(JobBuilder().Settings(dm).Write("[h]").Write(markers::EndCopies(3)).Write("[t]").Build());
        EXPECT_PARTS(r.PrinterDocument(0).data, {P("everything", "[h][t]")}) << reverse;
    }
}

TEST_F(Spooling, PageWithoutEndMarkerRunsToTheEnd)
{
    DRVDEVMODE dm = Collated(1);
    dm.sReverseOrder = 1;
    Job job = JobBuilder()
                  .Settings(dm)
                  .Write("[h]<L1><L2>")
                  .Write(markers::PageStart(1))
                  .Write("[p1]")
                  .Write(markers::PageStart(1))
                  .Write("[p2]")
                  .Build();
    RunResult r = Run(job);
    EXPECT_PARTS(r.PrinterDocument(0).data,
                 {P("header", "[h]"), P("lead-in 2", "<L2>"), P("page 2", "[p2]"), P("page 1", "[p1]")});
}

// The index holds 1999 pages; the 2000th page start refuses the job rather
// than writing past the index or printing a reordered part of it.
TEST_F(Spooling, TheTwoThousandthPageRefusesTheJob)
{
    JobBuilder b;
    b.Settings(Collated(1)).Write("[h]<L1><L2>");
    for (int k = 1; k <= 2000; k++)
    {
        b.Write(markers::PageStart(1)).Write("p");
    }
    b.Write(markers::EndCopies(1)).Write("[t]");
    RunResult r = Run(b.Build());

    // settings, header, then a start marker and a data buffer per page
    ASSERT_EQ(r.writes.size(), 4004u);
    EXPECT_TRUE(r.writes[2 + 2 * 1998].result && r.writes[3 + 2 * 1998].result) << "page 1999 is taken";
    EXPECT_FALSE(r.writes[2 + 2 * 1999].result) << "the 2000th start is refused";
    EXPECT_EQ(r.writes[2 + 2 * 1999].cbWritten, 0u);
    EXPECT_FALSE(r.writes.back().result) << "and everything after it";
    EXPECT_TRUE(r.PrinterDocument(0).data.empty());
    EXPECT_EQ(Machine::SpoolFilesLeft(), 0);
}

// Fields of the end marker are read only as far as the buffer holds them; a
// copy command or end-page fragment too long for its room is refused whole.
TEST_F(Spooling, EndMarkerFieldsAreBoundedByBufferAndRoom)
{
    DRVDEVMODE dm = Collated(2);
    dm.sCopyCommand = 1;
    Bytes cmd199(199, 'c');
    Bytes cmd200(200, 'C');

    // A 199-byte command is kept and sent at the copy position.
    {
        DocumentJob job(dm, 1);
        job.copyPosAt = 4;
        job.end.copies = 3;
        job.end.copyCommand = cmd199;
        RunResult r = Run(job);
        EXPECT_PARTS(r.PrinterDocument(0).data,
                     {P("header to copy position", job.HeaderUpTo(4)), P("copy command", cmd199),
                      P("rest of header", job.HeaderFrom(4)), P("lead-ins", "<L1><L2>"), P("page", job.Page(1)),
                      P("trailer", job.trailer)});
    }
    // 200 bytes do not fit: no command, so the hook makes the three copies
    // that were asked for, and says why.
    {
        DocumentJob job(dm, 2);
        job.copyPosAt = 4;
        job.end.copies = 3;
        job.end.copyCommand = cmd200;
        RunResult r = Run(job);
        EXPECT_PARTS(r.PrinterDocument(0).data, Layout(job, {"H", 1, 2, 1, 2, 1, 2, "T"}));
        EXPECT_TRUE(r.AllWritesSucceeded());
        EXPECT_EQ(
            r.TracesStartingWith(W("QVXLUMPD: copy command of 200 bytes refused, the hook makes the copies")).size(),
            1u);
    }
    // An end marker that ends before its command: the hook makes the copies.
    {
        DocumentJob job(dm, 2);
        job.end.copies = 3;
        RunResult r = Run(job);
        EXPECT_PARTS(r.PrinterDocument(0).data, Layout(job, {"H", 1, 2, 1, 2, 1, 2, "T"}));
        EXPECT_EQ(r.TracesStartingWith(W("QVXLUMPD: no copy command received, the hook makes the copies")).size(), 1u);
    }
    // An end marker that stops inside its copies field changes nothing.
    {
        DocumentJob job(Collated(2), 1);
        job.pageMarkers = true;
        Job built = job.Build();
        built.steps[built.steps.size() - 2].data = markers::Raw(0xFF, {5}); // one byte of two
        RunResult r = Run(built);
        EXPECT_PARTS(r.PrinterDocument(0).data, Layout(job, {"H", 1, 1, "T"})) << "dmCopies stays 2";
    }
}

// A page that starts the spooled data and is never ended is a page, not the
// trailer: a collated job prints it once per copy.
TEST_F(Spooling, OnlyPageAtOffsetZeroWithoutEndMarkerIsAPage)
{
    Job job =
        JobBuilder().Settings(Collated(3)).StartPage().Write(markers::PageStart(1)).Write("[p1]").EndPage().Build();
    RunResult r = Run(job);
    EXPECT_PARTS(r.PrinterDocument(0).data, {P("copy 1", "[p1]"), P("copy 2", "[p1]"), P("copy 3", "[p1]")});
    EXPECT_EQ(r.TracesStartingWith(W(" pData->file_info.dwPage[1] = 0 ")).size(), 1u) << "as the index stood";
}

TEST_F(Spooling, ShortHeaderHasNoLeadInsAndCopyPositionIsKeptInsideTheHeader)
{
    DRVDEVMODE dm = Collated(2);
    dm.sReverseOrder = 1;
    Job job = JobBuilder()
                  .Settings(dm)
                  .Write("[h]")
                  .Write(markers::PageStart(1))
                  .Write("[p1]")
                  .Write(markers::PageStart(1))
                  .Write("[p2]")
                  .Write(markers::EndCopies(2))
                  .Build();
    RunResult r = Run(job);
    // Three header bytes hold no lead-ins: the header goes whole, none is written.
    EXPECT_PARTS(r.PrinterDocument(0).data,
                 {P("header", "[h]"), P("p2", "[p2]"), P("p1", "[p1]"), P("p2", "[p2]"), P("p1", "[p1]")});

    dm.sCopyCommand = 1;
    DocumentJob late(dm, 1);
    late.end.copies = 2;
    late.end.copyCommand = ToBytes("{2X}");
    Job built = late.Build();
    // The copy position arrives after the lead-ins, beyond the header's end.
    built.steps.insert(built.steps.begin() + 3, spoolsim::Step{spoolsim::StepKind::Write, markers::CopyPos()});
    RunResult r2 = Run(built);
    EXPECT_PARTS(r2.PrinterDocument(0).data,
                 {P("header", late.ShortHeader()), P("copy command", "{2X}"), P("lead-in 1", "<L1>"),
                  P("page", late.Page(1)), P("trailer", late.trailer)});
}

} // namespace
} // namespace scenarios
