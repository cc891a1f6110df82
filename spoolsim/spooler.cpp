// The simulated spooler: printer handles, jobs and spooler documents, the
// spooler calls that the hook library makes, and the driving of a job through
// the seven hooks in the spooler's calling order.
#include "simstate.h"

#include <algorithm>
#include <cstring>

namespace spoolsim
{

Spooler::Impl *g_sim = nullptr;

static thread_local RunState *t_run = nullptr;

RunState *CurrentRun()
{
    return t_run;
}

CurrentRunScope::CurrentRunScope(RunState *run) : m_previous(t_run)
{
    t_run = run;
}

CurrentRunScope::~CurrentRunScope()
{
    t_run = m_previous;
}

void DebugStringArrived(const WString &s)
{
    RunState *run = t_run;
    if (run != nullptr && run->keepTraces && run->result != nullptr &&
        (run->printer == nullptr || !run->printer->keepTrace || run->printer->keepTrace(s)))
    {
        run->result->traces.push_back(s);
    }
}

DWORD Spooler::Impl::NewJobId()
{
    EnterCriticalSection(&lock);
    DWORD id = nextJobId++;
    LeaveCriticalSection(&lock);
    return id;
}

PrinterHandle *RunState::FindHandle(HANDLE h)
{
    for (PrinterHandle &ph : handles)
    {
        if (&ph == h)
        {
            return &ph;
        }
    }
    return nullptr;
}

PrinterHandle *RunState::NewHandle()
{
    handles.emplace_back();
    return &handles.back();
}

DWORD RunState::StartDocument(PrinterHandle *ph, const WString &name, const WString &output, const WString &datatype,
                              bool nested)
{
    Document doc;
    doc.jobId = sim->NewJobId();
    doc.name = name;
    doc.outputFile = output;
    doc.datatype = datatype;
    doc.nested = nested;
    documents.push_back(doc);
    ph->iOpenDocument = static_cast<int>(documents.size() - 1);
    return doc.jobId;
}

// Ends the document open on the handle. A finished document with an output
// file is written to it, as the spooler despools a job to a file port.
bool RunState::EndDocument(PrinterHandle *ph, bool aborted)
{
    if (ph->iOpenDocument < 0)
    {
        return false;
    }
    Document &doc = documents[static_cast<size_t>(ph->iOpenDocument)];
    ph->iOpenDocument = -1;
    doc.ended = !aborted;
    doc.aborted = aborted;
    if (!aborted && !doc.outputFile.empty())
    {
        Machine::WriteFileBytes(doc.outputFile, doc.data);
    }
    if (printer->documentEnded && doc.outputFile.empty() && !doc.nested)
    {
        printer->documentEnded(doc);
    }
    return true;
}

void RunState::LogGdi(GdiCall call)
{
    if (result != nullptr)
    {
        result->gdiCalls.push_back(std::move(call));
    }
}

void RunState::CallOnHookThread(void (*call)(void *), void *context)
{
    Thread worker([this, call, context] {
        CurrentRunScope scope(this);
        call(context);
    });
    worker.Join();
}

void RunState::CountLeftovers()
{
    size_t cLive = 0;
    for (const GdiObject &o : objects)
    {
        cLive += o.width >= 0 ? 1 : 0;
    }
    // The stock font and pen of every DC are not the caller's to delete.
    cLive -= 2 * dcs.size();
    size_t cDCs = static_cast<size_t>(
        std::count_if(dcs.begin(), dcs.end(), [](const DeviceContext &dc) { return !dc.devmode.empty(); }));
    EnterCriticalSection(&sim->lock);
    sim->cLeftObjects += cLive;
    sim->cLeftDCs += cDCs;
    LeaveCriticalSection(&sim->lock);
}

// ---- winspool -------------------------------------------------------------------------

static BOOL WINAPI Sim_WritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten)
{
    RunState *run = CurrentRun();
    PrinterHandle *ph = run ? run->FindHandle(hPrinter) : nullptr;
    if (ph == nullptr)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (pcWritten == nullptr || (pBuf == nullptr && cbBuf != 0))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcWritten = 0;
    if (ph->iOpenDocument < 0)
    {
        SetLastError(ERROR_SPL_NO_STARTDOC);
        return FALSE;
    }
    Document &doc = run->documents[static_cast<size_t>(ph->iOpenDocument)];
    // Faults hit the printer's documents, not a watermark job's file. The
    // writes are counted only while a fault is planned: a run without one
    // pays nothing for them.
    const PrinterFault &fault = run->printer->printerFault;
    DWORD call = fault.nth == 0 || doc.nested ? 0 : ++run->cWritePrinter;
    DWORD cb = cbBuf;
    if (call != 0 && call >= fault.nth && (fault.cTimes == 0 || call < fault.nth + fault.cTimes))
    {
        if (!fault.shortWrite)
        {
            SetLastError(ERROR_WRITE_FAULT);
            return FALSE;
        }
        cb = std::min(cbBuf, fault.cbShort);
    }
    if (run->printer->documentSink && !doc.nested && doc.outputFile.empty() &&
        !run->printer->documentSink(static_cast<size_t>(ph->iOpenDocument), static_cast<const BYTE *>(pBuf), cb))
    {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    if (run->printer->keepData || !doc.outputFile.empty())
    {
        const BYTE *pb = static_cast<const BYTE *>(pBuf);
        doc.data.insert(doc.data.end(), pb, pb + cb);
        doc.writes.push_back(cb);
    }
    if (run->printer->printerSink && !doc.nested)
    {
        run->printer->printerSink(static_cast<const BYTE *>(pBuf), cb);
    }
    doc.cbTotal += cb;
    *pcWritten = cb;
    return TRUE;
}

static BOOL WINAPI Sim_EndDocPrinter(HANDLE hPrinter)
{
    RunState *run = CurrentRun();
    PrinterHandle *ph = run ? run->FindHandle(hPrinter) : nullptr;
    if (ph == nullptr)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!run->EndDocument(ph, false))
    {
        SetLastError(ERROR_SPL_NO_STARTDOC);
        return FALSE;
    }
    return TRUE;
}

