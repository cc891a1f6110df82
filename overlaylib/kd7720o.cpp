// The driver package's overlay library, kd7720o.dll: it holds each overlay
// as the file that an overlay-creation job wrote, under the path that the
// settings name. getOverlaySize remembers the overlay it was asked about;
// ReadOverlay fills the caller's buffer with that overlay's bytes.
#include <windows.h>

static CHAR g_szOverlay[MAX_PATH];
static DWORD g_cbOverlay;

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    (void)hInstance;
    (void)dwReason;
    (void)lpReserved;
    return TRUE;
}

// Bytes of overlay data for the named overlay; 0 when it does not exist.
extern "C" DWORD WINAPI getOverlaySize(LPSTR pszOverlay)
{
    HANDLE hFile;
    DWORD cbFile;

    g_szOverlay[0] = 0;
    g_cbOverlay = 0;
    if (pszOverlay == NULL || lstrlenA(pszOverlay) >= MAX_PATH)
    {
        return 0;
    }
    lstrcpynA(g_szOverlay, pszOverlay, MAX_PATH);
    hFile = CreateFileA(g_szOverlay, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        return 0;
    }
    cbFile = GetFileSize(hFile, NULL);
    CloseHandle(hFile);
    g_cbOverlay = cbFile == INVALID_FILE_SIZE ? 0 : cbFile;
    return g_cbOverlay;
}

// Fills pBuffer (as many bytes as getOverlaySize returned) with the overlay.
// FALSE when there is no such overlay or it changed size in between.
extern "C" BOOL WINAPI ReadOverlay(LPBYTE pBuffer)
{
    HANDLE hFile;
    DWORD cbRead = 0;
    BOOL bResult;

    if (pBuffer == NULL || g_szOverlay[0] == 0)
    {
        return FALSE;
    }
    hFile = CreateFileA(g_szOverlay, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        return FALSE;
    }
    bResult = GetFileSize(hFile, NULL) == g_cbOverlay &&
              (g_cbOverlay == 0 || (ReadFile(hFile, pBuffer, g_cbOverlay, &cbRead, NULL) && cbRead == g_cbOverlay));
    CloseHandle(hFile);
    return bResult;
}
