// The simulation on Linux: the Win32 layer's redirect table carries the hook
// library's winspool, user32 and gdi32 calls here; every test machine is a
// fresh host directory standing for C:\, private to the process.
#include "simstate.h"

#include <w32emu.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace spoolsim
{
namespace platform
{

bool InstallRedirects(HMODULE hHook, const std::vector<RedirectEntry> &entries)
{
    (void)hHook; // the layer's table serves every module of the process
    for (const RedirectEntry &e : entries)
    {
        if (!W32EmuRedirect(e.dll, e.name, e.function))
        {
            return false;
        }
    }
    return true;
}

void RemoveRedirects()
{
    W32EmuRedirectClear();
}

static void DebugListener(LPCWSTR pszText)
{
    DebugStringArrived(WString(pszText));
}

void ListenToDebugStrings()
{
    W32EmuDebugListener(&DebugListener);
}

void StopListening()
{
    W32EmuDebugListener(nullptr);
}

// The folder machines are made in: the user's temporary folder, so that
// anyone may run a tool from any folder.
static std::string MachineParent()
{
    const char *pszTmp = std::getenv("TMPDIR");
    std::string parent = pszTmp != nullptr && pszTmp[0] == '/' ? pszTmp : "/tmp";
    while (parent.size() > 1 && parent.back() == '/')
    {
        parent.pop_back();
    }
    return parent;
}

static const char kMachinePrefix[] = "kd7720-machine-";

// Machines of processes of this user that are gone (killed, crashed): their
// folders are removed, once per process and parent folder. A folder whose
// process lives, or that another user owns, stays.
static void SweepDeadMachines(const std::string &parent)
{
    static std::mutex s_lock;
    static std::string s_sweptParent;
    {
        std::lock_guard<std::mutex> hold(s_lock);
        if (s_sweptParent == parent)
        {
            return;
        }
        s_sweptParent = parent;
    }
    std::error_code ec;
    for (std::filesystem::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec))
    {
        const std::string name = it->path().filename().string();
        if (name.compare(0, sizeof(kMachinePrefix) - 1, kMachinePrefix) != 0)
        {
            continue;
        }
        const char *pszPid = name.c_str() + sizeof(kMachinePrefix) - 1;
        char *pszEnd = nullptr;
        const long pid = std::strtol(pszPid, &pszEnd, 10);
        struct stat st;
        if (pszEnd == pszPid || *pszEnd != '-' || pid <= 0 || pid == static_cast<long>(getpid()) ||
            lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        {
            continue;
        }
        if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        {
            std::error_code ignored;
            std::filesystem::remove_all(it->path(), ignored);
        }
    }
}

std::string NewMachineRoot(std::string *problem)
{
    const std::string parent = MachineParent();
    SweepDeadMachines(parent);
    std::string pattern = parent + "/" + kMachinePrefix + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
    {
        *problem = "cannot make the simulated machine's folder in " + parent + ": " + std::strerror(errno);
        return std::string();
    }
    W32EmuSetRoot(pattern.c_str());
    W32EmuResetFaults();
    W32EmuPendingRenameClear();
    W32EmuDebugClear();
    return pattern;
}

void DropMachineRoot(const std::string &root)
{
    if (!root.empty())
    {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
}

void CleanDriverDirectory()
{
    // Every machine starts empty.
}

DWORD OpenHandleCount()
{
    return W32EmuOpenHandleCount();
}

} // namespace platform

void DropDebugOutput()
{
    platform::StopListening();
    W32EmuDebugSinks(FALSE, FALSE);
    W32EmuDebugClear();
}

struct Thread::Impl
{
    std::thread thread;
};

Thread::Thread(std::function<void()> body) : m_impl(new Impl)
{
    m_impl->thread = std::thread(std::move(body));
}

Thread::~Thread()
{
    Join();
}

void Thread::GiveWay()
{
    // A Linux thread's nice value is its own (a failure leaves it as it is).
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
}

void Thread::Join()
{
    if (m_impl->thread.joinable())
    {
        m_impl->thread.join();
    }
}

} // namespace spoolsim
