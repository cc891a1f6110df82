#include "jobfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

namespace spoolsim
{

static const char kMagic[8] = {'K', 'D', 'J', 'O', 'B', '\r', '\n', '\x1A'};
static const uint32_t kVersion = 1;
static const uint32_t kVersionWithSource = 2;
// A path, not a document: longer than any file system takes.
static const uint32_t kMostSource = 4096;

static void PutU32(Bytes &b, uint32_t v)
{
    for (int i = 0; i < 4; i++)
    {
        b.push_back(static_cast<BYTE>(v >> (8 * i)));
    }
}

Bytes JobFileHead(const WString &documentName, bool endDoc, bool abort, bool withSource, uint32_t cSteps)
{
    Bytes b(kMagic, kMagic + sizeof(kMagic));
    PutU32(b, withSource ? kVersionWithSource : kVersion);
    b.push_back(static_cast<BYTE>((endDoc ? 1 : 0) | (abort ? 2 : 0)));
    PutU32(b, static_cast<uint32_t>(documentName.size()));
    for (WCHAR c : documentName)
    {
        b.push_back(static_cast<BYTE>(c));
        b.push_back(static_cast<BYTE>(static_cast<uint16_t>(c) >> 8));
    }
    PutU32(b, cSteps);
    return b;
}

Bytes JobFileStepHead(StepKind kind, uint32_t cb)
{
    Bytes b(1, static_cast<BYTE>(kind));
    PutU32(b, cb);
    return b;
}

Bytes JobFileTail(const std::string &source)
{
    if (source.empty())
    {
        return Bytes();
    }
    // Sized at once: growing it byte by byte trips mingw's overread warning.
    Bytes b(4 + source.size());
    for (size_t i = 0; i < 4; i++)
    {
        b[i] = static_cast<BYTE>(source.size() >> (8 * i));
    }
    std::copy(source.begin(), source.end(), b.begin() + 4);
    return b;
}

// The file's bytes in order, a step's data straight from the step: a job is
// as large as its document, and need not be copied whole to be saved.
static void WriteJob(const Job &job, const std::function<void(const BYTE *, size_t)> &put)
{
    const Bytes head = JobFileHead(job.documentName, job.endDoc, job.abort, !job.source.empty(),
                                   static_cast<uint32_t>(job.steps.size()));
    put(head.data(), head.size());
    for (const Step &s : job.steps)
    {
        const Bytes stepHead = JobFileStepHead(s.kind, static_cast<uint32_t>(s.data.size()));
        put(stepHead.data(), stepHead.size());
        put(s.data.data(), s.data.size());
    }
    const Bytes tail = JobFileTail(job.source);
    put(tail.data(), tail.size());
}

Bytes SaveJob(const Job &job)
{
    Bytes b;
    WriteJob(job, [&b](const BYTE *p, size_t n) { b.insert(b.end(), p, p + n); });
    return b;
}

bool SaveJobFile(const Job &job, const std::string &path, std::string &error)
{
    JobFileWriter writer;
    if (!writer.Open(path, job.documentName, job.endDoc, job.abort, error))
    {
        return false;
    }
    for (const Step &s : job.steps)
    {
        if (!writer.Add(s.kind, s.data.data(), s.data.size()))
        {
            error = writer.Error();
            return false;
        }
    }
    return writer.Finish(job.source, error);
}

namespace
{
// The bytes of a job file in memory.
class Reader
{
  public:
    explicit Reader(const Bytes &b) : m_b(b)
    {
    }
    uint64_t Size() const
    {
        return m_b.size();
    }
    uint64_t Offset() const
    {
        return m_ib;
    }
    BYTE U8()
    {
        return m_b[m_ib++];
    }
    void Copy(BYTE *out, size_t cb)
    {
        std::memcpy(out, m_b.data() + m_ib, cb);
        m_ib += cb;
    }
    void Skip(uint64_t cb)
    {
        m_ib += cb;
    }
    bool Failed() const
    {
        return false;
    }

