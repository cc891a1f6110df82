// The Linux build's benchmark machine: the emulated C: drive, and so every
// spool file and every twin's file, moved into a folder of the caller's
// (/dev/shm: no disk in the measurement); call counting off, as on a machine
// without a test harness; memory measured in a forked child.
#include "platform.h"

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include <w32emu.h>

#include "workload.h"

namespace bench
{
namespace platform
{

namespace
{

std::string g_movedRoot;

std::string HostOf(const WString &path)
{
    char host[4096];
    return W32EmuToHostPath(path.c_str(), host, sizeof(host)) ? std::string(host) : std::string();
}

long StatusKiB(const char *field)
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
    {
        if (line.compare(0, std::strlen(field), field) == 0)
        {
            return std::atol(line.c_str() + std::strlen(field) + 1);
        }
    }
    return -1;
}

} // namespace

const char *BuildName()
{
    return "linux";
}

void BeforeMachine(const Options &)
{
}

void AfterMachine(const Options &o)
{
    W32EmuCountCalls(FALSE);
    std::string root = o.root;
    if (root.empty())
    {
        const char *pszRoot = std::getenv("KD_BENCH_ROOT");
        root = pszRoot != nullptr ? pszRoot : "";
    }
    if (root.empty())
    {
        return;
    }
    std::string overlay = HostOf(spoolsim::DriverFile(W("kd7720o.dll")));
    std::string pattern = root + "/kd-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
    {
        Fatal("cannot make a folder in " + root);
    }
    g_movedRoot = pattern;
    W32EmuSetRoot(g_movedRoot.c_str());
    WCHAR szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    std::error_code ec;
    std::filesystem::create_directories(HostOf(spoolsim::DriverDir()), ec);
    std::filesystem::create_directories(HostOf(szTemp), ec);
    std::filesystem::copy_file(overlay, HostOf(spoolsim::DriverFile(W("kd7720o.dll"))), ec);
    if (ec)
    {
        Fatal("cannot prepare " + g_movedRoot + ": " + ec.message());
    }
}

void Tidy()
{
    if (!g_movedRoot.empty())
    {
        std::error_code ec;
        std::filesystem::remove_all(g_movedRoot, ec);
        W32EmuSetRoot(nullptr);
        g_movedRoot.clear();
    }
}

// No writeback of a fresh file during a timed copy.
void Settle()
{
    sync();
}

double ThreadCpuSeconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool ThreadCpuUsable()
{
    return true;
}

std::string NullDevice()
{
    return "Z:\\dev\\null";
}

// The peak of the resident set is reset in the child before the job, so the
// peak it reads afterwards is the job's alone.
long MemoryGrowthKiB(World &w, const Options &, size_t cMB)
{
    int fds[2];
    if (pipe(fds) != 0)
    {
        return -1;
    }
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0)
    {
        close(fds[0]);
        long before = StatusKiB("VmRSS:");
        std::ofstream("/proc/self/clear_refs") << "5";
        MemoryJob(w, cMB, [] {});
        long growth = StatusKiB("VmHWM:") - before;
        ssize_t ignored = write(fds[1], &growth, sizeof(growth));
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    long growth = -1;
    if (pid < 0 || read(fds[0], &growth, sizeof(growth)) != sizeof(growth))
    {
        growth = -1;
    }
    close(fds[0]);
    if (pid > 0)
    {
        waitpid(pid, nullptr, 0);
    }
    return growth;
}

int MemoryChild(const Options &)
{
    std::fprintf(stderr, "kd_bench: --memory-child is the Windows build's; this one forks\n");
    return 2;
}

} // namespace platform
} // namespace bench
