// Jobs of every feature for the tests of jobs side by side, each with bytes
// of its own (header, pages, watermark text, deferred text, overlay), so
// that a byte of one job in another's output cannot go unseen; and what a job
// printed, in a form that compares a run side by side with the job alone.
#pragma once

#include "spoolsim.h"

#include <cstdint>
#include <string>
#include <vector>

namespace stress
{

using spoolsim::Bytes;

struct StressJob
{
    std::string name; // "printer 2, job 17: manual duplex, 5 pages"
    spoolsim::Job job;
    std::string overlayOut; // creation jobs: the overlay file they make (Windows path)
};

// The overlay file that overlay-printing jobs of a printer use; made before
// any of them runs.
std::string PrinterOverlay(int printer);
Bytes PrinterOverlayData(int printer);

// Job `index` of `printer`, its kind drawn from seed.
StressJob MakeJob(int printer, int index, uint32_t seed);

// What a run of a job left in the world that the job decides: the printer's
// documents (names and bytes), the results of the hooks, the boxes the person
// saw, the traces (spool file names and notes on shared files taken out),
// and the overlay file a creation job made.
std::string Outcome(const StressJob &job, const spoolsim::RunResult &r);

// The first line where two outcomes differ, for a failure message.
std::string FirstDifference(const std::string &expected, const std::string &actual);

} // namespace stress