  private:
    const Bytes &m_b;
    size_t m_ib = 0;
};

// A job file on disk, read forward through a buffer; a step's data are
// skipped, not read.
class FileReader
{
  public:
    FileReader(std::ifstream &in, uint64_t size) : m_in(in), m_size(size)
    {
    }
    uint64_t Size() const
    {
        return m_size;
    }
    uint64_t Offset() const
    {
        return m_at;
    }
    BYTE U8()
    {
        BYTE b = 0;
        Copy(&b, 1);
        return b;
    }
    void Copy(BYTE *out, size_t cb)
    {
        while (cb > 0 && !m_failed)
        {
            if (m_at < m_bufAt || m_at >= m_bufAt + m_cbBuf)
            {
                Fill();
                continue;
            }
            const size_t n = std::min<uint64_t>(cb, m_bufAt + m_cbBuf - m_at);
            std::memcpy(out, m_buf + (m_at - m_bufAt), n);
            out += n;
            cb -= n;
            m_at += n;
        }
    }
    void Skip(uint64_t cb)
    {
        m_at += cb;
    }
    // Copies without moving on.
    void Peek(BYTE *out, size_t cb)
    {
        const uint64_t at = m_at;
        Copy(out, cb);
        m_at = at;
    }
    bool Failed() const
    {
        return m_failed;
    }

  private:
    void Fill()
    {
        m_in.clear();
        m_in.seekg(static_cast<std::streamoff>(m_at));
        m_in.read(reinterpret_cast<char *>(m_buf), sizeof(m_buf));
        m_bufAt = m_at;
        m_cbBuf = static_cast<size_t>(m_in.gcount());
        m_failed = m_cbBuf == 0;
    }
    std::ifstream &m_in;
    uint64_t m_size;
    uint64_t m_at = 0;
    BYTE m_buf[65536];
    uint64_t m_bufAt = 0;
    size_t m_cbBuf = 0;
    bool m_failed = false;
};

struct JobHead
{
    WString documentName;
    bool endDoc = true;
    bool abort = false;
    std::string source;
};

template <typename R>
bool Take(R &r, uint64_t cb, const char *what, std::string &error)
{
    if (r.Size() - r.Offset() < cb)
    {
        error = "offset " + std::to_string(r.Offset()) + ": " + what + " needs " + std::to_string(cb) + " bytes, " +
                std::to_string(r.Size() - r.Offset()) + " remain";
        return false;
    }
    return true;
}

template <typename R>
uint32_t U32(R &r)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; i++)
    {
        v |= static_cast<uint32_t>(r.U8()) << (8 * i);
    }
    return v;
}

