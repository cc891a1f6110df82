// The last error, the reported Windows version, debug output, arithmetic
// and time helpers, critical sections, and the local printer-driver
// directory.
#include "internal.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>

namespace w32emu
{

std::recursive_mutex &StateMutex()
{
    static std::recursive_mutex &m = *new std::recursive_mutex;
    return m;
}

namespace
{

thread_local DWORD t_dwLastError = 0;

struct SystemState
{
    DWORD dwPlatformId = VER_PLATFORM_WIN32_NT;
    DWORD dwMajor = 5;
    DWORD dwMinor = 1;
    DWORD dwBuild = 2600;
    bool bExtended = true;
    DWORD dwDriverDirectoryError = 0;
    std::deque<WString> journal; // a deque: the strings stay where they are as it grows
};

SystemState &System()
{
    static SystemState &s = *new SystemState;
    return s;
}

// Where debug strings go: -1 until W32EMU_DEBUG_STDERR is first looked at.
std::atomic<int> g_iDebugToStderr{-1};
std::atomic<bool> g_bDebugJournal{true};
std::atomic<W32EMU_DEBUG_LISTENER> g_pfnDebugListener{nullptr};

bool DebugToStderr()
{
    int i = g_iDebugToStderr.load(std::memory_order_relaxed);
    if (i < 0)
    {
        const char *pszEnv = getenv("W32EMU_DEBUG_STDERR");
        i = pszEnv && *pszEnv && strcmp(pszEnv, "0") != 0 ? 1 : 0;
        int iUnread = -1;
        // A sink chosen by W32EmuDebugSinks in between wins.
        if (!g_iDebugToStderr.compare_exchange_strong(iUnread, i))
        {
            i = iUnread;
        }
    }
    return i > 0;
}

void Journal(WString s)
{
    if (DebugToStderr())
    {
        std::string u = WideToUtf8(s);
        fwrite(u.data(), 1, u.size(), stderr);
    }
    W32EMU_DEBUG_LISTENER pfn = g_pfnDebugListener.load(std::memory_order_acquire);
    if (pfn != nullptr)
    {
        pfn(s.c_str());
    }
    else if (g_bDebugJournal.load(std::memory_order_relaxed))
    {
        StateLock lock(StateMutex());
        System().journal.push_back(std::move(s));
    }
}

// A thread's identity for critical sections: the address of a per-thread
// variable, never 0.
HANDLE ThreadToken()
{
    static thread_local char t_token;
    return (HANDLE)&t_token;
}

} // namespace
} // namespace w32emu

using namespace w32emu;

WINBASEAPI DWORD WINAPI GetLastError(void)
{
    return t_dwLastError;
}

WINBASEAPI void WINAPI SetLastError(DWORD dwErrCode)
{
    t_dwLastError = dwErrCode;
}

// ---- version ------------------------------------------------------------------

W32EMU_API void W32EmuSetVersion(DWORD dwPlatformId, DWORD dwMajor, DWORD dwMinor, DWORD dwBuild, BOOL bExtended)
{
    StateLock lock(StateMutex());
    SystemState &s = System();
    s.dwPlatformId = dwPlatformId;
    s.dwMajor = dwMajor;
    s.dwMinor = dwMinor;
    s.dwBuild = dwBuild;
    s.bExtended = bExtended != FALSE;
}

