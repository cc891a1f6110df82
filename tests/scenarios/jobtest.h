// Job scenarios: whole print jobs through kd7720um's hooks against the
// simulated spooler, user and printer. The same scenarios run on the Linux
// build and, under Wine, on the real kd7720um.dll. Each run is also written
// to a transcript (printer documents, traces, message boxes) when
// KD_TRANSCRIPTS names a folder, so that the two builds can be compared byte
// for byte.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "spoolsim.h"

namespace scenarios
{

using spoolsim::Bytes;
using spoolsim::DocumentJob;
using spoolsim::Job;
using spoolsim::Part;
using spoolsim::Parts;
using spoolsim::RunResult;
using spoolsim::WString;

Part P(const std::string &name, const Bytes &bytes);
Part P(const std::string &name, const std::string &text);

// Settings with one field changed, for brevity in tests.
DRVDEVMODE Settings();

// KD_HOOK_THREADS=1: the spooler calls every hook on a thread of its own, as
// its pool of threads does; the whole suite runs so as well as on one thread.
bool HookThreadsWanted();

class JobTest : public ::testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;

    // A fresh machine with the given overlay library, and a fresh spooler.
    void UseMachine(spoolsim::OverlayLibrary overlay = spoolsim::OverlayLibrary::Standard);

    // Runs the job and records it in the transcript.
    RunResult Run(const spoolsim::Job &job);
    RunResult Run(const DocumentJob &job)
    {
        return Run(job.Build());
    }

    std::unique_ptr<spoolsim::Machine> machine;
    std::unique_ptr<spoolsim::Spooler> spooler;

  private:
    std::string m_transcript;
    int m_runs = 0;
};

// One item of an expected printer stream of a DocumentJob: a page number, or
// "H" (header with lead-ins), "h" (header without them), "L1", "L2", "T"
// (trailer).
struct Item
{
    Item(int k) : page(k)
    {
    }
    Item(const char *psz) : name(psz)
    {
    }
    int page = 0;
    std::string name;
};
Parts Layout(const DocumentJob &job, const std::vector<Item> &items);

// The page-index traces of DrvSplEndDoc for the given index.
std::vector<WString> IndexTraces(int iTotalPage, DWORD dwCount, const std::vector<DWORD> &pages);

::testing::AssertionResult PartsEqual(const Bytes &actual, const Parts &expected);

} // namespace scenarios

#define EXPECT_PARTS(actual, ...) EXPECT_TRUE(::scenarios::PartsEqual((actual), ::spoolsim::Parts(__VA_ARGS__)))
