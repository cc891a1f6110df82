// The simulation on Windows (run under Wine): the hook DLL's imports from
// winspool.drv, user32.dll and gdi32.dll are redirected by patching its
// import address table after LoadLibraryW; debug strings of every module are
// caught with a vectored exception handler; the machine is the prefix's own
// C:\, whose driver directory is emptied of the package's files per test.
#include "simstate.h"

#include <cstring>

namespace spoolsim
{
namespace platform
{

static bool MatchesDll(const char *pszImport, const char *pszWanted)
{
    return lstrcmpiA(pszImport, pszWanted) == 0;
}

// user32's text formatting is the system's own, not the user interface.
static bool IsSystemService(const char *pszName)
{
    static const char *const apszKept[] = {"wsprintfW", "wvsprintfW", "wsprintfA", "wvsprintfA"};
    for (const char *pszKept : apszKept)
    {
        if (std::strcmp(pszName, pszKept) == 0)
        {
            return true;
        }
    }
    return false;
}

// Every other import of the DLLs we simulate must be redirected: a call that
// reached the real spooler, user interface or GDI would escape the test.
bool InstallRedirects(HMODULE hHook, const std::vector<RedirectEntry> &entries)
{
    BYTE *base = reinterpret_cast<BYTE *>(hHook);
    const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const IMAGE_NT_HEADERS *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0)
    {
        return true;
    }
    bool complete = true;
    for (const IMAGE_IMPORT_DESCRIPTOR *d =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress);
         d->Name != 0; d++)
    {
        const char *pszDll = reinterpret_cast<const char *>(base + d->Name);
        bool simulated = false;
        for (const RedirectEntry &e : entries)
        {
            simulated = simulated || MatchesDll(pszDll, e.dll);
        }
        if (!simulated)
        {
            continue;
        }
        const IMAGE_THUNK_DATA *names = reinterpret_cast<const IMAGE_THUNK_DATA *>(
            base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        IMAGE_THUNK_DATA *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->FirstThunk);
        for (; names->u1.AddressOfData != 0; names++, slots++)
        {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
            {
                complete = false;
                continue;
            }
            const IMAGE_IMPORT_BY_NAME *byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            const char *pszName = reinterpret_cast<const char *>(byName->Name);
            const RedirectEntry *found = nullptr;
            for (const RedirectEntry &e : entries)
            {
                if (MatchesDll(pszDll, e.dll) && std::strcmp(pszName, e.name) == 0)
                {
                    found = &e;
                }
            }
            if (found == nullptr)
            {
                complete = complete && IsSystemService(pszName);
                continue;
            }
            DWORD dwOld = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE, &dwOld))
            {
                return false;
            }
            slots->u1.Function = reinterpret_cast<DWORD_PTR>(found->function);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), dwOld, &dwOld);
        }
    }
    return complete;
}

void RemoveRedirects()
{
    // The patched DLL is unloaded with its table.
}

static PVOID g_hHandler = nullptr;
static volatile LONG g_bListening = 0;

// Per thread: the wide string just seen, whose converted twin follows.
static thread_local bool t_bWideSeen = false;

