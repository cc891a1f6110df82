// Failures of the platform at chosen points of a job, with the Win32 layer's
// fault injection (Linux build): each failure has the result and the message
// that the hook gives it, and leaves no memory, handle or spool file behind.
#include "jobtest.h"

#include <w32emu.h>

namespace scenarios
{
namespace
{

using spoolsim::JobBuilder;
using spoolsim::Machine;
using spoolsim::ToBytes;
namespace markers = spoolsim::markers;

std::vector<std::string> Texts(const RunResult &r)
{
    std::vector<std::string> texts;
    for (const spoolsim::MessageBoxRecord &b : r.boxes)
    {
        texts.push_back(spoolsim::Narrow(b.text) + "|" + std::to_string(b.style));
    }
    return texts;
}

std::string Box(const char *text, UINT style)
{
    return std::string(text) + "|" + std::to_string(style);
}

class HostFaults : public JobTest
{
  protected:
    void SetUp() override
    {
        JobTest::SetUp();
        m_blocks = W32EmuLiveGlobalBlocks();
        m_handles = W32EmuOpenHandleCount();
    }
    // Arms a fault right before step `step` (the step count: before DrvSplEndDoc).
    void FailAt(size_t step, const char *function, DWORD nth = 1, DWORD error = ERROR_NOT_ENOUGH_MEMORY)
    {
        spooler->beforeStep = [=](size_t i) {
            if (i == step)
            {
                W32EmuFailCall(function, nth, error, 1);
            }
        };
    }
    void ExpectNothingLeft()
    {
        EXPECT_EQ(W32EmuLiveGlobalBlocks(), m_blocks) << "memory blocks left";
        EXPECT_EQ(W32EmuOpenHandleCount(), m_handles) << "handles left";
        EXPECT_EQ(Machine::SpoolFilesLeft(), 0);
    }

