// Every kind of refusal the hook makes, provoked for real on the simulated
// machine, and the words run gives for it: what a person reads to act on.
#include "support.h"

#include "cli.h"
#include "reasons.h"

#include <cstring>
#include <fstream>
#include <functional>

#ifndef _WIN32
#include <w32emu.h>
#endif

namespace jobtool_test
{
namespace
{

using spoolsim::Widen;

struct Attempt
{
    jobtool::Replay replay;
    std::string Report() const
    {
        std::string r;
        for (const std::string &p : replay.problems)
        {
            r += "problem: " + p + "\n";
        }
        for (const std::string &p : replay.reasons)
        {
            r += "reason: " + p + "\n";
        }
        return r;
    }
    bool Says(const std::string &words) const
    {
        for (const std::string &r : replay.reasons)
        {
            if (r.find(words) != std::string::npos)
            {
                return true;
            }
        }
        return false;
    }
};

Attempt RunWith(const spoolsim::Job &job, int answer = IDOK, const jobtool::BeforeRun &before = jobtool::BeforeRun())
{
    Attempt r;
    r.replay = jobtool::RunJob(
        job, [answer](const spoolsim::MessageBoxRecord &) { return answer; }, nullptr, before);
    return r;
}

spoolsim::Job Made(const std::string &sample, const jobtool::JobOptions &o)
{
    jobtool::MadeJob made = jobtool::MakeJob(Sample(sample), o);
    EXPECT_TRUE(made.job.has_value()) << made.error;
    return made.job ? *made.job : spoolsim::Job();
}

void WriteHostFile(const std::string &path, const Bytes &data)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

spoolsim::WString TempFolder()
{
    WCHAR sz[MAX_PATH];
    DWORD cch = GetTempPathW(MAX_PATH, sz);
    return spoolsim::WString(sz, cch > 0 ? cch - 1 : 0);
}

TEST(Reasons, OverlayQuestionsAnsweredCancelOrAlreadyAsked)
{
    TempDir dir;
    const std::string overlay = dir.Path("form.ovl");
    WriteHostFile(overlay, Sample("one-page.pxl"));

    jobtool::JobOptions use;
    use.overlay = jobtool::ToWindowsPath(overlay);
    use.ask = true;
    Attempt query = RunWith(Made("sample.pxl", use), IDCANCEL);
    ASSERT_FALSE(query.replay.problems.empty()) << "a Cancel refuses the job";
    EXPECT_TRUE(query.Says("the person answered Cancel to \"Print Document with the Overlay ?\": the job is not "
                           "printed"))
        << query.Report();

    jobtool::JobOptions create;
    create.overlayCreate = jobtool::ToWindowsPath(dir.Path("new.ovl"));
    Attempt cancelled = RunWith(Made("one-page.pxl", create), IDCANCEL);
    EXPECT_TRUE(cancelled.Says("the person answered Cancel to \"Create Page Overlay ?\": no overlay is made"))
        << cancelled.Report();

    // The machine asked once already: the hook declines without a question.
    Attempt once = RunWith(Made("one-page.pxl", create), IDOK, [](spoolsim::Spooler &) {
        ASSERT_TRUE(WritePrivateProfileStringW(Widen("Overlay Data").c_str(), Widen("Overlay Message").c_str(),
                                               Widen("1").c_str(), spoolsim::DriverFile(Widen("kd7720u.ini")).c_str()));
    });
    EXPECT_TRUE(once.replay.run.boxes.empty());
    ASSERT_EQ(once.replay.problems.size(), 1u) << once.Report();
    EXPECT_TRUE(once.Says("the overlay was offered once already on this machine")) << once.Report();
}

TEST(Reasons, OverlayFilesThatAreMissingOrCannotBeMade)
{
    TempDir dir;
    jobtool::JobOptions use;
    use.overlay = jobtool::ToWindowsPath(dir.Path("none.ovl"));
    Attempt missing = RunWith(Made("sample.pxl", use));
    ASSERT_FALSE(missing.replay.problems.empty());
    EXPECT_TRUE(missing.Says("the overlay file " + *use.overlay + " does not exist")) << missing.Report();

    jobtool::JobOptions create;
    create.overlayCreate = jobtool::ToWindowsPath(dir.Path("no-such-folder/new.ovl"));
    Attempt nowhere = RunWith(Made("one-page.pxl", create));
    ASSERT_FALSE(nowhere.replay.problems.empty());
    EXPECT_TRUE(nowhere.Says("the hook could not create the overlay file " + *create.overlayCreate + ": the folder " +
                             jobtool::ToWindowsPath(dir.Path("no-such-folder")) + " does not exist"))
        << nowhere.Report();
}

TEST(Reasons, MachineWithoutTheOverlayLibraryStartsNoJob)
{
    Attempt r = RunWith(Made("sample.pxl", jobtool::JobOptions()), IDOK, [](spoolsim::Spooler &) {
        ASSERT_TRUE(spoolsim::Machine::Remove(spoolsim::DriverFile(Widen("kd7720o.dll"))));
    });
    EXPECT_FALSE(r.replay.run.started);
    EXPECT_TRUE(r.Says("the overlay library kd7720o.dll is not in the driver folder")) << r.Report();
}

TEST(Reasons, SpoolFileThatCannotBeMadeAndPagesBeyondTheIndex)
{
    jobtool::JobOptions collate;
    collate.copies = 2;
    collate.collate = true;
    // A file where the temporary folder should be (a missing one the system
    // makes again). The folder is the machine's, named while it runs.
    spoolsim::WString temp;
    Attempt noTemp = RunWith(Made("sample.pxl", collate), IDOK, [&temp](spoolsim::Spooler &) {
        temp = TempFolder();
        ASSERT_TRUE(RemoveDirectoryW(temp.c_str()));
        ASSERT_TRUE(spoolsim::Machine::WriteFileBytes(temp, spoolsim::ToBytes("not a folder")));
    });
    ASSERT_FALSE(noTemp.replay.problems.empty());
    EXPECT_TRUE(noTemp.Says("the hook could not create its spool file in " + spoolsim::Narrow(temp) + ": " +
                            spoolsim::Narrow(temp) + " is a file, not a folder"))
        << noTemp.Report();

    // One page more than the index holds, as the rendering driver marks them.
    DRVDEVMODE dm = spoolsim::DefaultSettings();
    dm.sCollate = 1;
    spoolsim::DocumentJob big(dm, 2000);
    Attempt full = RunWith(big.Build());
    ASSERT_EQ(full.replay.problems.size(), 1u) << full.Report();
    EXPECT_NE(full.replay.problems[0].find("a marker record"), std::string::npos) << "the 2000th page start";
    EXPECT_TRUE(full.Says("the document has 2000 pages and the driver holds at most 1999 in one job (print it in "
                          "parts)"))
        << full.Report();

    spoolsim::DocumentJob most(dm, 1999);
    Attempt fits = RunWith(most.Build());
    EXPECT_TRUE(fits.replay.problems.empty() && fits.replay.reasons.empty()) << fits.Report();
}

TEST(Reasons, MalformedBookletRecord)
{
    DRVDEVMODE dm = spoolsim::DefaultSettings();
    dm.sBooklet = 1;
    dm.sHardwareBooklet = 2;
    spoolsim::Job job = spoolsim::JobBuilder()
                            .Settings(dm)
                            .Write(spoolsim::markers::Raw(0x00, {0x01, 0x40, 0x02}))
                            .Write(std::string("[header]"))
                            .Build();
    Attempt r = RunWith(job);
    ASSERT_EQ(r.replay.problems.size(), 1u) << r.Report();
    EXPECT_TRUE(r.Says("the booklet layout record the driver sent is malformed")) << r.Report();
}

TEST(Reasons, WatermarkThatCannotBeDrawn)
{
    jobtool::JobOptions o;
    o.watermark = "DRAFT";
    const struct
    {
        std::function<void(spoolsim::PrinterModel &)> fault;
        const char *words;
    } faults[] = {
        {[](spoolsim::PrinterModel &m) { m.createDcError = 1801; },
         "the printer's device context for drawing the watermark could not be created (Windows error 1801)"},
        {[](spoolsim::PrinterModel &m) { m.startDocFails = true; },
         "the job that draws the watermark could not be started"},
        {[](spoolsim::PrinterModel &m) { m.textOutFailures = 1; }, "the watermark text could not be drawn"},
    };
    for (const auto &f : faults)
    {
        Attempt r = RunWith(Made("sample.pxl", o), IDOK, [&f](spoolsim::Spooler &s) { f.fault(s.model); });
        ASSERT_FALSE(r.replay.problems.empty()) << f.words;
        EXPECT_NE(r.replay.problems[0].find("the watermark marker"), std::string::npos) << r.Report();
        EXPECT_TRUE(r.Says(std::string("the watermark could not be put on the page: ") + f.words)) << r.Report();
    }
}

TEST(Reasons, PrinterAndDeferredTextRefusals)
{
    Attempt printer = RunWith(Made("sample.pxl", jobtool::JobOptions()), IDOK, [](spoolsim::Spooler &s) {
        s.printerFault.nth = 1;
        s.printerFault.cTimes = 0;
    });
    ASSERT_FALSE(printer.replay.problems.empty());
    EXPECT_TRUE(printer.Says("the printer refused the data")) << printer.Report();

    // The deferred-text file's name is taken by a folder.
    jobtool::JobOptions defer;
    defer.deferText = true;
    Attempt text = RunWith(Made("sample.pxl", defer), IDOK, [](spoolsim::Spooler &) {
        ASSERT_TRUE(CreateDirectoryW(spoolsim::DriverFile(Widen("textout.teq")).c_str(), nullptr));
    });
    ASSERT_FALSE(text.replay.problems.empty());
    EXPECT_TRUE(text.Says("the hook could not create its deferred-text file in the driver folder")) << text.Report();
}

TEST(Reasons, NothingRefusedMeansNoReason)
{
    jobtool::JobOptions o;
    o.copies = 2;
    o.collate = true;
    o.watermark = "DRAFT";
    Attempt r = RunWith(Made("sample.pxl", o));
    EXPECT_TRUE(r.replay.problems.empty() && r.replay.reasons.empty()) << r.Report();
}

TEST(Reasons, OverlayLibrariesThatCannotGiveTheOverlay)
{
    TempDir dir;
    const std::string overlay = dir.Path("form.ovl");
    WriteHostFile(overlay, Sample("one-page.pxl"));
    jobtool::JobOptions use;
    use.overlay = jobtool::ToWindowsPath(overlay);
    const struct
    {
        const char *variant;
        const char *words;
    } variants[] = {
        {"noread", "the overlay library kd7720o.dll in the driver folder has no ReadOverlay"},
        {"huge", "the overlay library reports 4294967280 bytes for the overlay, more than a print stream can embed"},
    };
    for (const auto &v : variants)
    {
        Attempt r = RunWith(Made("sample.pxl", use), IDOK, [&v](spoolsim::Spooler &) {
            ASSERT_TRUE(spoolsim::Machine::CopyFileBytes(spoolsim::BuildBinDir() +
                                                             Widen(std::string("\\") + v.variant + "\\kd7720o.dll"),
                                                         spoolsim::DriverFile(Widen("kd7720o.dll"))));
        });
        ASSERT_FALSE(r.replay.problems.empty()) << v.variant;
        EXPECT_TRUE(r.Says(v.words)) << r.Report();
    }
}

TEST(Reasons, PrinterTakingPartOfAWrite)
{
    Attempt r = RunWith(Made("sample.pxl", jobtool::JobOptions()), IDOK, [](spoolsim::Spooler &s) {
        s.printerFault.nth = 1;
        s.printerFault.shortWrite = true;
        s.printerFault.cbShort = 3;
    });
    ASSERT_FALSE(r.replay.problems.empty());
    EXPECT_TRUE(r.Says("the printer took only 3 of ")) << r.Report();
}

#ifndef _WIN32

// Faults of the system under the hook, as the Linux build's layer injects
// them: the refusals that only a failing disk or memory provokes.
TEST(Reasons, FailingDiskAndMemory)
{
    jobtool::JobOptions collate;
    collate.copies = 2;
    collate.collate = true;
    jobtool::JobOptions defer;
    defer.deferText = true;
    TempDir dir;
    jobtool::JobOptions create;
    create.overlayCreate = jobtool::ToWindowsPath(dir.Path("form.ovl"));
    const struct
    {
        const char *name;
        jobtool::JobOptions options;
        std::vector<const char *> failing; // each fails once, from its next call
        const char *words;
    } cases[] = {
        {"spool write", collate, {"WriteFile"}, "the hook could not write its spool file in C:\\TEMP"},
        {"spool lost",
         collate,
         {"WriteFile", "SetFilePointer"},
         "writing the hook's spool file failed and the file could not be put back, so it was dropped"},
        {"text lost",
         defer,
         {"WriteFile", "SetFilePointer"},
         "the deferred-text file could not be written and could not be put back"},
        {"text read back", defer, {"ReadFile"}, "the deferred-text file could not be read back at the end of page 1"},
        {"spool read back",
         collate,
         {"ReadFile"},
         "could not read the job back from its spool file: the printed document stops where the reading failed"},
        {"job context", collate, {"GlobalAlloc"}, "there was no memory for its job context"},
        {"overlay write", create, {"WriteFile"}, "the hook could not write the overlay file "},
        {"overlay put in place", create, {"MoveFileExW"}, "could not be written or put in place"},
    };
    for (const auto &c : cases)
    {
        Attempt r = RunWith(Made("sample.pxl", c.options), IDOK, [&c](spoolsim::Spooler &) {
            for (const char *function : c.failing)
            {
                W32EmuFailCall(function, 1, ERROR_DISK_FULL, 1);
            }
        });
        EXPECT_TRUE(r.Says(c.words)) << c.name << "\n" << r.Report();
        EXPECT_FALSE(r.replay.reasons.empty()) << c.name;
    }
}

#endif

} // namespace
} // namespace jobtool_test