static DWORD WINAPI Sim_StartDocPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pDocInfo)
{
    RunState *run = CurrentRun();
    PrinterHandle *ph = run ? run->FindHandle(hPrinter) : nullptr;
    if (ph == nullptr)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (Level != 1)
    {
        SetLastError(ERROR_INVALID_LEVEL);
        return 0;
    }
    if (pDocInfo == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (ph->iOpenDocument >= 0)
    {
        SetLastError(ERROR_INVALID_PRINTER_STATE);
        return 0;
    }
    const DOC_INFO_1W *pInfo = reinterpret_cast<const DOC_INFO_1W *>(pDocInfo);
    WString name = pInfo->pDocName ? WString(pInfo->pDocName) : WString();
    WString output = pInfo->pOutputFile ? WString(pInfo->pOutputFile) : WString();
    WString datatype = pInfo->pDatatype ? WString(pInfo->pDatatype) : WString();
    return run->StartDocument(ph, name, output, datatype, false);
}

// Packs strings behind a record, as the spooler fills its caller's buffer.
class RecordWriter
{
  public:
    RecordWriter(LPBYTE pBuf, size_t cbFixed) : m_pBuf(pBuf), m_ib(cbFixed)
    {
    }
    size_t Need(const WString &s)
    {
        return (s.size() + 1) * sizeof(WCHAR);
    }
    LPWSTR Put(const WString &s)
    {
        LPWSTR p = reinterpret_cast<LPWSTR>(m_pBuf + m_ib);
        std::memcpy(p, s.c_str(), (s.size() + 1) * sizeof(WCHAR));
        m_ib += (s.size() + 1) * sizeof(WCHAR);
        return p;
    }
    LPBYTE PutBytes(const Bytes &b)
    {
        m_ib = (m_ib + 7) & ~static_cast<size_t>(7);
        LPBYTE p = m_pBuf + m_ib;
        std::memcpy(p, b.data(), b.size());
        m_ib += b.size();
        return p;
    }

  private:
    LPBYTE m_pBuf;
    size_t m_ib;
};

static BOOL WINAPI Sim_GetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf, LPDWORD pcbNeeded)
{
    RunState *run = CurrentRun();
    PrinterHandle *ph = run ? run->FindHandle(hPrinter) : nullptr;
    if (ph == nullptr)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (Level != 1)
    {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const Document *doc = nullptr;
    for (const Document &d : run->documents)
    {
        if (d.jobId == JobId)
        {
            doc = &d;
        }
    }
    if (doc == nullptr || pcbNeeded == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const WString machine = W("\\\\SIMULATED"), user = W("tester"), datatype = W("RAW");
    RecordWriter sizer(nullptr, 0);
    size_t cbNeeded = sizeof(JOB_INFO_1W) + sizer.Need(run->printer->printerName) + sizer.Need(machine) +
                      sizer.Need(user) + sizer.Need(doc->name) + sizer.Need(datatype);
    *pcbNeeded = static_cast<DWORD>(cbNeeded);
    if (pJob == nullptr || cbBuf < cbNeeded)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    JOB_INFO_1W info;
    std::memset(&info, 0, sizeof(info));
    RecordWriter w(pJob, sizeof(JOB_INFO_1W));
    info.JobId = doc->jobId;
    info.pPrinterName = w.Put(run->printer->printerName);
    info.pMachineName = w.Put(machine);
    info.pUserName = w.Put(user);
    info.pDocument = w.Put(doc->name);
    info.pDatatype = w.Put(datatype);
    info.Status = 0;
    info.Priority = 1;
    info.Position = 1;
    std::memcpy(pJob, &info, sizeof(info));
    return TRUE;
}

static BOOL WINAPI Sim_GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded)
{
    RunState *run = CurrentRun();
    PrinterHandle *ph = run ? run->FindHandle(hPrinter) : nullptr;
    if (ph == nullptr)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (Level != 2)
    {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (pcbNeeded == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const Printer &s = *run->printer;
    const WString share = W(""), port = W("LPT1:"), comment = W("simulated"), location = W(""),
                  processor = W("WinPrint"), datatype = W("RAW"), empty = W("");
    DRVDEVMODE dm = DefaultSettings();
    Bytes devmode(reinterpret_cast<const BYTE *>(&dm), reinterpret_cast<const BYTE *>(&dm) + sizeof(dm));
    RecordWriter sizer(nullptr, 0);
    size_t cbNeeded = sizeof(PRINTER_INFO_2W) + sizer.Need(s.printerName) + sizer.Need(share) + sizer.Need(port) +
                      sizer.Need(s.driverName) + sizer.Need(comment) + sizer.Need(location) + sizer.Need(empty) +
                      sizer.Need(processor) + sizer.Need(datatype) + sizer.Need(empty) + 8 + devmode.size();
    *pcbNeeded = static_cast<DWORD>(cbNeeded);
    if (pPrinter == nullptr || cbBuf < cbNeeded)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    PRINTER_INFO_2W info;
    std::memset(&info, 0, sizeof(info));
    RecordWriter w(pPrinter, sizeof(PRINTER_INFO_2W));
    info.pServerName = nullptr;
    info.pPrinterName = w.Put(s.printerName);
    info.pShareName = w.Put(share);
    info.pPortName = w.Put(port);
    info.pDriverName = w.Put(s.driverName);
    info.pComment = w.Put(comment);
    info.pLocation = w.Put(location);
    info.pSepFile = w.Put(empty);
    info.pPrintProcessor = w.Put(processor);
    info.pDatatype = w.Put(datatype);
    info.pParameters = w.Put(empty);
    info.pDevMode = reinterpret_cast<LPDEVMODEW>(w.PutBytes(devmode));
    info.Priority = 1;
    info.DefaultPriority = 1;
    std::memcpy(pPrinter, &info, sizeof(info));
    return TRUE;
}

// ---- user32 -----------------------------------------------------------------------------

static int FirstButton(UINT uType)
{
    switch (uType & MB_TYPEMASK)
    {
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return IDYES;
    case MB_RETRYCANCEL:
        return IDRETRY;
    default:
        return IDOK;
    }
}

static int WINAPI Sim_MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType)
{
    RunState *run = CurrentRun();
    if (run == nullptr)
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    User &user = run->printer->user;
    MessageBoxRecord box;
    box.text = lpText ? WString(lpText) : WString();
    box.captionNull = lpCaption == nullptr;
    box.caption = lpCaption ? WString(lpCaption) : WString();
    box.ownerNull = hWnd == nullptr;
    box.style = uType;
    if (!user.script.empty())
    {
        box.answer = user.script.front();
        user.script.erase(user.script.begin());
    }
    else if (user.answer)
    {
        box.answer = user.answer(box);
    }
    else
    {
        box.answer = FirstButton(uType);
    }
    user.boxes.push_back(box);
    if (run->result != nullptr)
    {
        run->result->boxes.push_back(box);
    }
    if (box.answer == 0)
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    }
    return box.answer;
}

const std::vector<RedirectEntry> &SpoolerEntries()
{
    static const std::vector<RedirectEntry> entries = {
        {"winspool.drv", "WritePrinter", reinterpret_cast<void *>(&Sim_WritePrinter)},
        {"winspool.drv", "GetPrinterW", reinterpret_cast<void *>(&Sim_GetPrinterW)},
        {"winspool.drv", "GetJobW", reinterpret_cast<void *>(&Sim_GetJobW)},
        {"winspool.drv", "StartDocPrinterW", reinterpret_cast<void *>(&Sim_StartDocPrinterW)},
        {"winspool.drv", "EndDocPrinter", reinterpret_cast<void *>(&Sim_EndDocPrinter)},
        {"user32.dll", "MessageBoxW", reinterpret_cast<void *>(&Sim_MessageBoxW)},
    };
    return entries;
}

// ---- the spooler ----------------------------------------------------------------------------

template <typename T>
static T HookProc(HMODULE h, const char *name)
{
    return reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(h, name)));
}

