// Many jobs of every feature on several printers at once, the way a print
// server's spooler runs them: each printer's jobs one after another, the
// printers side by side, every hook call on a thread of the spooler's pool,
// and a person who takes a while to answer each prompt. Each job must print,
// ask and trace exactly what it does alone.
#include <gtest/gtest.h>

#include "stressjobs.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <random>

namespace stress
{
namespace
{

const int kPrinters = 4;
const int kJobsPerPrinter = 50;

uint32_t Seed()
{
    const char *psz = std::getenv("KD_STRESS_SEED");
    return psz != nullptr ? static_cast<uint32_t>(std::strtoul(psz, nullptr, 10)) : 20261209u;
}

void MakePrinterOverlays()
{
    for (int p = 0; p < kPrinters; p++)
    {
        ASSERT_TRUE(spoolsim::Machine::WriteFileBytes(spoolsim::Widen(PrinterOverlay(p)), PrinterOverlayData(p)));
    }
}

TEST(ManyPrinters, EveryJobPrintsWhatItPrintsAlone)
{
    const uint32_t seed = Seed();
    spoolsim::Machine machine;
    spoolsim::Spooler spooler;
    ASSERT_TRUE(spooler.Loaded());
    MakePrinterOverlays();

    std::vector<std::vector<StressJob>> jobs(kPrinters);
    std::map<std::string, std::string> alone;
    for (int p = 0; p < kPrinters; p++)
    {
        for (int j = 0; j < kJobsPerPrinter; j++)
        {
            jobs[static_cast<size_t>(p)].push_back(MakeJob(p, j, seed));
            const StressJob &job = jobs[static_cast<size_t>(p)].back();
            alone[job.name] = Outcome(job, spooler.Run(job.job));
        }
    }

    // Side by side: a printer each, the pool's threads, answers that come
    // late (but the same answers).
    std::vector<std::unique_ptr<spoolsim::Printer>> printers;
    std::vector<std::vector<std::string>> outcomes(kPrinters);
    for (int p = 0; p < kPrinters; p++)
    {
        auto printer = std::make_unique<spoolsim::Printer>();
        printer->printerName = printer->driverName + spoolsim::Widen(" (" + std::to_string(p) + ")");
        printer->hookThreads = true;
        auto rng = std::make_shared<std::mt19937>(seed + static_cast<uint32_t>(p));
        printer->user.answer = [rng](const spoolsim::MessageBoxRecord &) {
            Sleep(static_cast<DWORD>((*rng)() % 25));
            return IDOK;
        };
        printers.push_back(std::move(printer));
    }
    {
        std::vector<std::unique_ptr<spoolsim::Thread>> threads;
        for (int p = 0; p < kPrinters; p++)
        {
            threads.push_back(std::make_unique<spoolsim::Thread>([&, p] {
                for (const StressJob &job : jobs[static_cast<size_t>(p)])
                {
                    outcomes[static_cast<size_t>(p)].push_back(
                        Outcome(job, spooler.Run(*printers[static_cast<size_t>(p)], job.job)));
                }
            }));
        }
    }

    int cCompared = 0;
    for (int p = 0; p < kPrinters; p++)
    {
        for (int j = 0; j < kJobsPerPrinter; j++)
        {
            const StressJob &job = jobs[static_cast<size_t>(p)][static_cast<size_t>(j)];
            const std::string &side = outcomes[static_cast<size_t>(p)][static_cast<size_t>(j)];
            EXPECT_EQ(FirstDifference(alone[job.name], side), "") << job.name << " (seed " << seed << ")";
            cCompared++;
        }
    }
    EXPECT_EQ(cCompared, kPrinters * kJobsPerPrinter);
    EXPECT_EQ(spoolsim::Machine::SpoolFilesLeft(), 0);
    EXPECT_EQ(spoolsim::LiveGdiObjects(), 0u);
    EXPECT_EQ(spoolsim::LiveDeviceContexts(), 0u);
}

} // namespace
} // namespace stress
