// Why the hook refused a job, in words a person can act on: taken from the
// hook's own debug trace and message boxes, and from the simulated machine
// as the run left it (is the overlay file there, can a file be made in the
// temporary folder, ...).
#pragma once

#include "spoolsim.h"

#include <cstdint>
#include <string>
#include <vector>

namespace jobtool
{

// The pages the hook's page index holds in one spooled job.
constexpr uint64_t kMaxSpooledPages = 1999;

// The refusal of a spooled document with more pages than that.
std::string TooManyPages(uint64_t pages);

// The simulated machine after the run, as far as a refusal may depend on it.
// Each "problem" is empty when all is well, else what is wrong, in words.
struct MachineState
{
    std::string machineProblem;        // the machine's folder could not be made
    bool overlayLibrary = true;        // kd7720o.dll is in the driver folder
    bool overlayLibraryLoads = true;   // and can be loaded
    std::string overlayLibraryProblem; // it cannot give the settings' overlay
    std::string overlayPath;           // of the settings (Windows path); empty: none
    std::string overlayFileProblem;    // the overlay file cannot be read
    std::string overlayFolderProblem;  // no new file can be made beside it
    std::string tempFolder;            // the hook's temporary folder (Windows path)
    std::string tempProblem;           // no file can be made in it
    std::string driverFolder;          // the driver directory (Windows path)
    std::string driverProblem;         // no file can be made in it
};

// Looks at the machine the job ran on (it must still exist).
MachineState LookAtMachine(const spoolsim::StepSource &job);

// One sentence for each cause of the run's refusals and failures, without
// repeats; empty when nothing was refused or failed.
std::vector<std::string> Reasons(const spoolsim::StepSource &job, const spoolsim::RunResult &run,
                                 const MachineState &machine);

} // namespace jobtool
