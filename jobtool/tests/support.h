// Shared by the job tool's tests: the sample documents, and a job taken
// through make, run and explain in one go.
#pragma once

#include <gtest/gtest.h>

#include "driver.h"
#include "pagemap.h"
#include "replay.h"

#include <string>
#include <vector>

namespace jobtool_test
{

using jobtool::Bytes;

// A document of examples/ (compiled in).
Bytes Sample(const std::string &name);
// Writes bytes to a file of this machine (a test's input).
void WriteBytes(const std::string &path, const Bytes &bytes);

// The job made from a sample with the options, run through the hook with
// the given answers to question boxes, and each printer document explained.
struct Outcome
{
    jobtool::MadeJob made;
    jobtool::Replay replay;
    jobtool::Reference reference;
    std::vector<jobtool::PageMap> maps; // per printer document
    std::vector<spoolsim::MessageBoxRecord> boxes;

    // Sequences of the printer documents, and whether every one is well-formed.
    std::vector<std::vector<std::string>> Sequences() const;
    bool AllWellFormed() const;
    bool AllPrintable() const;
    std::string Report() const; // for failure messages
};
Outcome MakeAndRun(const std::string &sample, const jobtool::JobOptions &options, const std::vector<int> &answers = {});
Outcome MakeAndRun(const Bytes &document, const jobtool::JobOptions &options, const std::vector<int> &answers = {});

// The buffers of a job's write steps.
std::vector<Bytes> Writes(const spoolsim::Job &job);
bool IsMarker(const Bytes &b, uint8_t code);

// A folder of its own for a test's files, removed at the end.
class TempDir
{
  public:
    TempDir();
    ~TempDir();
    std::string Path(const std::string &name) const;

  private:
    std::string m_dir;
};

} // namespace jobtool_test
