// Jobs side by side at the moments that matter: one job runs from start to
// end while another is in the middle of making its watermark pages, of
// capturing deferred text, of creating an overlay, or waiting at a prompt for
// its person. The job in the middle is the oracle's own: what each job prints
// alone.
#include <gtest/gtest.h>

#include "stressjobs.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace stress
{
namespace
{

using spoolsim::Job;
using spoolsim::JobBuilder;
using spoolsim::RunResult;
using spoolsim::ToBytes;
namespace markers = spoolsim::markers;

// Longer than any job here takes, even under a sanitizer or Wine.
const DWORD kPatienceMs = 120000;

class SideBySide : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        machine = std::make_unique<spoolsim::Machine>();
        spooler = std::make_unique<spoolsim::Spooler>();
        ASSERT_TRUE(spooler->Loaded());
        for (int i = 0; i < 2; i++)
        {
            auto p = std::make_unique<spoolsim::Printer>();
            p->printerName = p->driverName + spoolsim::Widen(" (" + std::to_string(i) + ")");
            p->hookThreads = true;
            printers.push_back(std::move(p));
        }
    }

    // Runs the job on the second printer, from a thread of its own, to its
    // end. A job held up by the first printer's job would never end: that
    // ends the test program instead of hanging it.
    RunResult RunOnSecondPrinter(const Job &job)
    {
        RunResult result;
        std::atomic<bool> done{false};
        spoolsim::Thread thread([&] {
            result = spooler->Run(*printers[1], job);
            done = true;
        });
        for (DWORD waited = 0; !done && waited < kPatienceMs; waited += 10)
        {
            Sleep(10);
        }
        if (!done)
        {
            std::fprintf(stderr, "FAILED: a job on another printer was held up by the job in progress\n");
            std::fflush(stderr);
            std::_Exit(1);
        }
        thread.Join();
        return result;
    }

    std::string Alone(const Job &job)
    {
        StressJob s{"alone", job, ""};
        return Outcome(s, spooler->Run(job));
    }

    std::unique_ptr<spoolsim::Machine> machine;
    std::unique_ptr<spoolsim::Spooler> spooler;
    std::vector<std::unique_ptr<spoolsim::Printer>> printers;
};

std::string Outcome(const Job &job, const RunResult &r)
{
    return stress::Outcome(StressJob{"", job, ""}, r);
}

DRVDEVMODE WithWatermark(const char *text)
{
    DRVDEVMODE dm = spoolsim::DefaultSettings();
    dm.sWatermarkOn = 1;
    std::snprintf(dm.szWmText, sizeof(dm.szWmText), "%s", text);
    return dm;
}

// Job A reads its watermark file for every page; job B makes one with
// another text in between. Each job's pages carry its own text.
TEST_F(SideBySide, TwoWatermarkTextsEachReachTheirOwnPages)
{
    Job a = JobBuilder()
                .Settings(WithWatermark("ALPHA"))
                .StartPage()
                .Write("[A1]")
                .Write(markers::kWatermark)
                .EndPage()
                .StartPage()
                .Write("[A2]")
                .Write(markers::kWatermark)
                .EndPage()
                .Build();
    Job b = JobBuilder()
                .Settings(WithWatermark("BRAVO"))
                .StartPage()
                .Write("[B1]")
                .Write(markers::kWatermark)
                .EndPage()
                .Build();
    std::string aloneA = Alone(a), aloneB = Alone(b);

    RunResult resultB;
    printers[0]->beforeStep = [&](size_t step) {
        if (step == 4) // between A's pages
        {
            resultB = RunOnSecondPrinter(b);
        }
    };
    RunResult resultA = spooler->Run(*printers[0], a);
    EXPECT_EQ(FirstDifference(aloneA, Outcome(a, resultA)), "");
    EXPECT_EQ(FirstDifference(aloneB, Outcome(b, resultB)), "");
    EXPECT_NE(aloneA, aloneB);
}

