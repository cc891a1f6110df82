// The overlay library kd7720o.dll, bound at run time: a byte count for the
// selected overlay, then a buffer filled with that many bytes of PCL XL.
#include "kd7720um.h"

typedef DWORD(WINAPI *PFN_GETOVERLAYSIZE)(LPSTR pszOverlay);
typedef BOOL(WINAPI *PFN_READOVERLAY)(LPBYTE pBuffer);

// The embedding that carries the data adds 13 + 2 + 60 + 1 bytes to them,
// and all of it must stay countable in 32 bits.
#define MAX_OVERLAY_DATA (0xFFFFFFFFUL - 13 - 2 - CB_OVERLAY_STREAM_HEADER - 1)

LPBYTE GetOverlayData(LPDWORD pcbData)
{
    PFN_GETOVERLAYSIZE pfnGetOverlaySize;
    PFN_READOVERLAY pfnReadOverlay;
    CHAR szOverlay[CB_OVERLAY_FILE + 1];
    LPBYTE pBuffer;
    DWORD cbData;

    if (hOverlay == NULL)
    {
        return NULL;
    }
    pfnGetOverlaySize = (PFN_GETOVERLAYSIZE)(void *)GetProcAddress(hOverlay, "getOverlaySize");
    pfnReadOverlay = (PFN_READOVERLAY)(void *)GetProcAddress(hOverlay, "ReadOverlay");
    if (pfnGetOverlaySize == NULL || pfnReadOverlay == NULL)
    {
        return NULL;
    }

    // The library reads a NUL-terminated name; the settings block's field
    // need not hold one.
    CopyMemory(szOverlay, GlobalDevMode.szOverlayFile, CB_OVERLAY_FILE);
    szOverlay[CB_OVERLAY_FILE] = 0;
    cbData = pfnGetOverlaySize(szOverlay);
    if (cbData > MAX_OVERLAY_DATA)
    {
        return NULL;
    }
    pBuffer = (LPBYTE)GlobalAlloc(GMEM_FIXED, cbData);
    if (pBuffer == NULL)
    {
        return NULL;
    }
    if (!pfnReadOverlay(pBuffer))
    {
        GlobalFree(pBuffer);
        return NULL;
    }
    *pcbData = cbData;
    return pBuffer;
}
