// The hook core: job context and lifecycle, the settings block, the three
// modes that send data at once (direct, pass-through, deferred text), and the
// overlay library's load.
#include "jobtest.h"

namespace scenarios
{
namespace
{

using spoolsim::JobBuilder;
using spoolsim::Machine;
using spoolsim::ToBytes;
namespace markers = spoolsim::markers;

const WString kStartDoc = W("QVXLUMPD: DrvSplStartDoc \n");
const WString kWrite = W("QVXLUMPD: DrvSplWritePrinter \n");
const WString kStartPage = W("QVXLUMPD: DrvSplStartPage \n");
const WString kEndPage = W("QVXLUMPD: DrvSplEndPage \n");
const WString kEndDoc = W("QVXLUMPD: DrvSplEndDoc \n");
const WString kAbort = W("QVXLUMPD: DrvSplAbort \n");
const WString kClose = W("QVXLUMPD: DrvSplClose \n");

Bytes Block(const DRVDEVMODE &dm)
{
    const BYTE *pb = reinterpret_cast<const BYTE *>(&dm);
    return Bytes(pb, pb + sizeof(dm));
}

using HookCore = JobTest;

TEST_F(HookCore, JobWithoutFeaturesGoesStraightToThePrinterAndTracesEveryHook)
{
    DocumentJob job(Settings(), 2);
    job.pageMarkers = false;
    RunResult r = Run(job);

    ASSERT_TRUE(r.started);
    ASSERT_EQ(r.PrinterDocuments().size(), 1u);
    EXPECT_PARTS(r.PrinterDocument(0).data, {P("header", job.Header()), P("page 1", job.Page(1)),
                                             P("page 2", job.Page(2)), P("trailer", job.trailer)});
    EXPECT_EQ(r.writes.front().result, TRUE);
    EXPECT_EQ(r.writes.front().cbWritten, 1625u) << "the settings block is reported as taken";
    EXPECT_TRUE(r.AllWritesSucceeded());

    std::vector<WString> expected = {kStartDoc, kWrite,     kWrite, kWrite,   kStartPage, kWrite,
                                     kEndPage,  kStartPage, kWrite, kEndPage, kWrite,     kEndDoc};
    std::vector<WString> index = IndexTraces(0, 0, {0});
    expected.insert(expected.end(), index.begin(), index.end());
    expected.push_back(kClose);
    EXPECT_EQ(r.traces, expected);
    EXPECT_EQ(Machine::SpoolFilesLeft(), 0);
    EXPECT_TRUE(r.boxes.empty());
}

TEST_F(HookCore, DirectPathDropsInsertionMarkersAndPassesMarkerRecordsOn)
{
    Job job = JobBuilder()
                  .Settings(Settings())
                  .Write("[h]")
                  .StartPage()
                  .Write(markers::kWatermark)
                  .Write(markers::kOverlay)
                  .Write(markers::PageStart(1))
                  .Write("TimeToInsertWatermark!") // 22 bytes: data
                  .EndPage()
                  .Build();
    RunResult r = Run(job);

    Bytes record = markers::PageStart(1);
    EXPECT_PARTS(r.PrinterDocument(0).data,
                 {P("header", "[h]"), P("record", record), P("22-byte buffer", "TimeToInsertWatermark!")});
    ASSERT_EQ(r.writes.size(), 6u);
    EXPECT_EQ(r.writes[2].cbWritten, 21u);
    EXPECT_EQ(r.writes[3].cbWritten, 19u);
    EXPECT_TRUE(r.AllWritesSucceeded());
}

TEST_F(HookCore, PassThroughSendsEveryBufferUnchanged)
{
    DRVDEVMODE dm = Settings();
    dm.sPassThrough = 1;
    dm.sCollate = 1; // would spool, but pass-through wins
    dm.sWatermarkOn = 0;
    Job job = JobBuilder()
                  .Settings(dm)
                  .Write("[h]")
                  .Write(markers::kWatermark)
                  .Write(markers::kOverlay)
                  .Write(markers::PageStart(1))
                  .Write(markers::End())
                  .Build();
    RunResult r = Run(job);

    EXPECT_PARTS(r.PrinterDocument(0).data, {P("header", "[h]"), P("watermark marker", markers::kWatermark),
                                             P("overlay marker", markers::kOverlay),
                                             P("page start", markers::PageStart(1)), P("end", markers::End())});
    EXPECT_EQ(Machine::SpoolFilesLeft(), 0);
    EXPECT_TRUE(r.TracesStartingWith(W(" Manual Duplex enabled")).empty()) << "no spool file is made";
}

// Only a first buffer of exactly 1625 bytes is a settings block; others are
// data. A job without settings of its own prints with every feature off,
// never with another job's: the settings of the job before (here pass-through)
// do not carry over, so its markers are taken, not printed.
TEST_F(HookCore, FirstBufferIsSettingsOnlyAtExactly1625Bytes)
{
    DRVDEVMODE passThrough = Settings();
    passThrough.sPassThrough = 1;
    RunResult first = Run(JobBuilder().Settings(passThrough).Write("[a]").Write(markers::kWatermark).Build());
    EXPECT_PARTS(first.PrinterDocument(0).data, {P("data", "[a]"), P("marker as data", markers::kWatermark)});

    for (size_t cb : {1624u, 1626u})
    {
        Bytes notSettings(cb, 'x');
        RunResult r = Run(JobBuilder().Write(notSettings).Write(markers::kWatermark).Write("[b]").Build());
        EXPECT_PARTS(r.PrinterDocument(0).data, {P("first buffer as data", notSettings), P("data", "[b]")}) << cb;
        EXPECT_TRUE(r.AllWritesSucceeded()) << cb;
        EXPECT_TRUE(r.boxes.empty()) << cb;
    }
}

TEST_F(HookCore, RepeatedSettingsBlockIsDataWhileWatermarkIsOff)
{
    DRVDEVMODE dm = Settings();
    DRVDEVMODE landscape = dm;
    landscape.dmPublic.dmOrientation = DMORIENT_LANDSCAPE;
    RunResult r = Run(JobBuilder().Settings(dm).Write("[h]").Settings(landscape).Build());
    EXPECT_PARTS(r.PrinterDocument(0).data, {P("header", "[h]"), P("second block as data", Block(landscape))});
}

TEST_F(HookCore, OverlayLibraryMissingRefusesTheJob)
{
    UseMachine(spoolsim::OverlayLibrary::None);
    RunResult r = Run(DocumentJob(Settings(), 1));
    EXPECT_FALSE(r.started);
    EXPECT_TRUE(r.writes.empty());
    EXPECT_EQ(r.traces, std::vector<WString>{kStartDoc});
    EXPECT_TRUE(r.boxes.empty());
}

TEST_F(HookCore, UserIdIsWrittenOnlyWhenTheIniHasNone)
{
    DRVDEVMODE dm = Settings();
    std::strcpy(dm.szUserID, "alice");

    Run(JobBuilder().Settings(dm).Build());
    EXPECT_EQ(Machine::ReadIniValue("GetUserID", "UserID"), "alice") << "missing ini";

    std::strcpy(dm.szUserID, "bob");
    Run(JobBuilder().Settings(dm).Build());
    EXPECT_EQ(Machine::ReadIniValue("GetUserID", "UserID"), "alice") << "present: left alone";

    Machine::WriteIni("[GetUserID]\nUserID=\n");
    Run(JobBuilder().Settings(dm).Build());
    EXPECT_EQ(Machine::ReadIniValue("GetUserID", "UserID"), "bob") << "empty: taken from the block";
}

// The user identifier field need not end in a NUL: only its 80 bytes count.
TEST_F(HookCore, UserIdWithoutTerminatorIsReadWithinItsField)
{
    DRVDEVMODE dm = Settings();
    std::memset(dm.szUserID, 'u', sizeof(dm.szUserID));
    std::memset(dm.abReserved1487, 'X', sizeof(dm.abReserved1487));
    Run(JobBuilder().Settings(dm).Build());
    EXPECT_EQ(Machine::ReadIniValue("GetUserID", "UserID"), std::string(80, 'u'));
}

TEST_F(HookCore, AbortedJobSendsNothingMoreAndLeavesNoSpoolFile)
{
    DRVDEVMODE dm = Settings();
    dm.sCollate = 1;
    dm.dmPublic.dmCopies = 2;
    DocumentJob document(dm, 2);
    document.end.copies = 2;
    Job job = document.Build();
    job.endDoc = false;
    job.abort = true;
    RunResult r = Run(job);

    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.PrinterDocuments().empty() || r.PrinterDocument(0).data.empty());
    EXPECT_EQ(Machine::SpoolFilesLeft(), 0);
    EXPECT_EQ(r.traces.back(), kClose);
    EXPECT_EQ(r.traces[r.traces.size() - 2], kAbort);
}

// ---- deferred text -----------------------------------------------------------------------

DRVDEVMODE DeferSettings()
{
    DRVDEVMODE dm = Settings();
    dm.sDeferText = 1;
    return dm;
}

TEST_F(HookCore, DeferredTextGoesOutAtTheEndOfThePage)
{
    Job job = JobBuilder()
                  .Settings(DeferSettings())
                  .Write("[h]")
                  .StartPage()
                  .Write("a")
                  .Write(markers::DeferStart())
                  .Write("T1")
                  .Write(markers::kWatermark) // no substitution while deferring
                  .Write(markers::DeferEnd())
                  .Write("b")
                  .EndPage()
                  .StartPage()
                  .Write("c")
                  .EndPage()
                  .Build();
    RunResult r = Run(job);

    EXPECT_PARTS(r.PrinterDocument(0).data, {P("header", "[h]"), P("page 1 text", "a"), P("after capture", "b"),
                                             P("deferred", std::string("T1") + markers::kWatermark), P("page 2", "c")});
    EXPECT_EQ(r.endPageResults, (std::vector<BOOL>{TRUE, TRUE}));
    EXPECT_TRUE(r.AllWritesSucceeded());
    EXPECT_FALSE(Machine::Exists(spoolsim::DriverFile(W("textout.teq")))) << "deleted after its replay";
}

TEST_F(HookCore, DeferredBracketsNeedFourBytes)
{
    Bytes three = {0x1B, 0xFB, 0x0B};
    RunResult r = Run(JobBuilder().Settings(DeferSettings()).StartPage().Write(three).EndPage().Build());
    EXPECT_PARTS(r.PrinterDocument(0).data, {P("three bytes as data", three)});
}

// A second start while capturing, or while a finished capture waits for the
// page end, keeps everything captured, in order, in one replay.
TEST_F(HookCore, SecondDeferredStartOnAPageLosesNothing)
{
    Job job = JobBuilder()
                  .Settings(DeferSettings())
                  .StartPage()
                  .Write(markers::DeferStart())
                  .Write("A")
                  .Write(markers::DeferStart())
                  .Write("B")
                  .Write(markers::DeferEnd())
                  .Write("x")
                  .Write(markers::DeferStart())
                  .Write("C")
                  .Write(markers::DeferEnd())
                  .Write(markers::DeferEnd()) // nothing open: nothing to close
                  .EndPage()
                  .Build();
    RunResult r = Run(job);
    EXPECT_PARTS(r.PrinterDocument(0).data, {P("direct", "x"), P("deferred", "ABC")});
    EXPECT_TRUE(r.AllWritesSucceeded());
}

// 8192 bytes go out through the last-chunk branch, 8193 as a full chunk and
// one byte: a failing printer write names the branch.
TEST_F(HookCore, DeferredReplayChunksAndNamesTheFailingWrite)
{
    struct Case
    {
        size_t cb;
        DWORD failingWrite;
        const char *message;
    } cases[] = {
        {8192, 1, "Failed to write date to the printer: cbSize"},
        {8193, 1, "Failed to write date to the printer : PRINT_BUF_SIZE"},
        {8193, 2, "Failed to write date to the printer: cbSize"},
    };
    for (const Case &c : cases)
    {
        Bytes text(c.cb, 't');
        Job job = JobBuilder()
                      .Settings(DeferSettings())
                      .StartPage()
                      .Write(markers::DeferStart())
                      .Write(text)
                      .Write(markers::DeferEnd())
                      .EndPage()
                      .Build();
        RunResult ok = Run(job);
        EXPECT_PARTS(ok.PrinterDocument(0).data, {P("deferred", text)}) << c.cb;

        spooler->printerFault = {c.failingWrite, 1, false, 0};
        RunResult r = Run(job);
        spooler->printerFault = {};
        ASSERT_EQ(r.boxes.size(), 1u) << c.cb;
        EXPECT_EQ(spoolsim::Narrow(r.boxes[0].text), c.message);
        EXPECT_EQ(r.boxes[0].style, static_cast<UINT>(MB_ICONERROR));
        EXPECT_TRUE(r.boxes[0].captionNull && r.boxes[0].ownerNull);
        EXPECT_EQ(r.endPageResults, std::vector<BOOL>{FALSE});
    }
}

TEST_F(HookCore, DeferredTextFileThatCannotBeCreatedFailsTheStart)
{
    // textout.teq held open without sharing by someone else.
    WString path = spoolsim::DriverFile(W("textout.teq"));
    HANDLE hHeld = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    RunResult r =
        Run(JobBuilder().Settings(DeferSettings()).StartPage().Write(markers::DeferStart()).EndPage().Build());
    CloseHandle(hHeld);

    ASSERT_EQ(r.writes.size(), 2u);
    EXPECT_FALSE(r.writes[1].result);
    EXPECT_EQ(r.writes[1].cbWritten, 0xDEADBEEFu) << "bytes written untouched";
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, WString(W("Could not create temporary file.")));
    EXPECT_EQ(r.boxes[0].style, static_cast<UINT>(MB_OK));
}