// Two captures of deferred text at once: each job's page end replays its own.
TEST_F(SideBySide, TwoDeferredTextCapturesEachReplayTheirOwn)
{
    auto deferred = [](const char *tag) {
        DRVDEVMODE dm = spoolsim::DefaultSettings();
        dm.sDeferText = 1;
        return JobBuilder()
            .Settings(dm)
            .StartPage()
            .Write(std::string("[") + tag + " page]")
            .Write(markers::DeferStart())
            .Write(std::string("(") + tag + " text)")
            .Write(markers::DeferEnd())
            .Write(std::string("[") + tag + " rest]")
            .EndPage()
            .Build();
    };
    Job a = deferred("A"), b = deferred("B");
    std::string aloneA = Alone(a), aloneB = Alone(b);

    RunResult resultB;
    printers[0]->beforeStep = [&](size_t step) {
        if (step == 4) // A's capture is open
        {
            resultB = RunOnSecondPrinter(b);
        }
    };
    RunResult resultA = spooler->Run(*printers[0], a);
    EXPECT_EQ(FirstDifference(aloneA, Outcome(a, resultA)), "");
    EXPECT_EQ(FirstDifference(aloneB, Outcome(b, resultB)), "");
    EXPECT_FALSE(spoolsim::Machine::Exists(spoolsim::DriverFile(W("textout.teq"))));
}

// A job that prints with an overlay while another job creates that overlay
// gets the overlay as it was, whole; the next job gets the new one.
TEST_F(SideBySide, OverlayBeingCreatedIsNeverReadHalfWritten)
{
    std::string path = spoolsim::Narrow(spoolsim::DriverFile(W("form.ovl")));
    Bytes old = ToBytes("[the old overlay, whole]");
    ASSERT_TRUE(spoolsim::Machine::WriteFileBytes(spoolsim::Widen(path), old));

    DRVDEVMODE create = spoolsim::DefaultSettings();
    create.sOverlayMode = 2;
    create.sOverlayRepeat = 3;
    std::snprintf(create.szOverlayFile, sizeof(create.szOverlayFile), "%s", path.c_str());
    Job creation = JobBuilder()
                       .Settings(create)
                       .StartPage()
                       .Write("[new overlay, part 1]")
                       .Write("[new overlay, part 2]")
                       .EndPage()
                       .Build();
    DRVDEVMODE use = create;
    use.sOverlayMode = 1;
    Job user = JobBuilder().Settings(use).StartPage().Write("[page]").Write(markers::kOverlay).EndPage().Build();

    RunResult during;
    printers[0]->beforeStep = [&](size_t step) {
        if (step == 3) // part 1 written, part 2 not yet
        {
            during = RunOnSecondPrinter(user);
        }
    };
    spooler->Run(*printers[0], creation);
    RunResult after = spooler->Run(user);

    auto embedded = [](const RunResult &r) {
        const Bytes &d = r.PrinterDocument(0).data;
        return Bytes(d.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(d.size(), 6 + 76)), d.end());
    };
    EXPECT_EQ(embedded(during), old) << "the overlay as it was before the creation job";
    EXPECT_EQ(embedded(after), ToBytes("[new overlay, part 1][new overlay, part 2]"));
}

// While one job waits at its prompt for a person who has stepped away, a job
// with every decoration runs from start to end on another printer.
TEST_F(SideBySide, APromptHoldsUpOnlyItsOwnJob)
{
    DRVDEVMODE duplex = spoolsim::DefaultSettings();
    duplex.sManualDuplex = 1;
    spoolsim::DocumentJob a(duplex, 4);

    DRVDEVMODE busy = WithWatermark("WHILE YOU WAIT");
    busy.sCollate = 1;
    busy.dmPublic.dmCopies = 2;
    spoolsim::DocumentJob b(busy, 3);
    for (spoolsim::PageSpec &page : b.pages)
    {
        page.buffers = {ToBytes("[b page]"), ToBytes(markers::kWatermark)};
    }
    b.end.copies = 2;
    Job jobA = a.Build(), jobB = b.Build();
    std::string aloneA = Alone(jobA), aloneB = Alone(jobB);

    RunResult resultB;
    int cPrompts = 0;
    printers[0]->user.answer = [&](const spoolsim::MessageBoxRecord &) {
        cPrompts++;
        resultB = RunOnSecondPrinter(jobB);
        return IDOK;
    };
    RunResult resultA = spooler->Run(*printers[0], jobA);
    EXPECT_EQ(cPrompts, 1);
    EXPECT_EQ(FirstDifference(aloneA, Outcome(jobA, resultA)), "");
    EXPECT_EQ(FirstDifference(aloneB, Outcome(jobB, resultB)), "");
}

} // namespace
} // namespace stress
