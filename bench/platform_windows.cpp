// The Windows build's benchmark machine (under Wine, the prefix's C:): the
// temp folder, where the hook makes its spool files and the twins theirs,
// moved to --temp (a folder in memory, Z:\dev\shm\..., under Wine); memory
// measured in a child process of this program, by the working set sampled
// every megabyte and the peak the system keeps.
#include "platform.h"

#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "workload.h"

namespace bench
{
namespace platform
{

namespace
{

// Makes every folder of a Windows path.
void MakeFolders(const WString &path)
{
    for (size_t i = 3; i <= path.size(); i++)
    {
        if (i == path.size() || path[i] == '\\')
        {
            CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
        }
    }
}

bool MemoryCounters(PROCESS_MEMORY_COUNTERS *pmc)
{
    return GetProcessMemoryInfo(GetCurrentProcess(), pmc, sizeof(*pmc)) != FALSE;
}

std::wstring Quoted(const std::wstring &s)
{
    return L"\"" + s + L"\"";
}

std::wstring Wide(const std::string &s)
{
    WString w = spoolsim::Widen(s);
    return std::wstring(w.begin(), w.end());
}

} // namespace

const char *BuildName()
{
    return "windows";
}

// TMP and TEMP name --temp. Set again once the machine is made: the
// simulated machine names a temporary folder of its own while it lives.
static void UseTempFolder(const Options &o)
{
    if (o.temp.empty())
    {
        return;
    }
    WString temp = spoolsim::Widen(o.temp);
    while (!temp.empty() && temp.back() == '\\')
    {
        temp.pop_back();
    }
    MakeFolders(temp);
    SetEnvironmentVariableW(L"TMP", temp.c_str());
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
}

void BeforeMachine(const Options &o)
{
    UseTempFolder(o);
}

void AfterMachine(const Options &o)
{
    UseTempFolder(o);
}

void Tidy()
{
}

void Settle()
{
}

// Counted by the system's clock tick; under Wine two readings a run apart
// have been seen to go backwards, so the CPU ratios are not reported.
bool ThreadCpuUsable()
{
    return false;
}

double ThreadCpuSeconds()
{
    FILETIME ftCreation, ftExit, ftKernel, ftUser;
    if (!GetThreadTimes(GetCurrentThread(), &ftCreation, &ftExit, &ftKernel, &ftUser))
    {
        return 0;
    }
    auto seconds = [](const FILETIME &ft) {
        return static_cast<double>((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 1e7;
    };
    return seconds(ftKernel) + seconds(ftUser);
}

std::string NullDevice()
{
    return "NUL";
}

long MemoryGrowthKiB(World &w, const Options &o, size_t cMB)
{
    WCHAR szExe[MAX_PATH];
    DWORD cch = GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
    {
        return -1;
    }
    WString out = w.TempFile(W("kd-bench-memory.txt"));
    std::wstring outW(out.begin(), out.end());
    std::wstring cmd = Quoted(szExe) + L" --memory-child " + std::to_wstring(cMB) + L" " + Quoted(outW);
    if (!o.temp.empty())
    {
        cmd += L" --temp " + Quoted(Wide(o.temp));
    }
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(szExe, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    {
        return -1;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD dwExit = 1;
    GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    long growth = -1;
    std::optional<Bytes> text = spoolsim::Machine::ReadFileBytes(out);
    if (dwExit == 0 && text && !text->empty())
    {
        growth = std::atol(std::string(text->begin(), text->end()).c_str());
    }
    DeleteFileW(outW.c_str());
    return growth;
}

// The job runs in this process alone; the parent's machine serves it.
int MemoryChild(const Options &o)
{
    World w(o);
    PROCESS_MEMORY_COUNTERS pmc = {};
    if (!MemoryCounters(&pmc))
    {
        Fatal("no memory counters");
    }
    const SIZE_T before = pmc.WorkingSetSize, peakBefore = pmc.PeakWorkingSetSize;
    SIZE_T top = before;
    MemoryJob(w, o.memoryChildMB, [&] {
        PROCESS_MEMORY_COUNTERS now = {};
        if (MemoryCounters(&now) && now.WorkingSetSize > top)
        {
            top = now.WorkingSetSize;
        }
    });
    // A peak between two samples shows in the system's own peak, once it
    // passes the one the process had before the job.
    if (MemoryCounters(&pmc) && pmc.PeakWorkingSetSize > peakBefore && pmc.PeakWorkingSetSize > top)
    {
        top = pmc.PeakWorkingSetSize;
    }
    std::string text = std::to_string(static_cast<long>((top - before) / 1024));
    Bytes bytes(text.begin(), text.end());
    return spoolsim::Machine::WriteFileBytes(spoolsim::Widen(o.memoryChildOut), bytes) ? 0 : 1;
}

} // namespace platform
} // namespace bench