Spooler::Spooler(const WString &hookLibrary) : m_impl(new Impl)
{
    m_impl->owner = this;
    InitializeCriticalSection(&m_impl->lock);
    g_sim = m_impl.get();
    platform::ListenToDebugStrings();
    WString path = hookLibrary.empty() ? BuildBinDir() + W("\\kd7720um.dll") : hookLibrary;
    HMODULE h = LoadLibraryW(path.c_str());
    if (h == nullptr)
    {
        return;
    }
    HookTable &t = m_impl->hooks;
    t.StartDoc = HookProc<PFN_DrvSplStartDoc>(h, "DrvSplStartDoc");
    t.WritePrinter = HookProc<PFN_DrvSplWritePrinter>(h, "DrvSplWritePrinter");
    t.StartPage = HookProc<PFN_DrvSplPage>(h, "DrvSplStartPage");
    t.EndPage = HookProc<PFN_DrvSplPage>(h, "DrvSplEndPage");
    t.EndDoc = HookProc<PFN_DrvSplVoid>(h, "DrvSplEndDoc");
    t.Abort = HookProc<PFN_DrvSplVoid>(h, "DrvSplAbort");
    t.Close = HookProc<PFN_DrvSplVoid>(h, "DrvSplClose");
    if (!t.StartDoc || !t.WritePrinter || !t.StartPage || !t.EndPage || !t.EndDoc || !t.Abort || !t.Close)
    {
        FreeLibrary(h);
        return;
    }
    std::vector<RedirectEntry> entries = SpoolerEntries();
    const std::vector<RedirectEntry> &gdi = GdiEntries();
    entries.insert(entries.end(), gdi.begin(), gdi.end());
    if (!platform::InstallRedirects(h, entries))
    {
        FreeLibrary(h);
        return;
    }
    m_impl->hHook = h;
}

