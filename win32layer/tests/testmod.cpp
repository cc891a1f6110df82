// A module for the loader tests, built twice: one whose DllMain accepts the
// attach, one (TESTMOD_REFUSE_ATTACH) whose DllMain refuses it. DllMain
// reports each call through the layer's debug journal, which the test sees
// because the layer is one library for the whole process.
#include <windows.h>

#include "wtext.h"

#define TESTMOD_EXPORT extern "C" __attribute__((visibility("default")))

static int g_cAttached = 0;

TESTMOD_EXPORT BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    WCHAR sz[128];
    wsprintfW(sz, W("testmod %d %d"), (int)dwReason, lpReserved ? 1 : 0);
    OutputDebugStringW(sz);
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        g_cAttached++;
        DisableThreadLibraryCalls((HMODULE)hInstance);
#ifdef TESTMOD_REFUSE_ATTACH
        return FALSE;
#endif
    }
    return TRUE;
}

TESTMOD_EXPORT int TestModAdd(int a, int b)
{
    return a + b;
}

// How often this copy of the module was attached: a second load of the same
// file must not attach it again.
TESTMOD_EXPORT int TestModAttachCount(void)
{
    return g_cAttached;
}

// Sets the caller's last error from inside another module.
TESTMOD_EXPORT void TestModSetLastError(DWORD dwError)
{
    SetLastError(dwError);
}
