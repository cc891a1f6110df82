#include "scratchguard.h"

#include <windows.h>

#include <cstring>

namespace jobtool
{

namespace
{

char g_paths[ScratchGuard::kMostFiles][MAX_PATH * 4];
volatile LONG g_count = 0;

BOOL WINAPI OnConsoleEventWhileMaking(DWORD event)
{
    (void)event;
    for (LONG i = 0; i < g_count; i++)
    {
        DeleteFileA(g_paths[i]);
    }
    g_count = 0;
    return FALSE; // the default handler ends the process
}

} // namespace

ScratchGuard::ScratchGuard()
{
    g_count = 0;
    SetConsoleCtrlHandler(OnConsoleEventWhileMaking, TRUE);
}

ScratchGuard::~ScratchGuard()
{
    SetConsoleCtrlHandler(OnConsoleEventWhileMaking, FALSE);
    g_count = 0;
}

bool ScratchGuard::Add(const std::string &path)
{
    if (g_count >= kMostFiles || path.size() >= sizeof(g_paths[0]))
    {
        return false;
    }
    std::memcpy(g_paths[g_count], path.c_str(), path.size() + 1);
    InterlockedIncrement(&g_count);
    return true;
}

} // namespace jobtool
