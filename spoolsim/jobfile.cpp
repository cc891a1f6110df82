#include "jobfile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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

// The file's bytes in order, a step's data straight from the step: a job is
// as large as its document, and need not be copied whole to be saved.
static void WriteJob(const Job &job, const std::function<void(const BYTE *, size_t)> &put)
{
    Bytes b(kMagic, kMagic + sizeof(kMagic));
    PutU32(b, job.source.empty() ? kVersion : kVersionWithSource);
    b.push_back(static_cast<BYTE>((job.endDoc ? 1 : 0) | (job.abort ? 2 : 0)));
    PutU32(b, static_cast<uint32_t>(job.documentName.size()));
    for (WCHAR c : job.documentName)
    {
        b.push_back(static_cast<BYTE>(c));
        b.push_back(static_cast<BYTE>(static_cast<uint16_t>(c) >> 8));
    }
    PutU32(b, static_cast<uint32_t>(job.steps.size()));
    put(b.data(), b.size());
    for (const Step &s : job.steps)
    {
        b.clear();
        b.push_back(static_cast<BYTE>(s.kind));
        PutU32(b, static_cast<uint32_t>(s.data.size()));
        put(b.data(), b.size());
        put(s.data.data(), s.data.size());
    }
    if (!job.source.empty())
    {
        b.clear();
        PutU32(b, static_cast<uint32_t>(job.source.size()));
        b.insert(b.end(), job.source.begin(), job.source.end());
        put(b.data(), b.size());
    }
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
class Reader
{
  public:
    explicit Reader(const Bytes &b) : m_b(b)
    {
    }
    bool Take(size_t cb, const char *what, std::string &error)
    {
        if (m_b.size() - m_ib < cb)
        {
            error = "offset " + std::to_string(m_ib) + ": " + what + " needs " + std::to_string(cb) + " bytes, " +
                    std::to_string(m_b.size() - m_ib) + " remain";
            return false;
        }
        return true;
    }
    uint32_t U32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++)
        {
            v |= static_cast<uint32_t>(m_b[m_ib++]) << (8 * i);
        }
        return v;
    }
    BYTE U8()
    {
        return m_b[m_ib++];
    }
    size_t Offset() const
    {
        return m_ib;
    }
    bool AtEnd() const
    {
        return m_ib == m_b.size();
    }
    const BYTE *Here() const
    {
        return m_b.data() + m_ib;
    }
    void Skip(size_t cb)
    {
        m_ib += cb;
    }

  private:
    const Bytes &m_b;
    size_t m_ib = 0;
};
} // namespace

LoadedJob LoadJob(const Bytes &bytes)
{
    LoadedJob out;
    Reader r(bytes);
    Job job;
    if (!r.Take(sizeof(kMagic), "the file header", out.error))
    {
        return out;
    }
    if (!std::equal(kMagic, kMagic + sizeof(kMagic), bytes.begin()))
    {
        out.error = "offset 0: not a job file (no KDJOB header)";
        return out;
    }
    r.Skip(sizeof(kMagic));
    if (!r.Take(4 + 1 + 4, "the version, flags and name length", out.error))
    {
        return out;
    }
    uint32_t version = r.U32();
    if (version != kVersion && version != kVersionWithSource)
    {
        out.error = "offset 8: job file version " + std::to_string(version) + " is not 1 or 2";
        return out;
    }
    BYTE flags = r.U8();
    if (flags & ~3u)
    {
        out.error = "offset 12: unknown flags " + std::to_string(flags);
        return out;
    }
    job.endDoc = (flags & 1) != 0;
    job.abort = (flags & 2) != 0;
    uint32_t cchName = r.U32();
    if (cchName > 4096 || !r.Take(2 * static_cast<size_t>(cchName), "the document name", out.error))
    {
        if (out.error.empty())
        {
            out.error = "offset 13: document name of " + std::to_string(cchName) + " characters is too long";
        }
        return out;
    }
    job.documentName.clear();
    for (uint32_t i = 0; i < cchName; i++)
    {
        uint16_t lo = r.U8();
        uint16_t hi = r.U8();
        job.documentName += static_cast<WCHAR>(lo | (hi << 8));
    }
    if (!r.Take(4, "the step count", out.error))
    {
        return out;
    }
    uint32_t cSteps = r.U32();
    for (uint32_t i = 0; i < cSteps; i++)
    {
        size_t at = r.Offset();
        if (!r.Take(5, "a step", out.error))
        {
            return out;
        }
        BYTE kind = r.U8();
        uint32_t cb = r.U32();
        if (kind > 2 || (kind != 0 && cb != 0))
        {
            out.error = "offset " + std::to_string(at) + ": step " + std::to_string(i + 1) + " has kind " +
                        std::to_string(kind) + " with " + std::to_string(cb) + " bytes";
            return out;
        }
        if (!r.Take(cb, "the step's data", out.error))
        {
            return out;
        }
        Step step{static_cast<StepKind>(kind), Bytes(r.Here(), r.Here() + cb)};
        r.Skip(cb);
        job.steps.push_back(std::move(step));
    }
    if (version == kVersionWithSource)
    {
        const size_t at = r.Offset();
        if (!r.Take(4, "the source path length", out.error))
        {
            return out;
        }
        const uint32_t cb = r.U32();
        if (cb == 0 || cb > kMostSource)
        {
            out.error = "offset " + std::to_string(at) + ": a source path of " + std::to_string(cb) + " bytes (1 to " +
                        std::to_string(kMostSource) + ")";
            return out;
        }
        if (!r.Take(cb, "the source path", out.error))
        {
            return out;
        }
        job.source.assign(reinterpret_cast<const char *>(r.Here()), cb);
        r.Skip(cb);
        if (job.source.find('\0') != std::string::npos)
        {
            out.error = "offset " + std::to_string(at + 4) + ": the source path holds a NUL byte";
            return out;
        }
    }
    if (!r.AtEnd())
    {
        out.error = "offset " + std::to_string(r.Offset()) + ": data after the last step";
        return out;
    }
    out.job = std::move(job);
    return out;
}

} // namespace spoolsim