// Checks a job file's structure, telling onStep of each step (its kind, the
// offset of its data and their size) as it is passed. One parser for a file
// in memory and one on disk, so that both refuse the same bytes in the same
// words.
template <typename R>
bool ParseJob(R &r, JobHead &head, const std::function<void(StepKind, uint64_t, uint32_t)> &onStep, std::string &error)
{
    if (!Take(r, sizeof(kMagic), "the file header", error))
    {
        return false;
    }
    BYTE magic[sizeof(kMagic)];
    r.Copy(magic, sizeof(magic));
    if (r.Failed() || std::memcmp(magic, kMagic, sizeof(kMagic)) != 0)
    {
        error = "offset 0: not a job file (no KDJOB header)";
        return false;
    }
    if (!Take(r, 4 + 1 + 4, "the version, flags and name length", error))
    {
        return false;
    }
    uint32_t version = U32(r);
    if (version != kVersion && version != kVersionWithSource)
    {
        error = "offset 8: job file version " + std::to_string(version) + " is not 1 or 2";
        return false;
    }
    BYTE flags = r.U8();
    if (flags & ~3u)
    {
        error = "offset 12: unknown flags " + std::to_string(flags);
        return false;
    }
    head.endDoc = (flags & 1) != 0;
    head.abort = (flags & 2) != 0;
    uint32_t cchName = U32(r);
    if (cchName > 4096 || !Take(r, 2 * static_cast<uint64_t>(cchName), "the document name", error))
    {
        if (error.empty())
        {
            error = "offset 13: document name of " + std::to_string(cchName) + " characters is too long";
        }
        return false;
    }
    head.documentName.clear();
    for (uint32_t i = 0; i < cchName; i++)
    {
        uint16_t lo = r.U8();
        uint16_t hi = r.U8();
        head.documentName += static_cast<WCHAR>(lo | (hi << 8));
    }
    if (!Take(r, 4, "the step count", error))
    {
        return false;
    }
    uint32_t cSteps = U32(r);
    for (uint32_t i = 0; i < cSteps && !r.Failed(); i++)
    {
        const uint64_t at = r.Offset();
        if (!Take(r, 5, "a step", error))
        {
            return false;
        }
        BYTE kind = r.U8();
        uint32_t cb = U32(r);
        if (kind > 2 || (kind != 0 && cb != 0))
        {
            error = "offset " + std::to_string(at) + ": step " + std::to_string(i + 1) + " has kind " +
                    std::to_string(kind) + " with " + std::to_string(cb) + " bytes";
            return false;
        }
        if (!Take(r, cb, "the step's data", error))
        {
            return false;
        }
        onStep(static_cast<StepKind>(kind), r.Offset(), cb);
        r.Skip(cb);
    }
    if (version == kVersionWithSource)
    {
        const uint64_t at = r.Offset();
        if (!Take(r, 4, "the source path length", error))
        {
            return false;
        }
        const uint32_t cb = U32(r);
        if (cb == 0 || cb > kMostSource)
        {
            error = "offset " + std::to_string(at) + ": a source path of " + std::to_string(cb) + " bytes (1 to " +
                    std::to_string(kMostSource) + ")";
            return false;
        }
        if (!Take(r, cb, "the source path", error))
        {
            return false;
        }
        head.source.resize(cb);
        r.Copy(reinterpret_cast<BYTE *>(&head.source[0]), cb);
        if (head.source.find('\0') != std::string::npos)
        {
            error = "offset " + std::to_string(at + 4) + ": the source path holds a NUL byte";
            return false;
        }
    }
    if (r.Failed())
    {
        error = "offset " + std::to_string(r.Offset()) + ": the file could not be read";
        return false;
    }
    if (r.Offset() != r.Size())
    {
        error = "offset " + std::to_string(r.Offset()) + ": data after the last step";
        return false;
    }
    return true;
}
} // namespace

LoadedJob LoadJob(const Bytes &bytes)
{
    LoadedJob out;
    Reader r(bytes);
    JobHead head;
    std::vector<Step> steps;
    auto onStep = [&](StepKind kind, uint64_t at, uint32_t cb) {
        steps.push_back({kind, Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(at + cb))});
    };
    if (!ParseJob(r, head, onStep, out.error))
    {
        return out;
    }
    Job job;
    job.documentName = std::move(head.documentName);
    job.endDoc = head.endDoc;
    job.abort = head.abort;
    job.source = std::move(head.source);
    job.steps = std::move(steps);
    out.job = std::move(job);
    return out;
}

struct JobFileSteps::File
{
    std::ifstream in;
    uint64_t at = 0; // where the stream stands
};

JobFileSteps::JobFileSteps() : m_file(new File)
{
}

JobFileSteps::~JobFileSteps() = default;

// Opens the job file at path for reading; false with the system's reason when it cannot be.
static bool OpenForReading(std::ifstream &in, const std::string &path, std::string &why)
{
    errno = 0;
    in.open(std::filesystem::u8path(path), std::ios::binary);
    if (!in)
    {
        why = errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
        return false;
    }
    return true;
}

bool JobFileSteps::Open(const std::string &path, std::string &error)
{
    m_path = path;
    m_steps.clear();
    m_refused = false;
    std::string why;
    if (!OpenForReading(m_file->in, path, why))
    {
        error = "cannot open " + path + why;
        return false;
    }
    m_file->in.seekg(0, std::ios::end);
    const std::streamoff size = m_file->in.tellg();
    if (size < 0)
    {
        error = "cannot read " + path + ": its size cannot be told";
        return false;
    }
    FileReader r(m_file->in, static_cast<uint64_t>(size));
    JobHead head;
    // Each step's lead is in the reader's buffer as the step is passed.
    auto onStep = [this, &r](StepKind kind, uint64_t at, uint32_t cb) {
        Entry e{at, cb, kind, {}};
        r.Peek(e.lead, std::min<size_t>(cb, kLead));
        m_steps.push_back(e);
    };
    if (!ParseJob(r, head, onStep, error))
    {
        m_refused = !r.Failed();
        if (r.Failed())
        {
            error = "cannot read " + path + ": " + error;
        }
        m_steps.clear();
        return false;
    }
    m_documentName = std::move(head.documentName);
    m_endDoc = head.endDoc;
    m_abort = head.abort;
    m_source = std::move(head.source);
    m_file->in.clear();
    m_file->at = ~uint64_t(0);
    return true;
}