Spooler::~Spooler()
{
    if (m_impl->hHook != nullptr)
    {
        FreeLibrary(m_impl->hHook);
    }
    platform::RemoveRedirects();
    platform::StopListening();
    g_sim = nullptr;
    DeleteCriticalSection(&m_impl->lock);
}

bool Spooler::Loaded() const
{
    return m_impl->hHook != nullptr;
}

HMODULE Spooler::Module() const
{
    return m_impl->hHook;
}

RunResult Spooler::Run(const Job &job)
{
    return Run(*this, job);
}

RunResult Spooler::Run(Printer &printer, const Job &job)
{
    return Run(printer, JobSteps(job));
}

RunResult Spooler::Run(Printer &printer, const StepSource &job)
{
    RunResult result;
    RunState run;
    run.sim = m_impl.get();
    run.printer = &printer;
    run.result = &result;
    CurrentRunScope scope(&run);
    printer.user.boxes.clear();

    if (m_impl->hHook != nullptr)
    {
        const HookTable &hooks = m_impl->hooks;
        PrinterHandle *ph = run.NewHandle();
        DWORD jobId = run.StartDocument(ph, job.DocumentName(), WString(), W("RAW"), false);
        HANDLE hJob = nullptr;
        run.CallHook([&] { hJob = hooks.StartDoc(ph, jobId); });
        result.started = hJob != nullptr;
        if (hJob != nullptr)
        {
            const size_t cSteps = job.Count();
            Bytes buffer; // one step's data at a time, reused
            for (size_t i = 0; i < cSteps; i++)
            {
                if (printer.beforeStep)
                {
                    printer.beforeStep(i);
                }
                switch (job.Kind(i))
                {
                case StepKind::Write: {
                    const Bytes *data = job.Data(i, buffer);
                    if (data == nullptr)
                    {
                        result.stepError = "step " + std::to_string(i + 1) + ": " + job.Error();
                        break;
                    }
                    // What the spooler's variable held before: a hook that
                    // leaves it alone is seen as such.
                    DWORD cbWritten = 0xDEADBEEF;
                    BYTE *pb = data->empty() ? nullptr : const_cast<BYTE *>(data->data());
                    BOOL ok = FALSE;
                    run.CallHook(
                        [&] { ok = hooks.WritePrinter(hJob, pb, static_cast<DWORD>(data->size()), &cbWritten); });
                    result.writes.push_back({static_cast<DWORD>(data->size()), ok, cbWritten});
                    if (printer.stopAtFailedWrite && (!ok || cbWritten != data->size()))
                    {
                        result.stoppedAtFailedWrite = true;
                    }
                    break;
                }
                case StepKind::StartPage:
                    run.CallHook([&] { hooks.StartPage(hJob); });
                    break;
                case StepKind::EndPage: {
                    BOOL ok = FALSE;
                    run.CallHook([&] { ok = hooks.EndPage(hJob); });
                    result.endPageResults.push_back(ok);
                    break;
                }
                }
                if (result.stoppedAtFailedWrite || !result.stepError.empty())
                {
                    break;
                }
            }
            if (result.stoppedAtFailedWrite || !result.stepError.empty())
            {
                run.CallHook([&] { hooks.Abort(hJob); });
            }
            else
            {
                if (printer.beforeStep)
                {
                    printer.beforeStep(cSteps);
                }
                if (job.EndDoc())
                {
                    run.CallHook([&] { hooks.EndDoc(hJob); });
                }
                if (job.Abort())
                {
                    run.CallHook([&] { hooks.Abort(hJob); });
                }
            }
            run.CallHook([&] { hooks.Close(hJob); });
        }
        // The spooler finishes (or, for a failed start or an abort, drops)
        // whatever document is still open on the job's handle.
        run.EndDocument(ph, !result.started || job.Abort() || result.stoppedAtFailedWrite || !result.stepError.empty());
    }

    run.CountLeftovers();
    result.documents = run.documents;
    return result;
}