// Windows' OutputDebugStringW raises DBG_PRINTEXCEPTION_WIDE_C with the
// length and the text, and when nobody handles it DBG_PRINTEXCEPTION_C with
// the same text converted, which is not recorded twice. Wine 8 raises only
// the converted one (measured): the text comes back through the ANSI code
// page, which holds every character the hook traces. The handler runs on the
// thread that wrote the string.
static LONG CALLBACK DebugStringHandler(EXCEPTION_POINTERS *pInfo)
{
    const EXCEPTION_RECORD *r = pInfo->ExceptionRecord;
    if (!g_bListening || r->NumberParameters < 2 || r->ExceptionInformation[1] == 0)
    {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    if (r->ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C)
    {
        const WCHAR *psz = reinterpret_cast<const WCHAR *>(r->ExceptionInformation[1]);
        WString s(psz, static_cast<size_t>(r->ExceptionInformation[0]));
        while (!s.empty() && s.back() == 0)
        {
            s.pop_back();
        }
        DebugStringArrived(s);
        t_bWideSeen = true;
    }
    else if (r->ExceptionCode == DBG_PRINTEXCEPTION_C)
    {
        if (t_bWideSeen)
        {
            t_bWideSeen = false;
            return EXCEPTION_CONTINUE_SEARCH;
        }
        const char *psz = reinterpret_cast<const char *>(r->ExceptionInformation[1]);
        int cb = static_cast<int>(r->ExceptionInformation[0]);
        while (cb > 0 && psz[cb - 1] == 0)
        {
            cb--;
        }
        WString s(static_cast<size_t>(cb), 0);
        int cch = cb > 0 ? MultiByteToWideChar(CP_ACP, 0, psz, cb, &s[0], cb) : 0;
        s.resize(static_cast<size_t>(cch > 0 ? cch : 0));
        DebugStringArrived(s);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

void ListenToDebugStrings()
{
    if (g_hHandler == nullptr)
    {
        g_hHandler = AddVectoredExceptionHandler(1, DebugStringHandler);
    }
    InterlockedExchange(&g_bListening, 1);
}

void StopListening()
{
    InterlockedExchange(&g_bListening, 0);
}

// The Windows build's machine is the Windows it runs on: its driver folder is
// emptied before and after every run. That is only sound in a Wine prefix
// made for the purpose, never on a Windows with printer drivers installed.
//
// Its temporary folder is C:\TEMP, as on the Linux build's machine, and not
// the user's: the hook's spool files and whatever a test puts in place of the
// folder must not meet the test programs' own temporary files, and the two
// builds' transcripts name the same folder. TMP and TEMP say so while a
// machine lives; the user's values come back with the last machine.
static const WCHAR kMachineTemp[] = W("C:\\TEMP");
static int g_cMachines = 0;
static WString g_savedTmp, g_savedTemp;
static bool g_bHadTmp = false, g_bHadTemp = false;

static bool SaveVariable(const WCHAR *pszName, WString &value)
{
    WCHAR sz[MAX_PATH];
    DWORD cch = GetEnvironmentVariableW(pszName, sz, MAX_PATH);
    value = cch > 0 && cch < MAX_PATH ? WString(sz, cch) : WString();
    return cch > 0 && cch < MAX_PATH;
}

// Removes a directory's contents, folders included: a test may leave a
// folder where the hook expects a file.
static void RemoveContents(const WString &dir)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + W("\\*")).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
    {
        return;
    }
    do
    {
        const WString name(fd.cFileName);
        if (name == W(".") || name == W(".."))
        {
            continue;
        }
        const WString path = dir + W("\\") + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        {
            SetFileAttributesW(path.c_str(), fd.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        }
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            RemoveContents(path);
            RemoveDirectoryW(path.c_str());
        }
        else
        {
            DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

// Removes every file of a directory that matches the pattern.
static void RemoveFiles(const WString &dir, const WCHAR *pattern)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + W("\\") + pattern).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
    {
        return;
    }
    do
    {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        {
            DeleteFileW((dir + W("\\") + fd.cFileName).c_str());
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

// The machine's temporary folder is a folder again when a test put a file
// there, and holds no spool file of an earlier run (nothing else of it is
// touched: the prefix may be a person's).
static void ResetTempFolder()
{
    const DWORD dwAttributes = GetFileAttributesW(kMachineTemp);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
    {
        SetFileAttributesW(kMachineTemp, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(kMachineTemp);
    }
    CreateDirectoryW(kMachineTemp, nullptr);
    RemoveFiles(kMachineTemp, W("VNT*.tmp"));
}

std::string NewMachineRoot(std::string *problem)
{
    HMODULE hNtdll = GetModuleHandleW(W("ntdll.dll"));
    if (hNtdll == nullptr || GetProcAddress(hNtdll, "wine_get_version") == nullptr)
    {
        if (problem != nullptr)
        {
            *problem = "the simulated machine runs only under Wine: on Windows it would empty this system's printer "
                       "driver folder";
        }
        return std::string();
    }
    if (g_cMachines++ == 0)
    {
        g_bHadTmp = SaveVariable(W("TMP"), g_savedTmp);
        g_bHadTemp = SaveVariable(W("TEMP"), g_savedTemp);
        SetEnvironmentVariableW(W("TMP"), kMachineTemp);
        SetEnvironmentVariableW(W("TEMP"), kMachineTemp);
    }
    ResetTempFolder();
    return std::string();
}

void DropMachineRoot(const std::string &)
{
    if (g_cMachines > 0 && --g_cMachines == 0)
    {
        SetEnvironmentVariableW(W("TMP"), g_bHadTmp ? g_savedTmp.c_str() : nullptr);
        SetEnvironmentVariableW(W("TEMP"), g_bHadTemp ? g_savedTemp.c_str() : nullptr);
    }
}

void CleanDriverDirectory()
{
    RemoveContents(DriverDir());
    if (g_cMachines > 0)
    {
        ResetTempFolder();
    }
}

DWORD OpenHandleCount()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

} // namespace platform

// Without the handler the strings are raised and go unhandled, as on a
// machine with no debugger. A later Spooler listens again.
void DropDebugOutput()
{
    platform::StopListening();
    if (platform::g_hHandler != nullptr)
    {
        RemoveVectoredExceptionHandler(platform::g_hHandler);
        platform::g_hHandler = nullptr;
    }
}

// The win32-threads runtime of this toolchain has no std::thread.
struct Thread::Impl
{
    HANDLE hThread = nullptr;
    std::function<void()> body;
};

static DWORD WINAPI ThreadStart(LPVOID pv)
{
    static_cast<Thread::Impl *>(pv)->body();
    return 0;
}

void Thread::GiveWay()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

Thread::Thread(std::function<void()> body) : m_impl(new Impl)
{
    m_impl->body = std::move(body);
    m_impl->hThread = CreateThread(nullptr, 0, ThreadStart, m_impl.get(), 0, nullptr);
    if (m_impl->hThread == nullptr)
    {
        // No thread to be had: the work is done all the same, on this one.
        m_impl->body();
    }
}

Thread::~Thread()
{
    Join();
}

void Thread::Join()
{
    if (m_impl->hThread != nullptr)
    {
        WaitForSingleObject(m_impl->hThread, INFINITE);
        CloseHandle(m_impl->hThread);
        m_impl->hThread = nullptr;
    }
}

} // namespace spoolsim