WINBASEAPI BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation)
{
    if (CallFails("GetVersionExA"))
    {
        return FALSE;
    }
    if (!lpVersionInformation)
    {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    SystemState s;
    {
        StateLock lock(StateMutex());
        s.dwPlatformId = System().dwPlatformId;
        s.dwMajor = System().dwMajor;
        s.dwMinor = System().dwMinor;
        s.dwBuild = System().dwBuild;
        s.bExtended = System().bExtended;
    }
    DWORD cb = lpVersionInformation->dwOSVersionInfoSize;
    // Systems before NT 4.0 SP4 know only the short structure and refuse the
    // extended one as a wrong size.
    if (cb != sizeof(OSVERSIONINFOA) && !(cb == sizeof(OSVERSIONINFOEXA) && s.bExtended))
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    lpVersionInformation->dwMajorVersion = s.dwMajor;
    lpVersionInformation->dwMinorVersion = s.dwMinor;
    lpVersionInformation->dwBuildNumber = s.dwBuild;
    lpVersionInformation->dwPlatformId = s.dwPlatformId;
    memset(lpVersionInformation->szCSDVersion, 0, sizeof lpVersionInformation->szCSDVersion);
    if (cb == sizeof(OSVERSIONINFOEXA))
    {
        LPOSVERSIONINFOEXA pEx = (LPOSVERSIONINFOEXA)lpVersionInformation;
        pEx->wServicePackMajor = 0;
        pEx->wServicePackMinor = 0;
        pEx->wSuiteMask = 0;
        pEx->wProductType = s.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0; // VER_NT_WORKSTATION
        pEx->wReserved = 0;
    }
    return TRUE;
}

// ---- debug output -----------------------------------------------------------

static bool DebugWanted()
{
    return g_bDebugJournal.load(std::memory_order_relaxed) ||
           g_pfnDebugListener.load(std::memory_order_relaxed) != nullptr || DebugToStderr();
}

WINBASEAPI W32EMU_HOT void WINAPI OutputDebugStringW(LPCWSTR lpOutputString)
{
    if (lpOutputString && DebugWanted())
    {
        Journal(WString(lpOutputString));
    }
}

WINBASEAPI void WINAPI OutputDebugStringA(LPCSTR lpOutputString)
{
    if (lpOutputString && DebugWanted())
    {
        Journal(AnsiToWide(lpOutputString));
    }
}

W32EMU_API void W32EmuDebugListener(W32EMU_DEBUG_LISTENER pfn)
{
    g_pfnDebugListener.store(pfn, std::memory_order_release);
}

W32EMU_API void W32EmuDebugSinks(BOOL bJournal, BOOL bStderr)
{
    g_bDebugJournal.store(bJournal != FALSE);
    g_iDebugToStderr.store(bStderr ? 1 : 0);
}

W32EMU_API DWORD W32EmuDebugCount(void)
{
    StateLock lock(StateMutex());
    return (DWORD)System().journal.size();
}

W32EMU_API LPCWSTR W32EmuDebugAt(DWORD i)
{
    StateLock lock(StateMutex());
    auto &j = System().journal;
    return i < j.size() ? j[i].c_str() : nullptr;
}

W32EMU_API void W32EmuDebugClear(void)
{
    StateLock lock(StateMutex());
    System().journal.clear();
}

// ---- arithmetic, time ---------------------------------------------------------

WINBASEAPI int WINAPI MulDiv(int nNumber, int nNumerator, int nDenominator)
{
    if (nDenominator == 0)
    {
        return -1;
    }
    int64_t product = (int64_t)nNumber * nNumerator;
    bool bNegative = (product < 0) != (nDenominator < 0);
    uint64_t num = product < 0 ? 0 - (uint64_t)product : (uint64_t)product;
    uint64_t den = nDenominator < 0 ? 0 - (uint64_t)(int64_t)nDenominator : (uint64_t)nDenominator;
    // Rounded half away from zero: (2n + d) / 2d, which fits 64 bits here.
    uint64_t q = (2 * num + den) / (2 * den);
    // -1 is also the failure value; the result range excludes INT_MIN, as
    // the Windows test platform shows.
    if (q > 0x7FFFFFFF)
    {
        return -1;
    }
    return bNegative ? -(int)q : (int)q;
}

WINBASEAPI DWORD WINAPI GetTickCount(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (DWORD)((uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000);
}

WINBASEAPI void WINAPI Sleep(DWORD dwMilliseconds)
{
    struct timespec ts;
    ts.tv_sec = dwMilliseconds / 1000;
    ts.tv_nsec = (long)(dwMilliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR)
    {
    }
}

// The kernel's thread id: unique among the process's live threads, never 0.
WINBASEAPI DWORD WINAPI GetCurrentThreadId(void)
{
    return (DWORD)syscall(SYS_gettid);
}

// ---- critical sections ----------------------------------------------------------
// The lock lives in the structure itself, as on Windows, so a section that
// is never deleted (a module's, left at unload) costs nothing: LockCount is
// the lock word of a futex mutex (0 free, 1 held, 2 held with waiters),
// OwningThread and RecursionCount are kept as Windows keeps them, and
// DebugInfo marks an initialised section. A leave by a thread that does not
// own the section is refused instead of corrupting the lock.

static char g_chSectionMarker;

static int *LockWord(LPCRITICAL_SECTION pcs)
{
    static_assert(sizeof(pcs->LockCount) == sizeof(int), "a futex word is an int");
    return reinterpret_cast<int *>(&pcs->LockCount);
}

static void FutexWait(int *pWord, int value)
{
    syscall(SYS_futex, pWord, FUTEX_WAIT_PRIVATE, value, nullptr, nullptr, 0);
}

static void FutexWake(int *pWord)
{
    syscall(SYS_futex, pWord, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

WINBASEAPI void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    memset(lpCriticalSection, 0, sizeof *lpCriticalSection);
    lpCriticalSection->DebugInfo = &g_chSectionMarker;
}

WINBASEAPI void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (lpCriticalSection->DebugInfo != &g_chSectionMarker)
    {
        // Windows would hang or crash; say why and stop.
        fprintf(stderr, "EnterCriticalSection: the critical section %p is not initialised\n",
                (void *)lpCriticalSection);
        abort();
    }
    HANDLE self = ThreadToken();
    if (__atomic_load_n(&lpCriticalSection->OwningThread, __ATOMIC_RELAXED) == self)
    {
        lpCriticalSection->RecursionCount++;
        return;
    }
    int *pWord = LockWord(lpCriticalSection);
    int c = 0;
    if (!__atomic_compare_exchange_n(pWord, &c, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED))
    {
        if (c != 2)
        {
            c = __atomic_exchange_n(pWord, 2, __ATOMIC_ACQUIRE);
        }
        while (c != 0)
        {
            FutexWait(pWord, 2);
            c = __atomic_exchange_n(pWord, 2, __ATOMIC_ACQUIRE);
        }
    }
    __atomic_store_n(&lpCriticalSection->OwningThread, self, __ATOMIC_RELAXED);
    lpCriticalSection->RecursionCount = 1;
}

WINBASEAPI void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (lpCriticalSection->DebugInfo != &g_chSectionMarker ||
        __atomic_load_n(&lpCriticalSection->OwningThread, __ATOMIC_RELAXED) != ThreadToken())
    {
        return;
    }
    if (--lpCriticalSection->RecursionCount > 0)
    {
        return;
    }
    __atomic_store_n(&lpCriticalSection->OwningThread, (HANDLE) nullptr, __ATOMIC_RELAXED);
    int *pWord = LockWord(lpCriticalSection);
    if (__atomic_fetch_sub(pWord, 1, __ATOMIC_RELEASE) != 1)
    {
        __atomic_store_n(pWord, 0, __ATOMIC_RELEASE);
        FutexWake(pWord);
    }
}

WINBASEAPI void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    memset(lpCriticalSection, 0, sizeof *lpCriticalSection);
}

