// "show": a job file as a person reads it - its settings in the words of
// make's options, its pages, and each step the spooler takes with its kind
// and size. For a job file that came from elsewhere (a customer's), the
// settings that make has no option for are named too.
#pragma once

#include "spoolsim.h"

#include <ostream>
#include <string>
#include <vector>

namespace jobtool
{

struct ShownJob
{
    bool settings = false;            // the job begins with a settings block
    std::vector<std::string> options; // make's options, one word each ("--copies", "3", ...)
    std::vector<std::string> others;  // settings make has no option for, in words
    std::string paper;                // "A4, 600 dpi, portrait"
    int pages = 0;                    // DrvSplStartPage calls
    int pageStarts = 0;               // page-start marker records
    std::vector<std::string> steps;   // "write 1625 bytes: the settings block", ... (when asked for)
};

// Reads only the heads of the steps (and the first page), so that a job
// file of any size is shown from the file. Without `steps` the steps'
// lines are left for WriteStepLines.
ShownJob ShowJob(const spoolsim::StepSource &job, bool steps = true);
inline ShownJob ShowJob(const spoolsim::Job &job)
{
    return ShowJob(spoolsim::JobSteps(job));
}

// The steps' lines of the report, one step at a time: what FormatShownJob
// ends with when ShowJob kept the steps.
void WriteStepLines(const spoolsim::StepSource &job, std::ostream &out);

// The report: what ShowJob found, for the file `name`.
std::string FormatShownJob(const ShownJob &shown, const spoolsim::StepSource &job, const std::string &name);
inline std::string FormatShownJob(const ShownJob &shown, const spoolsim::Job &job, const std::string &name)
{
    return FormatShownJob(shown, spoolsim::JobSteps(job), name);
}

// A word as a shell reads it back: quoted when it has to be.
std::string ShellWord(const std::string &word);

} // namespace jobtool
