// Booklets: the layout record, the imposition of pages on sheet sides, and
// the two ways of printing them.
#include "jobtest.h"

namespace scenarios
{
namespace
{

using spoolsim::Machine;
using spoolsim::ToBytes;
namespace markers = spoolsim::markers;

DRVDEVMODE Booklet(bool hardware, short direction = 0)
{
    DRVDEVMODE dm = Settings();
    dm.sBooklet = 1;
    if (hardware)
    {
        dm.sHardwareBooklet = 2;
    }
    else
    {
        dm.sManualDuplex = 2;
    }
    dm.sBookletOption = direction;
    return dm;
}

DocumentJob BookletJob(const DRVDEVMODE &dm, int n, bool overlay = false)
{
    DocumentJob job(dm, n);
    job.booklet = markers::BookletRecord::Standard(dm.sHardwareBooklet != 2, overlay);
    return job;
}

// One sheet side: page numbers of its halves (0 for a blank half). Fragments
// are those of the standard record.
struct Side
{
    int first;
    int second;
};

Bytes Str(const char *s)
{
    return ToBytes(s);
}

void Append(Bytes &b, const Bytes &more)
{
    b.insert(b.end(), more.begin(), more.end());
}

Bytes Half(const DocumentJob &job, int p, int half, BYTE bookletOrientation)
{
    Bytes b;
    BYTE o = job.pages[static_cast<size_t>(p - 1)].orientation;
    if (o == 1)
    {
        Append(b, Str(half == 0 ? "{O0}" : "{O1}"));
        if (bookletOrientation == 2)
        {
            Append(b, Str("{R1}"));
        }
    }
    else if (o == 2)
    {
        Append(b, Str(half == 0 ? "{O2}" : "{O3}"));
        if (bookletOrientation == 1)
        {
            Append(b, Str("{R0}"));
        }
    }
    Append(b, Str("{SC}{CM}"));
    Append(b, job.Page(p));
    return b;
}

Part SideBytes(const DocumentJob &job, Side s, bool overlay = false, BYTE bookletOrientation = 1)
{
    Bytes b = Str("{BP}");
    if (overlay && (s.first || s.second))
    {
        Append(b, Str("{X1}{SC}{CM}{X0}\x74"));
    }
    if (s.first)
    {
        Append(b, Half(job, s.first, 0, bookletOrientation));
        b.push_back(0x74);
    }
    if (s.second)
    {
        Append(b, Half(job, s.second, 1, bookletOrientation));
    }
    Append(b, Str("{EP}"));
    return P("side (" + std::to_string(s.first) + ", " + std::to_string(s.second) + ")", b);
}

using BookletPrinting = JobTest;

// Impositions for M = 4 and M = 8 in both reading directions; pages above N
// leave their half blank, and the last side of a copy is followed by an
// empty printer write.
TEST_F(BookletPrinting, PrinterSideImpositionForFourAndEightPages)
{
    struct Case
    {
        int n;
        short direction;
        std::vector<Side> sides;
    } cases[] = {
        {4, 0, {{4, 1}, {2, 3}}},
        {4, 1, {{1, 4}, {3, 2}}},
        {8, 0, {{8, 1}, {2, 7}, {6, 3}, {4, 5}}},
        {8, 1, {{1, 8}, {7, 2}, {3, 6}, {5, 4}}},
        {5, 0, {{0, 1}, {2, 0}, {0, 3}, {4, 5}}},
        {2, 2, {{0, 1}, {2, 0}}}, // a direction without a meaning reads as 0
    };
    for (const Case &c : cases)
    {
        DocumentJob job = BookletJob(Booklet(true, c.direction), c.n);
        RunResult r = Run(job);
        Parts expected = {P("header", job.Header())};
        for (const Side &s : c.sides)
        {
            expected.push_back(SideBytes(job, s));
        }
        expected.push_back(P("trailer", job.trailer));
        EXPECT_PARTS(r.PrinterDocument(0).data, expected) << c.n << " pages, direction " << c.direction;
        const std::vector<DWORD> &writes = r.PrinterDocument(0).writes;
        EXPECT_EQ(std::count(writes.begin(), writes.end(), 0u), 1) << c.n << " pages: one empty write";
        EXPECT_EQ(writes[writes.size() - 2], 0u) << "right before the trailer";
    }
}

TEST_F(BookletPrinting, PrinterSideOnePageHasOneSideAndNoEmptyWrite)
{
    DocumentJob job = BookletJob(Booklet(true), 1);
    RunResult r = Run(job);
    EXPECT_PARTS(r.PrinterDocument(0).data,
                 {P("header", job.Header()), SideBytes(job, {0, 1}), P("trailer", job.trailer)});
    const std::vector<DWORD> &writes = r.PrinterDocument(0).writes;
    EXPECT_EQ(std::count(writes.begin(), writes.end(), 0u), 0);
}

TEST_F(BookletPrinting, PrinterSideCopiesRepeatTheSidesBetweenOneHeaderAndTrailer)
{
    DRVDEVMODE dm = Booklet(true);
    dm.sCollate = 1;
    dm.dmPublic.dmCopies = 3;
    DocumentJob job = BookletJob(dm, 2);
    RunResult r = Run(job);
    Parts expected = {P("header", job.Header())};
    for (int c = 0; c < 3; c++)
    {
        expected.push_back(SideBytes(job, {0, 1}));
        expected.push_back(SideBytes(job, {2, 0}));
    }
    expected.push_back(P("trailer", job.trailer));
    EXPECT_PARTS(r.PrinterDocument(0).data, expected);
    const std::vector<DWORD> &writes = r.PrinterDocument(0).writes;
    EXPECT_EQ(std::count(writes.begin(), writes.end(), 0u), 3);
}

TEST_F(BookletPrinting, SoftwareBookletOfOneAndTwoPages)
{
    for (short direction : {0, 1})
    {
        DocumentJob one = BookletJob(Booklet(false, direction), 1);
        RunResult r1 = Run(one);
        ASSERT_EQ(r1.PrinterDocuments().size(), 1u);
        EXPECT_TRUE(r1.boxes.empty());
        EXPECT_PARTS(r1.PrinterDocument(0).data,
                     {P("header", one.Header()), P("lead-in 1", "<B1>"),
                      SideBytes(one, direction ? Side{1, 0} : Side{0, 1}), P("trailer", one.trailer)});
    }

    DocumentJob two = BookletJob(Booklet(false), 2);
    RunResult r2 = Run(two);
    ASSERT_EQ(r2.PrinterDocuments().size(), 2u);
    EXPECT_PARTS(r2.PrinterDocument(0).data, {P("header", two.Header()), P("lead-in 1", "<B1>"), SideBytes(two, {2, 0}),
                                              P("trailer", two.trailer)});
    EXPECT_PARTS(r2.PrinterDocument(1).data, {P("header", two.Header()), P("lead-in 2", "<B2>"), SideBytes(two, {0, 1}),
                                              P("trailer", two.trailer)});
    ASSERT_EQ(r2.boxes.size(), 1u);
    EXPECT_EQ(r2.boxes[0].caption, WString(W("Manual Duplex")));
}

// The instruction page opens the first pass whatever the page count: a
// booklet of one page gets it too.
TEST_F(BookletPrinting, SoftwareBookletPrintsTheInstructionPageForEveryPageCount)
{
    Machine::WriteIni("[DUPLEX]\nINSTRUCT_PORT=\\instruct.prn\n");
    Machine::WriteFileBytes(spoolsim::DriverFile(W("instruct.prn")), ToBytes("<INSTRUCTIONS>"));
    DRVDEVMODE dm = Booklet(false);
    dm.sInstructionPage = 1;

    DocumentJob one = BookletJob(dm, 1);
    RunResult r1 = Run(one);
    ASSERT_EQ(r1.PrinterDocuments().size(), 1u);
    EXPECT_PARTS(r1.PrinterDocument(0).data,
                 {P("header", one.Header()), P("instruction page", "<INSTRUCTIONS>"), P("lead-in 1", "<B1>"),
                  SideBytes(one, {0, 1}), P("trailer", one.trailer)});

    DocumentJob two = BookletJob(dm, 2);
    RunResult r2 = Run(two);
    ASSERT_EQ(r2.PrinterDocuments().size(), 2u);
    EXPECT_PARTS(r2.PrinterDocument(0).data,
                 {P("header", two.Header()), P("instruction page", "<INSTRUCTIONS>"), P("lead-in 1", "<B1>"),
                  SideBytes(two, {2, 0}), P("trailer", two.trailer)});
    EXPECT_PARTS(r2.PrinterDocument(1).data,
                 {P("header", two.Header()), P("lead-in 2", "<B2>"), SideBytes(two, {0, 1}), P("trailer", two.trailer)})
        << "only the first pass";
}

TEST_F(BookletPrinting, OverlayBlockOncePerSideThatHasAPage)
{
    DRVDEVMODE dm = Booklet(true);
    dm.sOverlayMode = 1;
    DocumentJob job = BookletJob(dm, 2, true);
    RunResult r = Run(job);
    EXPECT_PARTS(r.PrinterDocument(0).data, {P("header", job.Header()), SideBytes(job, {0, 1}, true),
                                             SideBytes(job, {2, 0}, true), P("trailer", job.trailer)});
}

TEST_F(BookletPrinting, OriginsAndRotationsFollowPageAndBookletOrientation)
{
    for (BYTE bookletOrientation : {1, 2})
    {
        DocumentJob job = BookletJob(Booklet(true), 4);
        job.booklet->orientation = bookletOrientation;
        job.pages[0].orientation = 2; // landscape
        job.pages[2].orientation = 2;
        job.pages[3].orientation = 7; // unknown: no origin, no rotation
        RunResult r = Run(job);
        EXPECT_PARTS(r.PrinterDocument(0).data,
                     {P("header", job.Header()), SideBytes(job, {4, 1}, false, bookletOrientation),
                      SideBytes(job, {2, 3}, false, bookletOrientation), P("trailer", job.trailer)})
            << "booklet orientation " << int(bookletOrientation);
    }
}

TEST_F(BookletPrinting, EndMarkerReplacesTheEndPageFragment)
{
    DocumentJob job = BookletJob(Booklet(true), 1);
    job.end.bookletEnd = std::make_pair(BYTE(9), ToBytes("{E2}"));
    RunResult r = Run(job);
    Bytes side = SideBytes(job, {0, 1}).bytes;
    side.resize(side.size() - 4);
    Append(side, Str("{E2}"));
    EXPECT_PARTS(r.PrinterDocument(0).data, {P("header", job.Header()), P("side", side), P("trailer", job.trailer)});
    EXPECT_EQ(r.TracesStartingWith(W("EndPage : index = 9, size = 4 \r\n")).size(), 1u);
}

// An end-page fragment too long for its slot is refused whole; a page-start
// marker without its orientation byte gives a page of unknown orientation.
TEST_F(BookletPrinting, EndMarkerFragmentAndPageStartAreBounded)
{
    DocumentJob job = BookletJob(Booklet(true), 1);
    job.end.bookletEnd = std::make_pair(BYTE(9), Bytes(32, 'e'));
    Job built = job.Build();
    for (spoolsim::Step &step : built.steps)
    {
        if (step.data == markers::PageStart(1))
        {
            step.data.resize(4);
        }
    }
    RunResult r = Run(built);
    EXPECT_TRUE(r.AllWritesSucceeded());
    Bytes side = Str("{BP}{SC}{CM}");
    Append(side, job.Page(1));
    Append(side, Str("{EP}"));
    EXPECT_PARTS(r.PrinterDocument(0).data, {P("header", job.Header()), P("side", side), P("trailer", job.trailer)});
    EXPECT_EQ(r.TracesStartingWith(W("QVXLUMPD: end-page fragment of 32 bytes refused")).size(), 1u);
}

TEST_F(BookletPrinting, RecordItemsAreTracedByPlace)
{
    DocumentJob job = BookletJob(Booklet(true), 1);
    RunResult r = Run(job);
    const char *labels[] = {"BeginPage",        "EndPage",          "SetPageOrigin[0]", "SetPageOrigin[1]",
                            "SetPageOrigin[2]", "SetPageOrigin[3]", "SetPageRotation",  "SetPageRotation",
                            "SetPageScale",     "SetClipMode",      "BorderData"};
    std::vector<WString> expected = {W(".... Booklet Enabled ...\r\n")};
    for (int i = 0; i < 11; i++)
    {
        expected.push_back(
            spoolsim::Widen(std::string(labels[i]) + " : index = " + std::to_string(i + 1) + ", size = 4 \r\n"));
    }
    expected.push_back(W("BorderData : index = 12, size = 1 \r\n"));
    std::vector<WString> found;
    bool in = false;
    for (const WString &t : r.traces)
    {
        in = in || t == expected[0];
        if (in && found.size() < expected.size())
        {
            found.push_back(t);
        }
    }
    EXPECT_EQ(found, expected);
}

// A record the hook cannot keep whole is refused: its write fails and the
// booklet keeps what it had (here nothing: a fresh library).
TEST_F(BookletPrinting, RecordsThatDoNotFitAreRefused)
{
    struct Case
    {
        const char *name;
        bool hardware;
        std::function<Bytes(markers::BookletRecord)> make;
    } cases[] = {
        {"32-byte fragment", true,
         [](markers::BookletRecord r) {
             r.items[4].data = Bytes(32, 'o');
             return markers::Booklet(r);
         }},
        {"software page start of 7 bytes", false,
         [](markers::BookletRecord r) {
             r.items[0].data = Bytes(7, 'b');
             return markers::Booklet(r);
         }},
        {"software page start of 40 bytes", false,
         [](markers::BookletRecord r) {
             r.items[0].data = Bytes(40, 'b');
             return markers::Booklet(r);
         }},
        {"items past the end", true,
         [](markers::BookletRecord r) {
             Bytes b = markers::Booklet(r);
             b.resize(b.size() - 3);
             return b;
         }},
        {"no orientation pair", true,
         [](markers::BookletRecord r) {
             Bytes b = markers::Booklet(r);
             b.resize(b.size() - 1);
             return b;
         }},
    };
    for (const Case &c : cases)
    {
        DocumentJob job(Booklet(c.hardware), 1);
        Job built = job.Build();
        built.steps.insert(
            built.steps.begin() + 3,
            spoolsim::Step{spoolsim::StepKind::Write, c.make(markers::BookletRecord::Standard(!c.hardware, false))});
        RunResult r = Run(built);
        ASSERT_EQ(r.writes.size(), 8u) << c.name;
        EXPECT_FALSE(r.writes[3].result) << c.name;
        EXPECT_EQ(r.writes[3].cbWritten, 0u) << c.name;
        EXPECT_EQ(r.TracesStartingWith(W("QVXLUMPD: booklet record refused")).size(), 1u) << c.name;
    }
}

// Items are found at their real place also beyond the record's 256th byte.
TEST_F(BookletPrinting, LongRecordIsReadWhereItsItemsAre)
{
    DocumentJob job(Booklet(true), 1);
    markers::BookletRecord record = markers::BookletRecord::Standard(false, false);
    for (size_t i = 0; i < record.items.size(); i++)
    {
        record.items[i].data = Bytes(31, static_cast<BYTE>('A' + i));
    }
    job.booklet = record;
    RunResult r = Run(job);
    ASSERT_TRUE(r.AllWritesSucceeded());
    Bytes side;
    Append(side, Bytes(31, 'A')); // BeginPage
    Append(side, Bytes(31, 'D')); // SetPageOrigin[1]
    Append(side, Bytes(31, 'I')); // SetPageScale
    Append(side, Bytes(31, 'J')); // SetClipMode
    Append(side, job.Page(1));
    Append(side, Bytes(31, 'B')); // EndPage
    EXPECT_PARTS(r.PrinterDocument(0).data, {P("header", job.Header()), P("side", side), P("trailer", job.trailer)});
}

// Orientations are recorded from the booklet record on; earlier pages of the
// job read as unknown, never as another job's.
TEST_F(BookletPrinting, RecordAfterTheFirstPagesLeavesThemWithoutOrientation)
{
    // An earlier booklet job leaves nothing behind that this one could read.
    DocumentJob earlier = BookletJob(Booklet(true), 2);
    earlier.pages[0].orientation = 2;
    Run(earlier);

    DRVDEVMODE dm = Settings();
    dm.sHardwareBooklet = 2;
    dm.sCollate = 1; // spooled, booklet only from its record
    DocumentJob job(dm, 2);
    job.pages[0].orientation = 2;
    job.pages[1].orientation = 2;
    Job built = job.Build();
    // The record after page 1's start marker and data.
    size_t afterPage1 = 0;
    for (size_t i = 0, pagesSeen = 0; i < built.steps.size(); i++)
    {
        if (built.steps[i].kind == spoolsim::StepKind::EndPage && ++pagesSeen == 1)
        {
            afterPage1 = i + 1;
        }
    }
    built.steps.insert(
        built.steps.begin() + static_cast<long>(afterPage1),
        spoolsim::Step{spoolsim::StepKind::Write, markers::Booklet(markers::BookletRecord::Standard(false, false))});
    RunResult r = Run(built);
    ASSERT_TRUE(r.AllWritesSucceeded());
    Bytes side2 = Str("{BP}{O2}{R0}{SC}{CM}");
    Append(side2, job.Page(2));
    side2.push_back(0x74);
    Append(side2, Str("{EP}"));
    Bytes side1 = Str("{BP}{SC}{CM}"); // page 1 came before the record
    Append(side1, job.Page(1));
    Append(side1, Str("{EP}"));
    EXPECT_PARTS(r.PrinterDocument(0).data,
                 {P("header", job.Header()), P("side 1", side1), P("side 2", side2), P("trailer", job.trailer)});
}

TEST_F(BookletPrinting, WithoutAPrintingModeNothingIsSent)
{
    DRVDEVMODE dm = Settings();
    dm.sBooklet = 1;
    DocumentJob job = BookletJob(dm, 4);
    RunResult r = Run(job);
    EXPECT_TRUE(r.PrinterDocument(0).data.empty());
    EXPECT_EQ(Machine::SpoolFilesLeft(), 0);
}

TEST_F(BookletPrinting, JobWithoutPagesSendsItsDataOnce)
{
    for (bool hardware : {true, false})
    {
        DocumentJob job = BookletJob(Booklet(hardware), 0);
        RunResult r = Run(job);
        ASSERT_EQ(r.PrinterDocuments().size(), 1u);
        EXPECT_PARTS(r.PrinterDocument(0).data, Layout(job, {"H", "T"}));
        EXPECT_TRUE(r.boxes.empty());
    }
}

} // namespace
} // namespace scenarios
