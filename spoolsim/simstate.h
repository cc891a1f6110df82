// Inside of the simulation: the state of the run in progress, shared by the
// spooler, the user and the GDI simulation, and the entry points that the hook
// library's imports are redirected to.
#pragma once

#include "spoolsim.h"

#include <deque>
#include <type_traits>

namespace spoolsim
{

typedef HANDLE(WINAPI *PFN_DrvSplStartDoc)(HANDLE, DWORD);
typedef BOOL(WINAPI *PFN_DrvSplWritePrinter)(HANDLE, LPVOID, DWORD, LPDWORD);
typedef BOOL(WINAPI *PFN_DrvSplPage)(HANDLE);
typedef void(WINAPI *PFN_DrvSplVoid)(HANDLE);

struct HookTable
{
    PFN_DrvSplStartDoc StartDoc = nullptr;
    PFN_DrvSplWritePrinter WritePrinter = nullptr;
    PFN_DrvSplPage StartPage = nullptr;
    PFN_DrvSplPage EndPage = nullptr;
    PFN_DrvSplVoid EndDoc = nullptr;
    PFN_DrvSplVoid Abort = nullptr;
    PFN_DrvSplVoid Close = nullptr;
};

// A printer handle as OpenPrinter gives one: the document open on it, if any.
struct PrinterHandle
{
    int iOpenDocument = -1; // index into Spooler::Impl::documents
};

struct GdiObject
{
    enum Kind
    {
        Font,
        Pen
    } kind;
    LOGFONTW font;
    COLORREF color = 0;
    int width = 0;
};

// A device context on the simulated printer.
struct DeviceContext
{
    Bytes devmode; // the DEVMODEW given to CreateDCW, private part included
    HGDIOBJ hFont = nullptr;
    HGDIOBJ hPen = nullptr;
    COLORREF textColor = 0;
    int bkMode = OPAQUE;
    UINT textAlign = TA_LEFT | TA_TOP;
    bool inPath = false;
    bool pathClosed = false;
    struct PathText
    {
        int x, y;
        WString text;
        LOGFONTW font;
    };
    std::vector<PathText> path;
    // The nested spooler job of the document in progress.
    PrinterHandle *hPrinter = nullptr;
    HANDLE hJob = nullptr; // the hook's job context
    bool inDocument = false;
    bool inPage = false;
    int iDocument = -1;
};

// One job in progress on a printer, with the watermark jobs that start from
// inside it: its printer handles and spooler documents, its GDI objects, and
// its result. The simulated entry points find the run of the thread they are
// called on (CurrentRun); a run's calls never overlap, whichever threads
// they come on, so a run needs no lock of its own.
struct RunState
{
    Spooler::Impl *sim = nullptr;
    Printer *printer = nullptr;
    RunResult *result = nullptr;
    bool keepTraces = true;

    std::vector<Document> documents;
    std::deque<PrinterHandle> handles;
    DWORD cWritePrinter = 0;

    std::deque<DeviceContext> dcs;
    std::deque<GdiObject> objects;

    PrinterHandle *FindHandle(HANDLE h);
    PrinterHandle *NewHandle();
    DWORD StartDocument(PrinterHandle *ph, const WString &name, const WString &output, const WString &datatype,
                        bool nested);
    bool EndDocument(PrinterHandle *ph, bool aborted);
    void LogGdi(GdiCall call);
    // Calls a hook as the spooler does: on a thread of its own when the
    // printer says so, which then belongs to this run until the call returns.
    // A template, not std::function: the common case calls in place, and a
    // hook call is the hot path of every spooled byte.
    template <typename Call>
    void CallHook(Call &&call)
    {
        if (!printer->hookThreads)
        {
            call();
            return;
        }
        CallOnHookThread([](void *context) { (*static_cast<std::remove_reference_t<Call> *>(context))(); }, &call);
    }
    void CallOnHookThread(void (*call)(void *), void *context);
    // Adds the GDI objects and DCs the run did not delete to the spooler's
    // count; at its end.
    void CountLeftovers();
};

// The run that the calling thread works for, NULL when none.
RunState *CurrentRun();
class CurrentRunScope
{
  public:
    explicit CurrentRunScope(RunState *run);
    ~CurrentRunScope();
    CurrentRunScope(const CurrentRunScope &) = delete;
    CurrentRunScope &operator=(const CurrentRunScope &) = delete;

  private:
    RunState *m_previous;
};

// A debug string, on the thread that wrote it: it goes to that thread's run.
void DebugStringArrived(const WString &s);

struct Spooler::Impl
{
    Spooler *owner = nullptr;
    HMODULE hHook = nullptr;
    HookTable hooks;

    // Shared by the runs of all printers.
    CRITICAL_SECTION lock;
    DWORD nextJobId = 1;
    size_t cLeftObjects = 0;
    size_t cLeftDCs = 0;
    DWORD NewJobId();
};

// The one simulation of the process, while a Spooler exists.
extern Spooler::Impl *g_sim;

// The redirected entry points: name, the DLL that exports it, the function.
struct RedirectEntry
{
    const char *dll;
    const char *name;
    void *function;
};
const std::vector<RedirectEntry> &SpoolerEntries();
const std::vector<RedirectEntry> &GdiEntries();

// Platform side (machine_host.cpp / machine_win32.cpp).
namespace platform
{
bool InstallRedirects(HMODULE hHook, const std::vector<RedirectEntry> &entries);
void RemoveRedirects();
// Sends every debug string of the process to DebugStringArrived, on the
// thread that wrote it.
void ListenToDebugStrings();
void StopListening();
// Linux: a fresh host directory set as C:\ , or "" with the reason in
// *problem; Windows: "".
std::string NewMachineRoot(std::string *problem);
void DropMachineRoot(const std::string &root);
void CleanDriverDirectory(); // Windows: the package's files of earlier tests
DWORD OpenHandleCount();
} // namespace platform

} // namespace spoolsim
