#include "scratchguard.h"

#include <windows.h>

namespace jobtool
{

namespace
{

// Wide names, made when a file is added: the handler runs on a thread of
// its own and only deletes.
WCHAR g_paths[ScratchGuard::kMostFiles][MAX_PATH * 4];
volatile LONG g_count = 0;

BOOL WINAPI OnConsoleEventWhileMaking(DWORD event)
{
    (void)event;
    for (LONG i = 0; i < g_count; i++)
    {
        DeleteFileW(g_paths[i]);
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
    if (g_count >= kMostFiles)
    {
        return false;
    }
    const int cch = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, g_paths[g_count],
                                        static_cast<int>(sizeof(g_paths[0]) / sizeof(WCHAR)));
    if (cch <= 0)
    {
        return false;
    }
    InterlockedIncrement(&g_count);
    return true;
}

} // namespace jobtool