// A machine starts without what a run before it left: a folder where the
// hook makes textout.teq, a file where the temporary folder is. (Under Wine
// the machine is the prefix, kept from test to test.)
TEST_F(HookCore, AMachineStartsWithoutWhatTheRunBeforeLeft)
{
    WCHAR szTemp[MAX_PATH];
    const DWORD cch = GetTempPathW(MAX_PATH, szTemp);
    ASSERT_TRUE(cch > 1 && cch < MAX_PATH);
    const WString temp(szTemp, cch - 1);
    ASSERT_TRUE(CreateDirectoryW(spoolsim::DriverFile(W("textout.teq")).c_str(), nullptr));
    ASSERT_TRUE(RemoveDirectoryW(temp.c_str()));
    ASSERT_TRUE(Machine::WriteFileBytes(temp, ToBytes("not a folder")));

    UseMachine();
    const DWORD dwTemp = GetFileAttributesW(temp.c_str());
    EXPECT_TRUE(dwTemp != INVALID_FILE_ATTRIBUTES && (dwTemp & FILE_ATTRIBUTE_DIRECTORY) != 0);
    RunResult r = Run(JobBuilder()
                          .Settings(DeferSettings())
                          .StartPage()
                          .Write(markers::DeferStart())
                          .Write("T")
                          .Write(markers::DeferEnd())
                          .EndPage()
                          .Build());
    EXPECT_TRUE(r.AllWritesSucceeded());
    EXPECT_PARTS(r.PrinterDocument(0).data, {P("deferred", "T")});
}

} // namespace
} // namespace scenarios
