// Call counting and planned failures, so that tests can make any
// environment call of the product fail at a chosen moment.
#include "internal.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>

namespace w32emu
{
namespace
{

// Every function that counts its calls and honours W32EmuFailCall.
const char *const g_apszFaultable[] = {
    "CreateFileW",
    "CreateFileA",
    "ReadFile",
    "WriteFile",
    "SetFilePointer",
    "GetFileSize",
    "CloseHandle",
    "DeleteFileW",
    "DeleteFileA",
    "MoveFileExA",
    "MoveFileExW",
    "SearchPathA",
    "FindFirstFileA",
    "FindNextFileA",
    "CreateDirectoryW",
    "CreateDirectoryA",
    "RemoveDirectoryW",
    "RemoveDirectoryA",
    "GetFileAttributesW",
    "GetFileAttributesA",
    "GetTempPathW",
    "GetTempPathA",
    "GetTempFileNameW",
    "GetTempFileNameA",
    "GetPrivateProfileStringW",
    "GetPrivateProfileStringA",
    "WritePrivateProfileStringW",
    "WritePrivateProfileStringA",
    "GlobalAlloc",
    "LoadLibraryW",
    "LoadLibraryA",
    "GetProcAddress",
    "MultiByteToWideChar",
    "WideCharToMultiByte",
    "GetWindowsDirectoryW",
    "GetWindowsDirectoryA",
    "GetSystemDirectoryW",
    "GetSystemDirectoryA",
    "GetVersionExA",
    "GetPrinterDriverDirectoryA",
    "WritePrinter",
    "GetPrinterW",
    "GetJobW",
    "StartDocPrinterW",
    "EndDocPrinter",
    "MessageBoxW",
    "CreateDCW",
    "DeleteDC",
    "GetDeviceCaps",
    "CreateFontIndirectW",
    "CreatePen",
    "SelectObject",
    "DeleteObject",
    "SetTextColor",
    "SetBkMode",
    "SetTextAlign",
    "GetTextMetricsW",
    "StartDocW",
    "EndDoc",
    "StartPage",
    "EndPage",
    "TextOutW",
    "BeginPath",
    "EndPath",
    "GetPath",
    "StrokePath",
    "TranslateCharsetInfo",
};

struct FailRule
{
    uint64_t first; // call indexes first..last fail
    uint64_t last;
    DWORD dwError;
};

struct ShortWriteRule
{
    DWORD cbAllowed;
    bool bSucceed;
};

struct FaultState
{
    // Looked up by the caller's C string without making a std::string: the
    // count is taken on every call of a faultable function.
    std::map<std::string, uint64_t, std::less<>> calls;
    // The count of each name as last looked up by the caller's pointer (the
    // layer passes literals): a pointer's hash instead of string compares.
    std::unordered_map<const char *, uint64_t *> bySite;
    std::map<std::string, std::vector<FailRule>, std::less<>> rules;
    std::map<uint64_t, ShortWriteRule> shortWrites; // by WriteFile call index
    std::set<FileId> held;
};

FaultState &Faults()
{
    static FaultState &s = *new FaultState; // never destroyed: usable until exit
    return s;
}

bool IsFaultable(const char *pszName)
{
    for (const char *p : g_apszFaultable)
    {
        if (strcmp(p, pszName) == 0)
        {
            return true;
        }
    }
    return false;
}

} // namespace

std::atomic<bool> g_bCountCalls{true};

bool CountCallAndFail(const char *pszFunction, uint64_t *pIndex)
{
    DWORD dwError = 0;
    {
        StateLock lock(StateMutex());
        FaultState &f = Faults();
        std::string_view name(pszFunction);
        uint64_t *pCount = nullptr;
        auto itSite = f.bySite.find(pszFunction);
        if (itSite != f.bySite.end())
        {
            pCount = itSite->second;
        }
        else
        {
            // std::map's values stay where they are until the map is cleared.
            pCount = &f.calls.emplace(std::string(name), 0).first->second;
            f.bySite.emplace(pszFunction, pCount);
        }
        uint64_t index = ++*pCount;
        if (pIndex)
        {
            *pIndex = index;
        }
        if (f.rules.empty())
        {
            return false;
        }
        auto it = f.rules.find(name);
        if (it == f.rules.end())
        {
            return false;
        }
        bool bFail = false;
        for (const FailRule &r : it->second)
        {
            if (index >= r.first && index <= r.last)
            {
                dwError = r.dwError;
                bFail = true;
                break;
            }
        }
        if (!bFail)
        {
            return false;
        }
    }
    SetLastError(dwError);
    return true;
}

bool TakeShortWrite(uint64_t index, DWORD *pcbAllowed, bool *pbSucceed)
{
    StateLock lock(StateMutex());
    auto &m = Faults().shortWrites;
    if (m.empty())
    {
        return false;
    }
    auto it = m.find(index);
    if (it == m.end())
    {
        return false;
    }
    *pcbAllowed = it->second.cbAllowed;
    *pbSucceed = it->second.bSucceed;
    m.erase(it);
    return true;
}

bool IsImageInUse(const FileId &id)
{
    {
        StateLock lock(StateMutex());
        if (Faults().held.count(id))
        {
            return true;
        }
    }
    return IsModuleImage(id);
}

} // namespace w32emu

