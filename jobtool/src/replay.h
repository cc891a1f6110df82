// "run": a job through kd7720um.dll with the simulated spooler, on a machine
// prepared as the driver package installs it.
#pragma once

#include "prepare.h"

#include "spoolsim.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace jobtool
{

// The instruction pages and the driver settings file that name them, as the
// package installs them in the driver directory.
extern const char kInstructionPortrait[];  // file name
extern const char kInstructionLandscape[]; // file name

struct Replay
{
    bool loaded = false; // the hook library was found and loaded
    spoolsim::RunResult run;
    // What went wrong, one line each: refused writes (with what they
    // carried), failed page ends, a job the hook did not start.
    std::vector<std::string> problems;
    // Why, in words a person can act on (see reasons.h): one line each.
    std::vector<std::string> reasons;
    // An overlay-creation job: the overlay file as the hook wrote it.
    std::string overlayPath;
    std::optional<Bytes> overlayFile;
};

using Prompt = std::function<int(const spoolsim::MessageBoxRecord &)>;
// Called on the prepared machine just before the job runs: tests change the
// world there (remove a file, arm a printer fault).
using BeforeRun = std::function<void(spoolsim::Spooler &)>;
// Told of each printer document as it ends, before the hook goes on.
using DocumentEnded = std::function<void(const spoolsim::Document &)>;

// The settings block the job begins with, when its first write is one.
std::optional<DRVDEVMODE> SettingsOf(const spoolsim::StepSource &job);

// Most of what a step is, for telling the driver's markers, settings blocks
// and records (none longer) from page data without reading the page data:
// step i's data when they are at most kStepHead bytes, else their first
// kStepHead bytes. Empty when the step cannot be read.
constexpr size_t kStepHead = 4096;
const Bytes &StepHead(const spoolsim::StepSource &job, size_t i, Bytes &buffer);

// Runs the job on a fresh machine. The printer's resolution and paper are
// those of the job's settings block, so that the watermark the printer draws
// fits the pages.
// With a documentSink, the printer's documents are not kept in the result
// (their bytes go to the sink as they come; Document::cbTotal counts them).
// The job's steps are read one at a time: a job file's job runs in the
// memory of its largest step.
Replay RunJob(const spoolsim::StepSource &job, const Prompt &prompt, const DocumentEnded &ended = nullptr,
              const BeforeRun &beforeRun = BeforeRun(),
              const std::function<bool(size_t, const BYTE *, DWORD)> &documentSink = nullptr);
inline Replay RunJob(const spoolsim::Job &job, const Prompt &prompt, const DocumentEnded &ended = nullptr,
                     const BeforeRun &beforeRun = BeforeRun(),
                     const std::function<bool(size_t, const BYTE *, DWORD)> &documentSink = nullptr)
{
    return RunJob(spoolsim::JobSteps(job), prompt, ended, beforeRun, documentSink);
}

// What a write of the job carried, for messages: "the settings block",
// "the watermark marker", "page data (1234 bytes)", ...
std::string DescribeWrite(const spoolsim::StepSource &job, size_t writeIndex);

} // namespace jobtool
