// Job files: a print job as the spooler hands it to the hooks, stored so that
// it can be made once and replayed (the job tool's "make" and "run", the
// fuzzer's seed corpus). Little-endian binary:
//
//   8 bytes  magic "KDJOB\r\n\x1A"
//   4 bytes  format version (1; 2 when the job names its source)
//   1 byte   flags: bit 0 DrvSplEndDoc is called, bit 1 DrvSplAbort is called
//   4 bytes  document name length in UTF-16 code units, then the name (UTF-16LE)
//   4 bytes  step count, then per step:
//              1 byte kind (0 DrvSplWritePrinter, 1 DrvSplStartPage, 2 DrvSplEndPage)
//              4 bytes data length, then the data (write steps only; 0 otherwise)
//   version 2: 4 bytes source path length, then the path (UTF-8)
#pragma once

#include "spoolsim.h"

#include <string>

namespace spoolsim
{

Bytes SaveJob(const Job &job);
// The same bytes written to a file as they are made; false, with what failed
// and the system's reason, when the file cannot be written.
bool SaveJobFile(const Job &job, const std::string &path, std::string &error);

// The job, or an error that says where and why the bytes are not a job file.
struct LoadedJob
{
    std::optional<Job> job;
    std::string error;
};
LoadedJob LoadJob(const Bytes &bytes);

} // namespace spoolsim