using namespace w32emu;

W32EMU_API void W32EmuFailCall(const char *pszFunction, DWORD nth, DWORD dwError, DWORD cTimes)
{
    if (!pszFunction || !IsFaultable(pszFunction))
    {
        // A misspelt name would otherwise make a fault test pass vacuously.
        fprintf(stderr, "W32EmuFailCall: \"%s\" is not a faultable function\n", pszFunction ? pszFunction : "(null)");
        SetLastError(ERROR_PROC_NOT_FOUND);
        return;
    }
    StateLock lock(StateMutex());
    g_bCountCalls.store(true, std::memory_order_relaxed); // the nth call must be counted to fail
    FaultState &f = Faults();
    uint64_t now = f.calls[pszFunction];
    FailRule r;
    r.first = now + (nth ? nth : 1);
    r.last = cTimes ? r.first + cTimes - 1 : UINT64_MAX;
    r.dwError = dwError;
    f.rules[pszFunction].push_back(r);
}

W32EMU_API void W32EmuShortWrite(DWORD nth, DWORD cbAllowed, BOOL bSucceed)
{
    StateLock lock(StateMutex());
    g_bCountCalls.store(true, std::memory_order_relaxed);
    FaultState &f = Faults();
    uint64_t index = f.calls["WriteFile"] + (nth ? nth : 1);
    f.shortWrites[index] = ShortWriteRule{cbAllowed, bSucceed != FALSE};
}

W32EMU_API DWORD W32EmuCallCount(const char *pszFunction)
{
    if (!pszFunction)
    {
        return 0;
    }
    StateLock lock(StateMutex());
    auto it = Faults().calls.find(pszFunction);
    return it == Faults().calls.end() ? 0 : (DWORD)it->second;
}

W32EMU_API void W32EmuCountCalls(BOOL bCount)
{
    StateLock lock(StateMutex());
    g_bCountCalls.store(bCount != FALSE, std::memory_order_relaxed);
}

W32EMU_API void W32EmuResetFaults(void)
{
    StateLock lock(StateMutex());
    FaultState &f = Faults();
    f.bySite.clear();
    f.calls.clear();
    f.rules.clear();
    f.shortWrites.clear();
    f.held.clear();
    W32EmuSetDriverDirectoryError(0);
}

W32EMU_API const char *W32EmuFaultableAt(DWORD i)
{
    return i < sizeof(g_apszFaultable) / sizeof(g_apszFaultable[0]) ? g_apszFaultable[i] : nullptr;
}

W32EMU_API BOOL W32EmuHoldFileA(LPCSTR pszWinPath)
{
    WString path;
    if (!PathArgToWide(pszWinPath, path))
    {
        return FALSE;
    }
    HostPath hp;
    DWORD dwError = ResolvePath(path.c_str(), 0, hp);
    if (!dwError && !hp.bExists)
    {
        dwError = hp.MissingError();
    }
    if (dwError)
    {
        SetLastError(dwError);
        return FALSE;
    }
    StateLock lock(StateMutex());
    Faults().held.insert(hp.Id());
    return TRUE;
}

W32EMU_API void W32EmuReleaseFileA(LPCSTR pszWinPath)
{
    WString path;
    if (!PathArgToWide(pszWinPath, path))
    {
        return;
    }
    HostPath hp;
    if (ResolvePath(path.c_str(), 0, hp) || !hp.bExists)
    {
        return;
    }
    StateLock lock(StateMutex());
    Faults().held.erase(hp.Id());
}
