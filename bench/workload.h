// What kd_bench measures, on both builds: the hook's side through the
// simulated spooler, and each twin's side, which does exactly the hook's data
// movement with plain file calls.
//
//   intake    a job in B-byte buffers spooled by DrvSplWritePrinter
//             / the same buffers, one write each, to a new file in the same folder
//   output    DrvSplEndDoc of a spooled document: 3 collated copies, or reverse order
//             / the hook's page ranges in the hook's order, each a seek and then
//               reads into one 8 KiB buffer, every piece read written to the printer
//   per call  one 16-byte DrvSplWritePrinter on the direct path, its printer write
//             going on to a file / one 16-byte write to a file
//   memory    the resident set's growth over a 1 GB job against a 1 MB job
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files.h"
#include "measure.h"
#include "options.h"
#include "platform.h"
#include "session.h"
#include "spoolsim.h"

namespace bench
{

using spoolsim::Bytes;
using spoolsim::JobSession;
using spoolsim::WString;

// Ends the program with a message: a benchmark whose work failed has nothing
// to report.
[[noreturn]] void Fatal(const std::string &what);

// The machine and the spooler with the hook loaded, made once: loading the
// hook library is no part of what is measured. The simulated printer keeps no
// data; the sink of a measurement takes them.
class World
{
  public:
    explicit World(const Options &o);
    ~World();
    World(const World &) = delete;
    World &operator=(const World &) = delete;

    spoolsim::Spooler &Spooler()
    {
        return *m_spooler;
    }
    // A file in the temp folder, where the hook makes its spool files.
    WString TempFile(const WString &name) const
    {
        return m_temp + name;
    }
    const WString &PrinterPath() const
    {
        return m_printer;
    }