// ---- steps -----------------------------------------------------------------------------------

const Bytes *StepSource::Data(size_t i, Bytes &buffer) const
{
    buffer.resize(Size(i));
    return ReadPart(i, 0, buffer.data(), buffer.size()) ? &buffer : nullptr;
}

size_t StepSource::Lead(size_t i, BYTE (&out)[kLead]) const
{
    const size_t cb = std::min(Size(i), kLead);
    return ReadPart(i, 0, out, cb) ? cb : 0;
}

bool JobSteps::ReadPart(size_t i, size_t offset, BYTE *out, size_t cb) const
{
    const Bytes &d = m_job.steps[i].data;
    if (offset > d.size() || d.size() - offset < cb)
    {
        return false;
    }
    std::copy(d.begin() + static_cast<std::ptrdiff_t>(offset), d.begin() + static_cast<std::ptrdiff_t>(offset + cb),
              out);
    return true;
}

const Bytes *JobSteps::Data(size_t i, Bytes &) const
{
    return &m_job.steps[i].data;
}

// ---- results --------------------------------------------------------------------------------

std::vector<const Document *> RunResult::PrinterDocuments() const
{
    std::vector<const Document *> docs;
    for (const Document &d : documents)
    {
        if (d.outputFile.empty() && !d.nested)
        {
            docs.push_back(&d);
        }
    }
    return docs;
}

const Document &RunResult::PrinterDocument(size_t i) const
{
    static const Document none;
    std::vector<const Document *> docs = PrinterDocuments();
    return i < docs.size() ? *docs[i] : none;
}

bool RunResult::AllWritesSucceeded() const
{
    return std::all_of(writes.begin(), writes.end(),
                       [](const WriteRecord &w) { return w.result && w.cbWritten == w.cbBuf; });
}

std::vector<WString> RunResult::TracesStartingWith(const WString &prefix) const
{
    std::vector<WString> found;
    for (const WString &t : traces)
    {
        if (t.compare(0, prefix.size(), prefix) == 0)
        {
            found.push_back(t);
        }
    }
    return found;
}

} // namespace spoolsim
