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

// The file's pieces, for SaveJob and JobFileWriter: what comes before the
// steps, before each step's data, and after the last step.
Bytes JobFileHead(const WString &documentName, bool endDoc, bool abort, bool withSource, uint32_t cSteps);
Bytes JobFileStepHead(StepKind kind, uint32_t cb);
Bytes JobFileTail(const std::string &source); // nothing when there is no source

// A job file written step by step as the steps are made, so that a job of
// any size is never held whole. The steps go to NAME.part next to the file;
// Finish() completes it and puts it in place, so that no half-written job
// file is ever taken for a whole one. Not finished: the part file is removed.
class JobFileWriter : public StepSink
{
  public:
    JobFileWriter() = default;
    ~JobFileWriter() override;
    JobFileWriter(const JobFileWriter &) = delete;
    JobFileWriter &operator=(const JobFileWriter &) = delete;

    // False, with what failed and the system's reason, when the part file
    // cannot be made.
    bool Open(const std::string &path, const WString &documentName, bool endDoc, bool abort, std::string &error);
    // False (see Error()) once a write has failed; later steps are dropped.
    bool Add(StepKind kind, const BYTE *data, size_t cb) override;
    // The step count and the source path (empty: none) written, the file
    // closed and renamed to the path given to Open.
    bool Finish(const std::string &source, std::string &error);
    size_t Steps() const
    {
        return m_cSteps;
    }
    const std::string &Error() const
    {
        return m_error;
    }

  private:
    void Fail(const std::string &what);
    struct File;
    File *m_file = nullptr;
    std::string m_path;
    std::string m_partPath;
    std::string m_error;
    size_t m_cSteps = 0;
};

// The job, or an error that says where and why the bytes are not a job file.
struct LoadedJob
{
    std::optional<Job> job;
    std::string error;
};
LoadedJob LoadJob(const Bytes &bytes);

// A job file's steps read from the file as they are needed: Open checks the
// whole file's structure first (refusing what LoadJob refuses, in the same
// words) and notes where each step lies, so that a job of any size is run
// holding one step at a time.
class JobFileSteps : public StepSource
{
  public:
    JobFileSteps();
    ~JobFileSteps() override;
    JobFileSteps(const JobFileSteps &) = delete;
    JobFileSteps &operator=(const JobFileSteps &) = delete;

    // False, with why: the file cannot be read, or is not a job file
    // (LoadJob's "offset N: ..." message).
    bool Open(const std::string &path, std::string &error);
    // Open failed because the file is not a job file (not because it could
    // not be read).
    bool Refused() const
    {
        return m_refused;
    }

    size_t Count() const override
    {
        return m_steps.size();
    }
    StepKind Kind(size_t i) const override
    {
        return m_steps[i].kind;
    }
    size_t Size(size_t i) const override
    {
        return m_steps[i].cb;
    }
    bool ReadPart(size_t i, size_t offset, BYTE *out, size_t cb) const override;
    const Bytes *Data(size_t i, Bytes &buffer) const override;
    // Taken as Open read the file: no read.
    size_t Lead(size_t i, BYTE (&out)[kLead]) const override;
    std::string Error() const override
    {
        return m_error;
    }
    const WString &DocumentName() const override
    {
        return m_documentName;
    }
    bool EndDoc() const override
    {
        return m_endDoc;
    }
    bool Abort() const override
    {
        return m_abort;
    }
    const std::string &Source() const override
    {
        return m_source;
    }
    // The file opened again, with the same steps (a file that cannot be
    // opened again gives a source whose reads fail, saying why).
    std::unique_ptr<StepSource> Twin() const override;

  private:
    struct Entry
    {
        uint64_t at; // of the data in the file
        uint32_t cb;
        StepKind kind;
        BYTE lead[kLead]; // the first bytes of the data, as Open read them
    };
    bool ReadAt(uint64_t at, BYTE *out, size_t cb, bool readOver = false) const;
    std::string Changed(size_t i) const;
    struct File;
    std::unique_ptr<File> m_file;
    std::string m_path;
    std::vector<Entry> m_steps;
    WString m_documentName;
    bool m_endDoc = true;
    bool m_abort = false;
    std::string m_source;
    bool m_refused = false;
    std::string m_openError; // a twin whose file could not be opened again
    mutable std::string m_error;
};

} // namespace spoolsim
