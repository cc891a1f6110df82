// A test variant of the overlay library that reports more overlay data than
// any embedding can count, to show that the hook refuses it before
// allocating or writing anything.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    (void)hInstance;
    (void)dwReason;
    (void)lpReserved;
    return TRUE;
}

extern "C" DWORD WINAPI getOverlaySize(LPSTR pszOverlay)
{
    (void)pszOverlay;
    return 0xFFFFFFF0;
}

extern "C" BOOL WINAPI ReadOverlay(LPBYTE pBuffer)
{
    (void)pBuffer;
    return TRUE;
}