  private:
    DWORD m_blocks = 0;
    DWORD m_handles = 0;
};

TEST_F(HostFaults, JobContextThatCannotBeAllocatedRefusesTheJob)
{
    W32EmuFailCall("GlobalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY, 1);
    RunResult r = Run(DocumentJob(Settings(), 1));
    EXPECT_FALSE(r.started);
    EXPECT_TRUE(r.boxes.empty());
    ExpectNothingLeft();
}

Job DeferredJob(size_t cbText)
{
    DRVDEVMODE dm = Settings();
    dm.sDeferText = 1;
    return JobBuilder()
        .Settings(dm)
        .StartPage()
        .Write(markers::DeferStart())
        .Write(Bytes(cbText, 't'))
        .Write(markers::DeferEnd())
        .EndPage()
        .Build();
}

// Step 5 is DrvSplEndPage, where the captured text is replayed.
TEST_F(HostFaults, DeferredReplayFailuresNameTheirStep)
{
    struct Case
    {
        const char *function;
        size_t cbText;
        DWORD nth;
        std::vector<std::string> boxes;
    } cases[] = {
        {"GlobalAlloc", 10, 1, {}},
        {"SetFilePointer", 10, 1, {Box("Failed to SetFilePointer", MB_OK)}},
        {"ReadFile", 8193, 1, {Box("Failed to read file : PRINT_BUF_SIZE", MB_ICONERROR)}},
        {"ReadFile", 8193, 2, {Box("Failed to read file: dwTextfileCount", MB_ICONERROR)}},
        {"ReadFile", 8192, 1, {Box("Failed to read file: dwTextfileCount", MB_ICONERROR)}},
    };
    for (const Case &c : cases)
    {
        FailAt(5, c.function, c.nth);
        RunResult r = Run(DeferredJob(c.cbText));
        EXPECT_EQ(r.endPageResults, std::vector<BOOL>{FALSE}) << c.function << " " << c.nth;
        EXPECT_EQ(Texts(r), c.boxes) << c.function << " " << c.nth;
    }
    spooler->beforeStep = nullptr;
    ExpectNothingLeft();
}

DRVDEVMODE Collated(short copies, short reverse = 0)
{
    DRVDEVMODE dm = Settings();
    dm.sCollate = 1;
    dm.dmPublic.dmCopies = copies;
    dm.sReverseOrder = reverse;
    return dm;
}

TEST_F(HostFaults, OutputRoutineWithoutItsBufferIsReported)
{
    for (short reverse : {0, 1})
    {
        DocumentJob job(Collated(2, reverse), 2);
        Job built = job.Build();
        FailAt(built.steps.size(), "GlobalAlloc");
        RunResult r = Run(built);
        EXPECT_EQ(Texts(r), std::vector<std::string>{Box(
                                reverse ? "Failed to print in reverse order" : "Failed in collation printing", MB_OK)});
        EXPECT_TRUE(r.PrinterDocument(0).data.empty());
    }
    spooler->beforeStep = nullptr;
    ExpectNothingLeft();
}

// A spool file that cannot be read back at the end leaves a gap: the printer
// gets what came before it and nothing after (no page without the header or
// the pages before it), and the routine reports the failure.
TEST_F(HostFaults, SpoolFileThatCannotBeReadBackIsReported)
{
    for (short reverse : {0, 1})
    {
        DocumentJob job(Collated(2, reverse), 3);
        Job built = job.Build();
        spooler->beforeStep = nullptr;
        const Bytes whole = Run(built).PrinterDocument(0).data;
        for (DWORD nth : {1, 2, 3})
        {
            FailAt(built.steps.size(), "ReadFile", nth, ERROR_READ_FAULT);
            RunResult r = Run(built);
            const Bytes &sent = r.PrinterDocument(0).data;
            EXPECT_LT(sent.size(), whole.size()) << reverse << " " << nth;
            EXPECT_TRUE(std::equal(sent.begin(), sent.end(), whole.begin())) << "not a prefix: " << reverse << nth;
            EXPECT_EQ(r.TracesStartingWith(W("QVXLUMPD: spool file read back failed")).size(), 1u);
            EXPECT_EQ(Texts(r),
                      std::vector<std::string>{
                          Box(reverse ? "Failed to print in reverse order" : "Failed in collation printing", MB_OK)});
        }
    }
    spooler->beforeStep = nullptr;
    ExpectNothingLeft();
}

// Without a spool file the job keeps taking its markers, refuses its data,
// and sends nothing at its end.
TEST_F(HostFaults, SpoolFileThatCannotBeCreated)
{
    for (const char *function : {"GetTempFileNameW", "CreateFileW", "GetTempPathW"})
    {
        FailAt(0, function, 1, ERROR_ACCESS_DENIED);
        DocumentJob job(Collated(2), 2);
        RunResult r = Run(job);
        EXPECT_EQ(r.TracesStartingWith(W("Could not create temporary file.")).size(), 1u) << function;
        ASSERT_EQ(r.writes.size(), 9u);
        EXPECT_TRUE(r.writes[0].result) << "the settings block is taken";
        EXPECT_FALSE(r.writes[1].result) << "the header is refused";
        EXPECT_TRUE(r.writes[3].result && r.writes[3].cbWritten == r.writes[3].cbBuf) << "a page start is taken";
        EXPECT_FALSE(r.writes[4].result);
        EXPECT_TRUE(r.PrinterDocument(0).data.empty());
        EXPECT_TRUE(r.boxes.empty());
    }
    spooler->beforeStep = nullptr;
    ExpectNothingLeft();
}

// A buffer that does not reach the spool file whole is refused; the next one
// goes where it would have gone, and the index counts only what is there.
TEST_F(HostFaults, FailedOrShortSpoolWriteIsRolledBack)
{
    for (int kind : {0, 1, 2}) // failed, short and failed, short but "successful"
    {
        DocumentJob job(Collated(1), 2);
        job.pages[0].buffers = {ToBytes("[p1 part a]"), ToBytes("[p1 lost]"), ToBytes("[p1 part b]")};
        Job built = job.Build();
        spooler->beforeStep = [kind](size_t i) {
            if (i == 6) // "[p1 lost]"
            {
                if (kind == 0)
                {
                    W32EmuFailCall("WriteFile", 1, ERROR_DISK_FULL, 1);
                }
                else
                {
                    W32EmuShortWrite(1, 3, kind == 2);
                }
            }
        };
        RunResult r = Run(built);
        ASSERT_EQ(r.writes.size(), 11u);
        EXPECT_FALSE(r.writes[5].result) << kind;
        EXPECT_EQ(r.writes[5].cbWritten, 0u) << kind;
        EXPECT_PARTS(r.PrinterDocument(0).data, {P("header", job.Header()), P("page 1", "[p1 part a][p1 part b]"),
                                                 P("page 2", job.Page(2)), P("trailer", job.trailer)});
        // header 20, page 1 of 22 bytes, page 2 of 8, trailer 9
        EXPECT_EQ(r.TracesStartingWith(W(" pData->file_info.")), IndexTraces(2, 59, {20, 42, 50}));
    }
    spooler->beforeStep = nullptr;
    ExpectNothingLeft();
}

// When even the way back fails, the spool file can no longer be trusted: it
// goes, every later buffer is refused, and nothing is printed.
TEST_F(HostFaults, SpoolFileLostWhenItCannotBeRolledBack)
{
    DocumentJob job(Collated(1), 2);
    Job built = job.Build();
    spooler->beforeStep = [](size_t i) {
        if (i == 4)
        {
            W32EmuFailCall("WriteFile", 1, ERROR_DISK_FULL, 1);
            W32EmuFailCall("SetFilePointer", 1, ERROR_INVALID_HANDLE, 1);
        }
    };
    RunResult r = Run(built);
    EXPECT_FALSE(r.writes[4].result);
    EXPECT_FALSE(r.writes[5].result) << "page 2's start is refused too";
    EXPECT_FALSE(r.writes.back().result);
    EXPECT_TRUE(r.PrinterDocument(0).data.empty());
    EXPECT_EQ(r.TracesStartingWith(W("QVXLUMPD: spool file lost")).size(), 1u);
    spooler->beforeStep = nullptr;
    ExpectNothingLeft();
}

// A capture write that fails is undone by going back to the captured count;
// when even that fails the capture holds bytes it never counted: it goes, the
// rest of the job is refused, and the page end reports the loss instead of
// replaying text with a hole in it.
TEST_F(HostFaults, DeferredTextLostWhenItCannotBeRolledBack)
{
    DRVDEVMODE dm = Settings();
    dm.sDeferText = 1;
    Job job = JobBuilder()
                  .Settings(dm)
                  .StartPage()
                  .Write(markers::DeferStart())
                  .Write("[text 1]")
                  .Write("[text 2]")
                  .Write("[text 3]")
                  .Write(markers::DeferEnd())
                  .Write("[page]")
                  .EndPage()
                  .Build();
    spooler->beforeStep = [](size_t i) {
        if (i == 4)
        {
            W32EmuFailCall("WriteFile", 1, ERROR_DISK_FULL, 1);
            W32EmuFailCall("SetFilePointer", 1, ERROR_INVALID_HANDLE, 1);
        }
    };
    RunResult r = Run(job);
    EXPECT_TRUE(r.writes[2].result) << "text 1 is taken";
    EXPECT_FALSE(r.writes[3].result) << "text 2 fails";
    EXPECT_FALSE(r.writes[4].result) << "and so does what follows";
    EXPECT_FALSE(r.writes[6].result);
    EXPECT_EQ(r.endPageResults, std::vector<BOOL>{FALSE});
    EXPECT_TRUE(r.PrinterDocument(0).data.empty()) << "no page without its text";
    EXPECT_EQ(r.TracesStartingWith(W("QVXLUMPD: deferred text lost")).size(), 1u);
    EXPECT_FALSE(Machine::Exists(spoolsim::DriverFile(W("textout.teq"))));
    spooler->beforeStep = nullptr;
    ExpectNothingLeft();

    // A failed write that can be undone leaves the capture whole: the next
    // text follows what was taken.
    spooler->beforeStep = [](size_t i) {
        if (i == 4)
        {
            W32EmuShortWrite(1, 3, FALSE);
        }
    };
    RunResult undone = Run(job);
    spooler->beforeStep = nullptr;
    EXPECT_FALSE(undone.writes[3].result);
    EXPECT_TRUE(undone.writes[4].result);
    EXPECT_EQ(undone.endPageResults, std::vector<BOOL>{TRUE});
    EXPECT_PARTS(undone.PrinterDocument(0).data,
                 {P("page", "[page]"), P("text 1", "[text 1]"), P("text 3", "[text 3]")});
    ExpectNothingLeft();
}

// Reading the watermark file for a page: each failure has its message, then
// the caller's, and the marker's write fails.
TEST_F(HostFaults, WatermarkReadFailures)
{
    struct Case
    {
        const char *function;
        DWORD nth;
        std::vector<std::string> boxes;
    } cases[] = {
        {"CreateFileW", 1, {Box("Failed to CreateFile", MB_OK)}},
        {"GetFileSize", 1, {Box("Failed to GetFileSize", MB_OK)}},
        {"GlobalAlloc", 1, {Box("failed to allocate memeory", MB_ICONERROR)}},
        {"GlobalAlloc",
         2,
         {Box("failed to allocate memeory", MB_OK), Box("failed to read watermark data", MB_ICONERROR)}},
        {"SetFilePointer",
         1,
         {Box("Failed to SetFilePointer", MB_OK), Box("failed to read watermark data", MB_ICONERROR)}},
        {"ReadFile", 1, {Box("Failed to ReadFile", MB_OK), Box("failed to read watermark data", MB_ICONERROR)}},
    };
    for (const Case &c : cases)
    {
        for (short collate : {0, 1})
        {
            DRVDEVMODE dm = Settings();
            dm.sWatermarkOn = 1;
            dm.sCollate = collate;
            DocumentJob job(dm, 1);
            job.pageMarkers = collate != 0;
            job.pages[0].buffers = {ToBytes("[p]"), ToBytes(markers::kWatermark)};
            Job built = job.Build();
            size_t marker = collate ? 5 : 4;
            FailAt(marker, c.function, c.nth, ERROR_ACCESS_DENIED);
            RunResult r = Run(built);
            EXPECT_FALSE(r.writes[marker].result) << c.function << " " << c.nth;
            EXPECT_EQ(Texts(r), c.boxes) << c.function << " " << c.nth << " collate " << collate;
            EXPECT_PARTS(r.PrinterDocument(0).data, Layout(job, {"H", 1, "T"}));
        }
    }
    spooler->beforeStep = nullptr;
    ExpectNothingLeft();
}

TEST_F(HostFaults, WatermarkPrinterWriteFailure)
{
    DRVDEVMODE dm = Settings();
    dm.sWatermarkOn = 1;
    Job job = JobBuilder().Settings(dm).StartPage().Write(markers::kWatermark).EndPage().Build();
    spooler->printerFault = {4, 1, false, 0}; // PushGS, clip, ROP, then the watermark data
    RunResult r = Run(job);
    EXPECT_FALSE(r.writes[1].result);
    EXPECT_EQ(Texts(r), std::vector<std::string>{Box("failed to WritePrinter in watermark module", MB_ICONERROR)});
    ExpectNothingLeft();
}

TEST_F(HostFaults, TextConversionFailuresAreReported)
{
    // The watermark text: the job goes on without a watermark file.
    DRVDEVMODE dm = Settings();
    dm.sWatermarkOn = 1;
    W32EmuFailCall("MultiByteToWideChar", 2, ERROR_NO_UNICODE_TRANSLATION, 1); // after the user id
    RunResult wm = Run(JobBuilder().Settings(dm).Build());
    EXPECT_EQ(Texts(wm), (std::vector<std::string>{Box("failed to MultiByteToWideChar", MB_OK),
                                                   Box("Failed to makewatermark: WMark", MB_ICONERROR)}));
    EXPECT_TRUE(wm.writes[0].result);
    EXPECT_EQ(spoolsim::LiveGdiObjects(), 0u);
    EXPECT_EQ(spoolsim::LiveDeviceContexts(), 0u);

    // The overlay path for a prompt's caption: the settings block fails.
    DRVDEVMODE ov = Settings();
    ov.sOverlayMode = 1;
    ov.sOverlayQuery = 1;
    std::strcpy(ov.szOverlayFile, "C:\\form.ovl");
    W32EmuFailCall("MultiByteToWideChar", 1, ERROR_NO_UNICODE_TRANSLATION, 1); // the ini has a user id now
    RunResult q = Run(JobBuilder().Settings(ov).Build());
    EXPECT_EQ(Texts(q), std::vector<std::string>{Box("failed to MultiByteToWideChar", MB_OK)});
    EXPECT_FALSE(q.writes[0].result);
    EXPECT_EQ(q.writes[0].cbWritten, 0xDEADBEEFu);
    ExpectNothingLeft();
}

TEST_F(HostFaults, OverlayFileWriteFailureIsReported)
{
    DRVDEVMODE dm = Settings();
    dm.sOverlayMode = 2;
    std::strcpy(dm.szOverlayFile, "C:\\new.ovl");
    Job job = JobBuilder().Settings(dm).StartPage().Write("[o1]").EndPage().Build();
    FailAt(2, "WriteFile", 1, ERROR_DISK_FULL);
    RunResult r = Run(job);
    EXPECT_FALSE(r.writes[1].result);
    ASSERT_EQ(r.boxes.size(), 2u);
    EXPECT_EQ(Texts(r)[1], Box("Failed in Writing Overlay file", MB_ICONERROR));
    spooler->beforeStep = nullptr;
    ExpectNothingLeft();
}

// Without printer information there is no device context for the watermark.
TEST_F(HostFaults, PrinterInformationMissingForTheWatermark)
{
    DRVDEVMODE dm = Settings();
    dm.sWatermarkOn = 1;
    W32EmuFailCall("GetPrinterW", 1, ERROR_INVALID_HANDLE, 1);
    RunResult r = Run(JobBuilder().Settings(dm).Build());
    EXPECT_EQ(Texts(r), (std::vector<std::string>{Box("Failed to createDC in PSUI", MB_OK), Box("6", MB_OK),
                                                  Box("Failed to makewatermark: WMark", MB_ICONERROR)}));
    ExpectNothingLeft();
}

// Page orientations of a booklet job go with the job, also when no booklet
// routine ran to free them.
TEST_F(HostFaults, BookletJobsLeaveNoOrientationListBehind)
{
    for (short mode : {0, 2})
    {
        DRVDEVMODE dm = Settings();
        dm.sBooklet = 1;
        dm.sHardwareBooklet = mode;
        DocumentJob job(dm, 3);
        job.booklet = markers::BookletRecord::Standard(false, false);
        Job aborted = job.Build();
        aborted.endDoc = mode != 0;
        aborted.abort = mode == 0;
        Run(aborted);
        ExpectNothingLeft();
    }
}

// A booklet page whose orientation has no room refuses the job: imposed
// without its origin and rotation it would print wrongly and silently.
TEST_F(HostFaults, BookletPageWithoutRoomForItsOrientationRefusesTheJob)
{
    DRVDEVMODE dm = Settings();
    dm.sBooklet = 1;
    dm.sHardwareBooklet = 2;
    DocumentJob job(dm, 2);
    job.booklet = markers::BookletRecord::Standard(false, false);
    Job built = job.Build();
    FailAt(5, "GlobalAlloc"); // the first page start: the orientation list
    RunResult r = Run(built);
    ASSERT_EQ(r.writes.size(), 10u);
    EXPECT_FALSE(r.writes[4].result);
    EXPECT_EQ(r.writes[4].cbWritten, 0u);
    EXPECT_FALSE(r.writes.back().result);
    EXPECT_TRUE(r.PrinterDocument(0).data.empty());
    EXPECT_EQ(r.TracesStartingWith(W("QVXLUMPD: no room for page orientations")).size(), 1u);
    spooler->beforeStep = nullptr;
    ExpectNothingLeft();
}

// A job record that cannot be read leaves the second document "Untitled".
TEST_F(HostFaults, DocumentNameUnreadable)
{
    DRVDEVMODE dm = Settings();
    dm.sManualDuplex = 1;
    DocumentJob job(dm, 2);
    Job built = job.Build();
    FailAt(built.steps.size(), "GetJobW", 1, ERROR_INVALID_PARAMETER);
    RunResult r = Run(built);
    ASSERT_EQ(r.PrinterDocuments().size(), 2u);
    EXPECT_EQ(r.PrinterDocument(1).name, WString(W("Untitled")));
    spooler->beforeStep = nullptr;
    ExpectNothingLeft();
}

} // namespace
} // namespace scenarios