// ---- the local printer-driver directory -------------------------------------

W32EMU_API void W32EmuSetDriverDirectoryError(DWORD dwError)
{
    StateLock lock(StateMutex());
    System().dwDriverDirectoryError = dwError;
}

WINBASEAPI BOOL WINAPI GetPrinterDriverDirectoryA(LPSTR pName, LPSTR pEnvironment, DWORD Level, LPBYTE pDriverDirectory,
                                                  DWORD cbBuf, LPDWORD pcbNeeded)
{
    if (CallFails("GetPrinterDriverDirectoryA"))
    {
        return FALSE;
    }
    DWORD dwForced;
    {
        StateLock lock(StateMutex());
        dwForced = System().dwDriverDirectoryError;
    }
    if (dwForced)
    {
        SetLastError(dwForced);
        return FALSE;
    }
    if (pName && *pName)
    {
        // Other servers' directories are not emulated.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    const char *pszArch = "w32x86";
    if (pEnvironment && lstrcmpiA(pEnvironment, "Windows 4.0") == 0)
    {
        pszArch = "win40";
    }
    else if (pEnvironment && lstrcmpiA(pEnvironment, "Windows NT x86") != 0)
    {
        SetLastError(ERROR_INVALID_ENVIRONMENT);
        return FALSE;
    }
    if (Level != 1)
    {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (!pcbNeeded)
    {
        // The spooler's RPC interface refuses a null reference pointer.
        SetLastError(RPC_X_NULL_REF_POINTER);
        return FALSE;
    }
    std::string dir = WideToAnsi(WindowsDir()) + "\\system32\\spool\\drivers\\" + pszArch;
    *pcbNeeded = (DWORD)dir.size() + 1;
    if (cbBuf < *pcbNeeded)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!pDriverDirectory)
    {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    memcpy(pDriverDirectory, dir.c_str(), dir.size() + 1);
    return TRUE;
}
