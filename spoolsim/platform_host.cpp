// The simulation on Linux: the Win32 layer's redirect table carries the hook
// library's winspool, user32 and gdi32 calls here; every test machine is a
// fresh host directory standing for C:\.
#include "simstate.h"

#include <w32emu.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#ifndef SPOOLSIM_HOST_TMP
#error "SPOOLSIM_HOST_TMP names the host folder for test machines"
#endif

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

std::string NewMachineRoot()
{
    std::error_code ec;
    std::filesystem::create_directories(SPOOLSIM_HOST_TMP, ec);
    std::string pattern = std::string(SPOOLSIM_HOST_TMP) + "/machine-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
    {
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

void Thread::Join()
{
    if (m_impl->thread.joinable())
    {
        m_impl->thread.join();
    }
}

} // namespace spoolsim