std::unique_ptr<StepSource> JobFileSteps::Twin() const
{
    std::unique_ptr<JobFileSteps> twin(new JobFileSteps);
    twin->m_path = m_path;
    twin->m_steps = m_steps;
    twin->m_documentName = m_documentName;
    twin->m_endDoc = m_endDoc;
    twin->m_abort = m_abort;
    twin->m_source = m_source;
    twin->m_file->at = ~uint64_t(0);
    std::string why;
    if (!OpenForReading(twin->m_file->in, m_path, why))
    {
        twin->m_openError = "cannot open " + m_path + " again" + why;
    }
    return twin;
}

bool JobFileSteps::ReadAt(uint64_t at, BYTE *out, size_t cb, bool readOver) const
{
    // readOver: a little way ahead (the next step's head, past the rest of
    // a step whose head was read) the stream reads over the gap, as a seek
    // throws its buffer away and costs a read of the system per step. Not
    // for a step's data: those are read afresh, so that a file changed
    // while it runs is seen.
    static const uint64_t kReadOver = 8192;
    std::ifstream &in = m_file->in;
    const uint64_t now = m_file->at;
    bool placed = now == at;
    if (!placed && readOver && now != ~uint64_t(0) && at > now && at - now <= kReadOver)
    {
        in.ignore(static_cast<std::streamsize>(at - now));
        placed = in && static_cast<uint64_t>(in.gcount()) == at - now;
    }
    if (!placed)
    {
        in.clear();
        in.seekg(static_cast<std::streamoff>(at));
    }
    in.read(reinterpret_cast<char *>(out), static_cast<std::streamsize>(cb));
    const size_t got = static_cast<size_t>(in.gcount());
    m_file->at = in ? at + got : ~uint64_t(0);
    return got == cb;
}

bool JobFileSteps::ReadPart(size_t i, size_t offset, BYTE *out, size_t cb) const
{
    const Entry &e = m_steps[i];
    if (offset > e.cb || e.cb - offset < cb)
    {
        m_error = "bytes " + std::to_string(offset) + " to " + std::to_string(offset + cb) + " of a step of " +
                  std::to_string(e.cb);
        return false;
    }
    if (!ReadAt(e.at + offset, out, cb, true))
    {
        m_error = Changed(i);
        return false;
    }
    return true;
}

size_t JobFileSteps::Lead(size_t i, BYTE (&out)[kLead]) const
{
    const Entry &e = m_steps[i];
    const size_t cb = std::min<size_t>(e.cb, kLead);
    std::memcpy(out, e.lead, cb);
    return cb;
}

const Bytes *JobFileSteps::Data(size_t i, Bytes &buffer) const
{
    // The step's head is read again with its data: a file that was changed
    // in place is seen, not replayed as something else.
    const Entry &e = m_steps[i];
    BYTE head[5];
    buffer.resize(e.cb);
    if (!ReadAt(e.at - 5, head, sizeof(head)) || head[0] != static_cast<BYTE>(e.kind) ||
        (head[1] | head[2] << 8 | head[3] << 16 | static_cast<uint32_t>(head[4]) << 24) != e.cb ||
        !ReadAt(e.at, buffer.data(), e.cb))
    {
        m_error = Changed(i);
        return nullptr;
    }
    return &buffer;
}

std::string JobFileSteps::Changed(size_t i) const
{
    if (!m_openError.empty())
    {
        return m_openError;
    }
    const Entry &e = m_steps[i];
    return "the job file " + m_path + " changed after it was checked: the step's " + std::to_string(e.cb) +
           " bytes at offset " + std::to_string(e.at) + " are no longer there as they were";
}

} // namespace spoolsim