  private:
    std::unique_ptr<spoolsim::Machine> m_machine;
    std::unique_ptr<spoolsim::Spooler> m_spooler;
    WString m_temp;
    WString m_printer;
};

// The settings block of a job.
Bytes Settings(bool collate, short copies, bool reverse);

// A document as the rendering driver sends it: a 16-byte header (its last 8
// bytes the two lead-ins), pages of cbPage bytes each behind a page-start
// marker, the end marker, a 9-byte trailer; page data in 64 KiB buffers.
struct Document
{
    size_t cPages;
    size_t cbPage;
};
// perPage, when given, is called after each page.
void SpoolDocument(JobSession &job, const Bytes &settings, const Document &doc,
                   const std::function<void()> &perPage = nullptr);

// What the hook keeps of a document in its spool file (the markers are
// consumed): header, pages, trailer; and where page k (1-based) starts.
uint64_t SpooledSize(const Document &doc);
uint32_t PageStart(const Document &doc, size_t k);

enum class OutputMode
{
    Collate, // 3 collated copies
    Reverse, // pages last to first
};

// One step of the hook's output routine over its spool file.
struct Step
{
    enum Kind
    {
        Range,       // seek to from, then copy to to in pieces of at most 8 KiB
        ReadLeadIns, // seek to from, read the 8 lead-in bytes
        WriteLeadIn, // write lead-in number which (0 or 1), 4 bytes
    } kind;
    uint32_t from = 0, to = 0;
    int which = 0;
};
// The steps of DrvSplEndDoc for the document with the benchmark's settings.
std::vector<Step> OutputPlan(const Document &doc, OutputMode mode);

// A printer that keeps the size of every write and a hash of the bytes: the
// check that a twin sends what the hook sends, in the same writes.
struct RecordingPrinter
{
    std::vector<uint32_t> sizes;
    uint64_t hash = 1469598103934665603ull;
    bool Write(const void *pv, size_t cb);
    bool operator==(const RecordingPrinter &o) const
    {
        return sizes == o.sizes && hash == o.hash;
    }
};

// ---- the hook's side -------------------------------------------------------------------

using PrinterSink = std::function<void(const BYTE *, DWORD)>;

Timing IntakeHook(World &w, const Bytes &buffer, size_t cCalls);
Timing OutputHook(World &w, const Document &doc, OutputMode mode, const PrinterSink &sink, uint64_t *pcbPrinted);
Timing CallsHook(World &w, size_t cCalls, const PrinterSink &sink);
// A whole job of cMB 1 MB pages, spooled and printed (collated, one copy),
// sample() called after every megabyte in and out.
void MemoryJob(World &w, size_t cMB, const std::function<void()> &sample);

// ---- the twins' side --------------------------------------------------------------------

// The document's spooled bytes as a file of its own, written in 64 KiB pieces
// as the hook wrote them.
template <class File>
void WriteSpooled(File &f, const Document &doc)
{
    std::vector<BYTE> chunk(64 * 1024, 'p');
    static const char kHeader[] = "[header]<L1><L2>";
    static const char kTrailer[] = "[trailer]";
    bool ok = f.Write(kHeader, 16);
    for (size_t p = 0; p < doc.cPages; p++)
    {
        for (size_t done = 0; done < doc.cbPage; done += chunk.size())
        {
            ok = ok && f.Write(chunk.data(), std::min(chunk.size(), doc.cbPage - done));
        }
    }
    ok = ok && f.Write(kTrailer, 9);
    if (!ok)
    {
        Fatal("cannot write the twin's copy of the spool file");
    }
}

// The output routine's steps over a spool file, with one 8 KiB buffer;
// FALSE when a read or write fails.
template <class File, class Printer>
bool RunPlan(File &f, Printer &printer, const std::vector<Step> &plan, uint64_t *pcbPrinted)
{
    BYTE buffer[8192];
    BYTE leadIns[8];
    uint64_t cbPrinted = 0;
    for (const Step &s : plan)
    {
        switch (s.kind)
        {
        case Step::Range: {
            if (s.to <= s.from)
            {
                break;
            }
            if (!f.Seek(s.from))
            {
                return false;
            }
            for (uint32_t cbLeft = s.to - s.from; cbLeft > 0;)
            {
                size_t cbChunk = cbLeft > sizeof(buffer) ? sizeof(buffer) : cbLeft;
                size_t cbRead = f.Read(buffer, cbChunk);
                if (cbRead == 0 || !printer.Write(buffer, cbRead))
                {
                    return false;
                }
                cbPrinted += cbRead;
                if (cbRead < cbChunk)
                {
                    return false;
                }
                cbLeft -= static_cast<uint32_t>(cbChunk);
            }
            break;
        }
        case Step::ReadLeadIns:
            if (!f.Seek(s.from) || f.Read(buffer, 8) != 8)
            {
                return false;
            }
            std::copy(buffer, buffer + 8, leadIns);
            break;
        case Step::WriteLeadIn:
            if (!printer.Write(leadIns + 4 * s.which, 4))
            {
                return false;
            }
            cbPrinted += 4;
            break;
        }
    }
    *pcbPrinted = cbPrinted;
    return true;
}

template <class File>
Timing IntakeTwin(World &w, const Bytes &buffer, size_t cCalls)
{
    File f(w.TempFile(W("twin-intake.tmp")), FileMode::New);
    if (!f.IsOpen())
    {
        Fatal("cannot make the intake twin's file");
    }
    bool ok = true;
    Stopwatch watch;
    for (size_t i = 0; i < cCalls; i++)
    {
        ok = f.Write(buffer.data(), buffer.size()) && ok;
    }
    Timing t = watch.Stop();
    f.Delete();
    if (!ok)
    {
        Fatal("a write of the intake twin failed");
    }
    return t;
}

template <class File, class Printer>
Timing OutputTwin(World &w, const Document &doc, const std::vector<Step> &plan, Printer &printer, uint64_t *pcbPrinted)
{
    File f(w.TempFile(W("twin-output.tmp")), FileMode::New);
    if (!f.IsOpen())
    {
        Fatal("cannot make the output twin's file");
    }
    WriteSpooled(f, doc);
    platform::Settle();
    Stopwatch watch;
    bool ok = RunPlan(f, printer, plan, pcbPrinted);
    Timing t = watch.Stop();
    f.Delete();
    if (!ok)
    {
        Fatal("a read or write of the output twin failed");
    }
    return t;
}

template <class Printer>
Timing CallsTwin(Printer &printer, size_t cCalls)
{
    BYTE buffer[16];
    std::fill(buffer, buffer + sizeof(buffer), 'd');
    bool ok = true;
    Stopwatch watch;
    for (size_t i = 0; i < cCalls; i++)
    {
        ok = printer.Write(buffer, sizeof(buffer)) && ok;
    }
    Timing t = watch.Stop();
    if (!ok)
    {
        Fatal("a write of the per-call twin failed");
    }
    return t;
}

} // namespace bench
