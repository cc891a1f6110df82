// Page overlays: creation from a job's first page, and printing with an
// overlay that the overlay library supplies, on the direct path and spooled.
#include "jobtest.h"

#include <cstdio>

namespace scenarios
{
namespace
{

using spoolsim::JobBuilder;
using spoolsim::Machine;
using spoolsim::OverlayLibrary;
using spoolsim::ToBytes;
namespace markers = spoolsim::markers;

const UINT kQuestion = MB_OKCANCEL | MB_ICONQUESTION | MB_SYSTEMMODAL;
const char kHeader60[] = "HP-PCL XL;2;0;Comment page overlay embedded by the spoolhook";

std::string OverlayPath(const char *name)
{
    return spoolsim::Narrow(spoolsim::DriverFile(spoolsim::Widen(name)));
}

DRVDEVMODE WithOverlay(short mode, const std::string &path)
{
    DRVDEVMODE dm = Settings();
    dm.sOverlayMode = mode;
    std::snprintf(dm.szOverlayFile, sizeof(dm.szOverlayFile), "%s", path.c_str());
    return dm;
}

Bytes Embedding(const Bytes &data)
{
    DWORD n = static_cast<DWORD>(data.size() + 63);
    Bytes b = {0xC2, BYTE(n), BYTE(n >> 8), BYTE(n >> 16), BYTE(n >> 24), 0xF8, 0x8C, 0x5C,
               0xFA, BYTE(n), BYTE(n >> 8), BYTE(n >> 16), BYTE(n >> 24), 0x29, 0x20};
    Bytes tail(std::begin(kHeader60), std::end(kHeader60) - 1);
    tail.push_back(0x0A);
    tail.insert(tail.end(), data.begin(), data.end());
    Bytes out(b.size() + tail.size());
    std::copy(b.begin(), b.end(), out.begin());
    std::copy(tail.begin(), tail.end(), out.begin() + static_cast<long>(b.size()));
    return out;
}

Bytes Hundred()
{
    Bytes data(100);
    for (size_t i = 0; i < data.size(); i++)
    {
        data[i] = static_cast<BYTE>(i * 7);
    }
    return data;
}

using Overlay = JobTest;

// n = 100: N = 163, 176 bytes in all.
TEST_F(Overlay, EmbeddingOfAHundredBytesOnTheDirectPath)
{
    std::string path = OverlayPath("form.ovl");
    Machine::WriteFileBytes(spoolsim::Widen(path), Hundred());
    Job job =
        JobBuilder().Settings(WithOverlay(1, path)).StartPage().Write("[p]").Write(markers::kOverlay).EndPage().Build();
    RunResult r = Run(job);
    Bytes e = Embedding(Hundred());
    ASSERT_EQ(e.size(), 176u);
    EXPECT_EQ(e[1], 0xA3);
    EXPECT_EQ(e[9], 0xA3);
    EXPECT_PARTS(r.PrinterDocument(0).data, {P("page", "[p]"), P("overlay", e)});
    EXPECT_EQ(r.PrinterDocument(0).writes, (std::vector<DWORD>{3, 1, 8, 4, 2, 60, 1, 100}));
    EXPECT_EQ(r.writes[2].cbWritten, 19u);
}

TEST_F(Overlay, EmbeddingInTheSpoolFileGrowsTheIndexByNPlusThirteen)
{
    std::string path = OverlayPath("form.ovl");
    Machine::WriteFileBytes(spoolsim::Widen(path), Hundred());
    DRVDEVMODE dm = WithOverlay(1, path);
    dm.sCollate = 1;
    dm.dmPublic.dmCopies = 2;
    DocumentJob job(dm, 1);
    job.pages[0].buffers = {ToBytes("[p]"), ToBytes(markers::kOverlay)};
    RunResult r = Run(job);
    Bytes page = ToBytes("[p]");
    Bytes e = Embedding(Hundred());
    page.insert(page.end(), e.begin(), e.end());
    EXPECT_PARTS(r.PrinterDocument(0).data,
                 {P("header", job.Header()), P("page", page), P("page", page), P("trailer", job.trailer)});
    std::vector<WString> index = IndexTraces(1, 20 + 3 + 176 + 9, {20, 20 + 3 + 176});
    EXPECT_EQ(r.TracesStartingWith(W(" pData->file_info.")), index);
}

TEST_F(Overlay, MarkersWithoutAnOverlayToPrintAreDropped)
{
    for (short reverse : {0, 1})
    {
        DRVDEVMODE dm = Settings();
        dm.sReverseOrder = reverse;
        DocumentJob job(dm, 1);
        job.pageMarkers = reverse != 0;
        job.pages[0].buffers = {ToBytes("[p]"), ToBytes(markers::kOverlay)};
        RunResult r = Run(job);
        EXPECT_PARTS(r.PrinterDocument(0).data,
                     Layout(job, reverse ? std::vector<Item>{"h", "L1", 1, "T"} : std::vector<Item>{"H", 1, "T"}));
        EXPECT_TRUE(r.AllWritesSucceeded());
    }
}

class OverlayCreation : public JobTest
{
  protected:
    DocumentJob CreationJob(int pages, bool watermark = false)
    {
        DRVDEVMODE dm = WithOverlay(2, OverlayPath("new.ovl"));
        dm.sWatermarkOn = watermark ? 1 : 0;
        dm.sCollate = 1; // a creation job keeps no spool file all the same
        DocumentJob job(dm, pages);
        job.pageMarkers = false; // marker records would be page data here
        job.pages[0].buffers = {ToBytes("[o1]"), ToBytes(markers::kWatermark), ToBytes(markers::kOverlay),
                                ToBytes("[o2]")};
        return job;
    }
    Bytes OverlayFile()
    {
        return Machine::ReadFileBytes(spoolsim::Widen(OverlayPath("new.ovl"))).value_or(Bytes{'?'});
    }
};

TEST_F(OverlayCreation, FirstPageGoesToTheOverlayFileAndNothingToThePrinter)
{
    RunResult r = Run(CreationJob(3));
    Bytes expected = ToBytes(std::string("[o1]") + markers::kOverlay + "[o2]");
    EXPECT_EQ(OverlayFile(), expected);
    EXPECT_TRUE(r.PrinterDocument(0).data.empty());
    EXPECT_TRUE(r.AllWritesSucceeded());
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, WString(W("Create Page Overlay ?")));
    EXPECT_EQ(spoolsim::Narrow(r.boxes[0].caption), OverlayPath("new.ovl"));
    EXPECT_EQ(r.boxes[0].style, kQuestion);
    EXPECT_EQ(Machine::ReadIniValue("Overlay Data", "Overlay Message"), "1");
    EXPECT_EQ(Machine::SpoolFilesLeft(), 0);
}

TEST_F(OverlayCreation, WatermarkBodyWithoutPushAndPop)
{
    RunResult r = Run(CreationJob(2, true));
    Bytes watermark = Machine::ReadFileBytes(spoolsim::DriverFile(W("qvpcl6.wmk"))).value_or(Bytes());
    ASSERT_FALSE(watermark.empty());
    Bytes expected = ToBytes("[o1]");
    const BYTE body[] = {0x69, 0xC0, 0xFC, 0xF8, 0x2C, 0x7B};
    expected.insert(expected.end(), std::begin(body), std::end(body));
    expected.insert(expected.end(), watermark.begin(), watermark.end());
    Bytes rest = ToBytes(std::string(markers::kOverlay) + "[o2]");
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(OverlayFile(), expected);
}

// The first creation job marks the ini; later ones are declined without a
// prompt unless they repeat the creation on purpose.
TEST_F(OverlayCreation, OnceOnlyMarkAndRepeat)
{
    Run(CreationJob(1));
    Machine::Remove(spoolsim::Widen(OverlayPath("new.ovl")));

    RunResult second = Run(CreationJob(1));
    EXPECT_TRUE(second.boxes.empty());
    ASSERT_FALSE(second.writes.empty());
    EXPECT_FALSE(second.writes[0].result);
    EXPECT_EQ(second.writes[0].cbWritten, 0u);
    EXPECT_FALSE(Machine::Exists(spoolsim::Widen(OverlayPath("new.ovl"))));

    Machine::WriteIni("[Overlay Data]\nOverlay Message=7\n");
    DocumentJob repeat = CreationJob(1);
    repeat.settings.sOverlayRepeat = 3;
    RunResult third = Run(repeat);
    EXPECT_EQ(third.boxes.size(), 1u);
    EXPECT_TRUE(third.writes[0].result);
    EXPECT_EQ(Machine::ReadIniValue("Overlay Data", "Overlay Message"), "7") << "not written with repeat 3";
    EXPECT_TRUE(Machine::Exists(spoolsim::Widen(OverlayPath("new.ovl"))));
}

TEST_F(OverlayCreation, CancelDeclinesAndTheJobPrintsWithoutIt)
{
    spooler->user.script = {IDCANCEL};
    DocumentJob job = CreationJob(1);
    job.settings.sCollate = 0;
    job.pageMarkers = false;
    RunResult r = Run(job);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_FALSE(r.writes[0].result);
    EXPECT_EQ(r.writes[0].cbWritten, 0u);
    EXPECT_FALSE(Machine::Exists(spoolsim::Widen(OverlayPath("new.ovl"))));
    // The overlay mode is off now: the page goes to the printer, its marker dropped.
    EXPECT_PARTS(r.PrinterDocument(0).data,
                 {P("header", job.Header()), P("page", "[o1][o2]"), P("trailer", job.trailer)});
}

TEST_F(OverlayCreation, FileThatCannotBeCreatedIsReported)
{
    DocumentJob job = CreationJob(1);
    std::string missingDir = OverlayPath("no such folder\\new.ovl");
    std::snprintf(job.settings.szOverlayFile, sizeof(job.settings.szOverlayFile), "%s", missingDir.c_str());
    RunResult r = Run(job);
    ASSERT_EQ(r.boxes.size(), 2u);
    EXPECT_EQ(r.boxes[1].text, WString(W("Failed to CreateFile in Create Overlay")));
    EXPECT_EQ(r.boxes[1].style, static_cast<UINT>(MB_OK));
    EXPECT_FALSE(r.writes[0].result);
    EXPECT_EQ(r.writes[0].cbWritten, 0xDEADBEEFu) << "bytes written untouched";
    // Later buffers of page 1 have nowhere to go: refused, without a box each.
    EXPECT_FALSE(r.writes[3].result);
    EXPECT_EQ(r.boxes.size(), 2u);
}

// An aborted creation job leaves no open overlay file: the next one can make it.
TEST_F(OverlayCreation, AbortedCreationClosesTheFile)
{
    Job aborted = CreationJob(2).Build();
    aborted.endDoc = false;
    aborted.abort = true;
    Run(aborted);
    DocumentJob again = CreationJob(1);
    again.settings.sOverlayRepeat = 3;
    RunResult r = Run(again);
    EXPECT_TRUE(r.AllWritesSucceeded());
    EXPECT_EQ(r.boxes.size(), 1u) << "only the prompt, no failure";
    EXPECT_EQ(OverlayFile(), ToBytes(std::string("[o1]") + markers::kOverlay + "[o2]"));
}

// The overlay that a creation job made is what later jobs get embedded, on
// the direct path and in the spool file alike.
TEST_F(Overlay, CreatedOverlayIsEmbeddedEndToEnd)
{
    std::string path = OverlayPath("made.ovl");
    DRVDEVMODE create = WithOverlay(2, path);
    DocumentJob creation(create, 2);
    creation.pageMarkers = false;
    creation.pages[0].buffers = {ToBytes("[form body]")};
    Run(creation);
    Bytes made = Machine::ReadFileBytes(spoolsim::Widen(path)).value_or(Bytes());
    ASSERT_EQ(made, ToBytes("[form body]"));

    for (short collate : {0, 1})
    {
        DRVDEVMODE dm = WithOverlay(1, path);
        dm.sCollate = collate;
        DocumentJob job(dm, 2);
        job.pageMarkers = collate != 0;
        job.pages[0].buffers = {ToBytes("[p1]"), ToBytes(markers::kOverlay)};
        job.pages[1].buffers = {ToBytes("[p2]"), ToBytes(markers::kOverlay)};
        RunResult r = Run(job);
        Bytes e = Embedding(made);
        Parts expected = {P("header", job.Header()), P("page 1", "[p1]"), P("overlay", e),
                          P("page 2", "[p2]"),       P("overlay", e),     P("trailer", job.trailer)};
        EXPECT_PARTS(r.PrinterDocument(0).data, expected) << "collate " << collate;
    }
}

TEST_F(Overlay, QueryPromptsAndCancelTurnsTheOverlayOff)
{
    std::string path = OverlayPath("form.ovl");
    Machine::WriteFileBytes(spoolsim::Widen(path), Hundred());
    Machine::WriteIni("[OVERLAY]\nOverlayQueryMessage=Use the letterhead?\n");
    for (int answer : {IDOK, IDCANCEL})
    {
        DRVDEVMODE dm = WithOverlay(1, path);
        dm.sOverlayQuery = 1;
        spooler->user.script = {answer};
        RunResult r = Run(JobBuilder().Settings(dm).StartPage().Write(markers::kOverlay).EndPage().Build());
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].text, WString(W("Use the letterhead?")));
        EXPECT_EQ(spoolsim::Narrow(r.boxes[0].caption), path);
        EXPECT_EQ(r.boxes[0].style, kQuestion);
        EXPECT_EQ(r.writes[0].result, answer == IDOK ? TRUE : FALSE);
        EXPECT_EQ(r.writes[0].cbWritten, answer == IDOK ? 1625u : 0u);
        EXPECT_EQ(r.PrinterDocument(0).data.size(), answer == IDOK ? 176u : 0u);
    }
}

