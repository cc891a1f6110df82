#include "workload.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench
{

void Fatal(const std::string &what)
{
    std::fprintf(stderr, "kd_bench: %s\n", what.c_str());
    std::fflush(stderr);
    std::exit(1);
}

World::World(const Options &o)
{
    platform::BeforeMachine(o);
    if (o.memoryChildMB == 0) // a memory measurement's child uses its parent's
    {
        m_machine.reset(new spoolsim::Machine());
        platform::AfterMachine(o);
    }
    WCHAR sz[MAX_PATH];
    DWORD cch = GetTempPathW(MAX_PATH, sz);
    if (cch == 0 || cch >= MAX_PATH)
    {
        Fatal("no temp folder");
    }
    m_temp = sz;
    m_spooler.reset(new spoolsim::Spooler());
    if (!m_spooler->Loaded())
    {
        Fatal("the hook library did not load");
    }
    m_spooler->keepData = false;
    spoolsim::DropDebugOutput();
    m_printer = spoolsim::Widen(o.printer.empty() ? platform::NullDevice() : o.printer);
}

World::~World()
{
    m_spooler.reset();
    m_machine.reset();
    platform::Tidy();
}

Bytes Settings(bool collate, short copies, bool reverse)
{
    DRVDEVMODE dm = spoolsim::DefaultSettings();
    dm.sCollate = collate ? 1 : 0;
    dm.dmPublic.dmCopies = copies;
    dm.sReverseOrder = reverse ? 1 : 0;
    const BYTE *p = reinterpret_cast<const BYTE *>(&dm);
    return Bytes(p, p + sizeof(dm));
}

namespace
{

const DWORD kHeaderBytes = 16;
const DWORD kTrailerBytes = 9;

bool WriteAll(JobSession &job, const void *pv, DWORD cb)
{
    DWORD cbDone = 0;
    return job.Write(pv, cb, &cbDone) && cbDone == cb;
}

} // namespace

void SpoolDocument(JobSession &job, const Bytes &settings, const Document &doc, const std::function<void()> &perPage)
{
    static const BYTE kPageStart[] = {0x1B, 0xF0, 0x10, 0xAA, 0x01};
    static const BYTE kEnd[] = {0x1B, 0xF0, 0x10, 0xFF, 0x01, 0x00};
    Bytes chunk(64 * 1024, 'p');
    bool ok = WriteAll(job, settings.data(), static_cast<DWORD>(settings.size()));
    ok = ok && WriteAll(job, "[header]<L1><L2>", kHeaderBytes);
    for (size_t p = 0; p < doc.cPages && ok; p++)
    {
        job.StartPage();
        ok = WriteAll(job, kPageStart, sizeof(kPageStart));
        for (size_t done = 0; done < doc.cbPage && ok; done += chunk.size())
        {
            ok = WriteAll(job, chunk.data(), static_cast<DWORD>(std::min(chunk.size(), doc.cbPage - done)));
        }
        job.EndPage();
        if (perPage)
        {
            perPage();
        }
    }
    // The end marker carries the copies of a collated job.
    BYTE end[sizeof(kEnd)];
    std::memcpy(end, kEnd, sizeof(end));
    end[4] = settings[offsetof(DRVDEVMODE, dmPublic.dmCopies)];
    ok = ok && WriteAll(job, end, sizeof(end));
    ok = ok && WriteAll(job, "[trailer]", kTrailerBytes);
    if (!ok)
    {
        Fatal("the hook refused a buffer of the document");
    }
}

uint64_t SpooledSize(const Document &doc)
{
    return kHeaderBytes + static_cast<uint64_t>(doc.cPages) * doc.cbPage + kTrailerBytes;
}

uint32_t PageStart(const Document &doc, size_t k)
{
    return static_cast<uint32_t>(kHeaderBytes + (k - 1) * doc.cbPage);
}

// The benchmark's settings leave the copy command and the reverse lead-in
// off, so: collated, the whole header, then each copy's pages in order, then
// the trailer; reversed, the header without its lead-ins, which are read and
// the second one sent, then the pages from the last, then the trailer.
std::vector<Step> OutputPlan(const Document &doc, OutputMode mode)
{
    std::vector<Step> plan;
    const size_t n = doc.cPages;
    const uint32_t trailer = PageStart(doc, n + 1);
    const uint32_t end = static_cast<uint32_t>(SpooledSize(doc));
    auto range = [&](uint32_t from, uint32_t to) { plan.push_back(Step{Step::Range, from, to, 0}); };
    if (mode == OutputMode::Collate)
    {
        range(0, PageStart(doc, 1));
        for (int copy = 0; copy < 3; copy++)
        {
            for (size_t k = 1; k <= n; k++)
            {
                range(PageStart(doc, k), PageStart(doc, k + 1));
            }
        }
    }
    else
    {
        range(0, PageStart(doc, 1) - 8);
        plan.push_back(Step{Step::ReadLeadIns, PageStart(doc, 1) - 8, 0, 0});
        plan.push_back(Step{Step::WriteLeadIn, 0, 0, 1});
        for (size_t k = n; k >= 1; k--)
        {
            range(PageStart(doc, k), PageStart(doc, k + 1));
        }
    }
    range(trailer, end);
    return plan;
}

bool RecordingPrinter::Write(const void *pv, size_t cb)
{
    const BYTE *pb = static_cast<const BYTE *>(pv);
    for (size_t i = 0; i < cb; i++)
    {
        hash = (hash ^ pb[i]) * 1099511628211ull;
    }
    sizes.push_back(static_cast<uint32_t>(cb));
    return true;
}

// ---- the hook's side -------------------------------------------------------------------

Timing IntakeHook(World &w, const Bytes &buffer, size_t cCalls)
{
    const DWORD cb = static_cast<DWORD>(buffer.size());
    Bytes settings = Settings(true, 1, false); // one collated copy: the job is spooled
    JobSession job(w.Spooler());
    bool ok = WriteAll(job, settings.data(), static_cast<DWORD>(settings.size()));
    Stopwatch watch;
    for (size_t i = 0; i < cCalls; i++)
    {
        ok = WriteAll(job, buffer.data(), cb) && ok;
    }
    Timing t = watch.Stop();
    job.Finish(false); // DrvSplClose deletes the spool file
    if (!ok)
    {
        Fatal("the hook refused an intake buffer");
    }
    return t;
}

Timing OutputHook(World &w, const Document &doc, OutputMode mode, const PrinterSink &sink, uint64_t *pcbPrinted)
{
    Bytes settings = mode == OutputMode::Collate ? Settings(true, 3, false) : Settings(false, 1, true);
    w.Spooler().printerSink = sink;
    Timing t;
    {
        JobSession job(w.Spooler());
        SpoolDocument(job, settings, doc);
        platform::Settle();
        Stopwatch watch;
        job.EndDoc(); // the output routine: all that is timed
        t = watch.Stop();
        spoolsim::RunResult r = job.Finish();
        *pcbPrinted = r.PrinterDocument(0).cbTotal;
    }
    w.Spooler().printerSink = nullptr;
    return t;
}

Timing CallsHook(World &w, size_t cCalls, const PrinterSink &sink)
{
    Bytes settings = Settings(false, 1, false); // nothing to reorder: the direct path
    BYTE buffer[16];
    std::memset(buffer, 'd', sizeof(buffer));
    w.Spooler().printerSink = sink;
    Timing t;
    bool ok;
    {
        JobSession job(w.Spooler());
        ok = WriteAll(job, settings.data(), static_cast<DWORD>(settings.size()));
        Stopwatch watch;
        for (size_t i = 0; i < cCalls; i++)
        {
            ok = WriteAll(job, buffer, sizeof(buffer)) && ok;
        }
        t = watch.Stop();
        job.Finish();
    }
    w.Spooler().printerSink = nullptr;
    if (!ok)
    {
        Fatal("the hook refused a direct write");
    }
    return t;
}

void MemoryJob(World &w, size_t cMB, const std::function<void()> &sample)
{
    uint64_t cbSinceSample = 0;
    w.Spooler().printerSink = [&](const BYTE *, DWORD cb) {
        cbSinceSample += cb;
        if (cbSinceSample >= 1000 * 1000)
        {
            cbSinceSample = 0;
            sample();
        }
    };
    {
        JobSession job(w.Spooler());
        SpoolDocument(job, Settings(true, 1, false), Document{cMB, 1000 * 1000}, sample);
        job.Finish(true);
    }
    sample();
    w.Spooler().printerSink = nullptr;
}

} // namespace bench
