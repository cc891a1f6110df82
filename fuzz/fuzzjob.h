// Fuzz inputs as print jobs: one input is a short series of jobs (up to
// three, so that state one job leaves behind meets the next), each a
// sequence of hook calls and buffers that the rendering driver could write,
// and the spooler and user behaviour around them. The same decoder serves the
// libFuzzer target, the replay test of the normal build and the seed maker.
//
// Input layout (every read past the end yields zeros, so any byte string is a
// valid input):
//   environment byte: bits 0-1 kd7720u.ini variant, bits 2-3 jobs - 1
//   per job: job byte (bit 0 no DrvSplEndDoc, bit 1 DrvSplAbort, bit 2
//            printer fault, bit 3 scripted answers, bits 4-5 document name,
//            bit 6 platform fault),
//            [fault: nth, count, short, cbShort], [answers: count, values],
//            [platform fault: call, nth, count],
//            then operations until kOpEndJob or the end of the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "spoolsim.h"

namespace fuzzjob
{

using spoolsim::Bytes;

enum Op : uint8_t
{
    kOpSettings = 0,   // settings block: DefaultSettings() plus field edits
    kOpWrite = 1,      // a buffer of the input's bytes (16-bit length)
    kOpMarker = 2,     // marker record: code, payload
    kOpPageStart = 3,  // page-start marker with an orientation
    kOpEnd = 4,        // end marker with optional copies, copy command, booklet fragment
    kOpCopyPos = 5,    // copy-position marker
    kOpBooklet = 6,    // booklet layout record, standard items edited
    kOpWatermark = 7,  // "TimeToInsertWatermark"
    kOpOverlay = 8,    // "TimeToInsertOverlay"
    kOpDeferStart = 9, // deferred-text brackets
    kOpDeferEnd = 10,
    kOpStartPage = 11, // DrvSplStartPage
    kOpEndPage = 12,   // DrvSplEndPage
    kOpPage = 13,      // StartPage, page-start marker, data, EndPage
    kOpBigWrite = 14,  // a large buffer of one repeated byte (up to 72 KiB)
    kOpEndJob = 15,    // the next job begins
    kOpCount = 16
};

// The settings-block fields the hook reads, by number for kOpSettings edits.
struct Field
{
    const char *name;
    size_t offset;
    size_t size; // 2 or 4: a number; larger: an 8-bit string
};
const std::vector<Field> &Fields();

// The kernel32 calls of the hook's that the sweep and the fuzzer make fail:
// allocations, file creation (with the temporary name), writes, reads,
// seeks, sizes, library loads, export look-ups and the text conversions
// whose failures have messages. Clean-up calls (CloseHandle, DeleteFileW)
// and the GDI drawing are left alone: their failures have no stated outcome
// to check. FailureError gives the error each failure reports.
const std::vector<std::string> &FailedCalls();
DWORD FailureError(const std::string &function);

// A platform call of the hook's that fails from its nth call on this job:
// function "" for none; "WriteFile (short)" for a write that stores 1 byte.
struct PlatformFault
{
    std::string function;
    DWORD nth = 0;
    DWORD cTimes = 1; // 0: every call from the nth on
};

struct FuzzJob
{
    spoolsim::Job job;
    spoolsim::PrinterFault fault;
    std::vector<int> answers; // message-box answers; empty: the default button
    PlatformFault platformFault;
};

struct FuzzInput
{
    int iniVariant = 0;
    std::vector<FuzzJob> jobs;
};

// Any bytes decode; step and size limits keep one input fast.
FuzzInput Decode(const uint8_t *pb, size_t cb);

// Encodes jobs made by the job builder, so that seeds decode to them: the
// first 1625-byte write becomes a settings operation with the fields that
// differ from DefaultSettings(), every other write a plain buffer.
Bytes Encode(const std::vector<spoolsim::Job> &jobs, int iniVariant = 0);

class ImageState;

// Runs decoded inputs on one emulated machine in memory, reset before every
// input together with the hook library's own data, and checks what must
// hold after every job: no handle, memory block, GDI object or spool file
// left behind; the page index within the spool file as DrvSplEndDoc found
// it; no write reporting more than it was given. Run() lists what failed
// (empty: all held).
class Harness
{
  public:
    Harness();
    ~Harness();
    Harness(const Harness &) = delete;
    Harness &operator=(const Harness &) = delete;

    bool Ready() const;
    std::vector<std::string> Run(const uint8_t *pb, size_t cb);

  private:
    void ResetMachine(int iniVariant);
    std::string m_root;              // the host folder standing for the C: drive
    HMODULE m_hOverlayPin = nullptr; // keeps kd7720o loaded between jobs
    HMODULE m_hHookPin = nullptr;    // and kd7720um between inputs
    std::unique_ptr<ImageState> m_image;
    std::unique_ptr<spoolsim::Spooler> m_spooler;
    unsigned m_cRuns = 0;
    bool m_imageSaved = false;
    std::string m_driverDirHost;
    std::string m_tempDirHost;
};

// The files a job may find in the driver directory: an overlay the
// overlay library holds ("stored.ovl"), and kd7720u.ini variant 0, 1
// (manual-duplex texts and instruction pages), 2 (user id and the overlay
// once-only mark set), 3 (an instruction page path too long, another
// missing, the user id empty); 0 holds only a user id.
void PrepareDriverFiles(int iniVariant);
void PrepareDriverFiles(int iniVariant, const std::string &driverDirHost);

// The host path of a Windows path on the emulated machine ("" if none).
std::string HostPath(const spoolsim::WString &windowsPath);
// The spool files (VNT*.tmp) in the temp directory and their sizes.
std::vector<std::pair<std::string, uint64_t>> SpoolFiles();
std::vector<std::pair<std::string, uint64_t>> SpoolFiles(const std::string &tempDirHost);

// The page index that DrvSplEndDoc traced last in a run's traces.
struct TracedIndex
{
    bool found = false;
    long long iTotalPage = 0;
    long long dwCount = 0;
    std::vector<long long> pages;
};
TracedIndex LastTracedIndex(const std::vector<spoolsim::WString> &traces);

} // namespace fuzzjob