// Without the data an overlay cannot be embedded: the marker's write fails,
// without a message, and nothing is written for it.
TEST_F(Overlay, LibraryFailuresFailTheMarker)
{
    struct Case
    {
        const char *name;
        OverlayLibrary library;
        bool fileExists;
    } cases[] = {
        {"no ReadOverlay export", OverlayLibrary::NoReadOverlay, true},
        {"no such overlay", OverlayLibrary::Standard, false},
        {"size beyond any embedding", OverlayLibrary::HugeSize, true},
    };
    for (const Case &c : cases)
    {
        for (short collate : {0, 1})
        {
            UseMachine(c.library);
            std::string path = OverlayPath("form.ovl");
            if (c.fileExists)
            {
                Machine::WriteFileBytes(spoolsim::Widen(path), Hundred());
            }
            DRVDEVMODE dm = WithOverlay(1, path);
            dm.sCollate = collate;
            DocumentJob job(dm, 1);
            job.pageMarkers = collate != 0;
            job.pages[0].buffers = {ToBytes("[p]"), ToBytes(markers::kOverlay)};
            RunResult r = Run(job);
            size_t marker = collate ? 5 : 4;
            ASSERT_GT(r.writes.size(), marker);
            EXPECT_FALSE(r.writes[marker].result) << c.name << ", collate " << collate;
            EXPECT_TRUE(r.boxes.empty()) << c.name;
            EXPECT_PARTS(r.PrinterDocument(0).data, Layout(job, {"H", 1, "T"})) << c.name << ", collate " << collate;
        }
    }
}

} // namespace
} // namespace scenarios
