// The overlay library kd7720o.dll, bound at run time: a byte count for the
// selected overlay, then a buffer filled with that many bytes of PCL XL.
#include "decorations.h"
#include "hookcore.h"

typedef DWORD(WINAPI *PFN_GETOVERLAYSIZE)(LPSTR pszOverlay);
typedef BOOL(WINAPI *PFN_READOVERLAY)(LPBYTE pBuffer);

// The embedding that carries the data adds 13 + 2 + 60 + 1 bytes to them,
// and all of it must stay countable in 32 bits.
#define MAX_OVERLAY_DATA (0xFFFFFFFFUL - 13 - 2 - CB_OVERLAY_STREAM_HEADER - 1)

// The library remembers the overlay that getOverlaySize was asked about for
// the ReadOverlay that follows, so the two calls of one job must not
// interleave with another job's: they run in the jobs section.
LPBYTE GetOverlayData(PSPLDATA pData, LPDWORD pcbData)
{
    PFN_GETOVERLAYSIZE pfnGetOverlaySize;
    PFN_READOVERLAY pfnReadOverlay;
    CHAR szOverlay[CB_OVERLAY_FILE + 1];
    LPBYTE pBuffer = NULL;
    DWORD cbData;

    if (pData->hOverlay == NULL)
    {
        return NULL;
    }
    pfnGetOverlaySize = (PFN_GETOVERLAYSIZE)(void *)GetProcAddress(pData->hOverlay, "getOverlaySize");
    pfnReadOverlay = (PFN_READOVERLAY)(void *)GetProcAddress(pData->hOverlay, "ReadOverlay");
    if (pfnGetOverlaySize == NULL || pfnReadOverlay == NULL)
    {
        return NULL;
    }

    // The library reads a NUL-terminated name; the settings block's field
    // need not hold one.
    CopyMemory(szOverlay, pData->DevMode.szOverlayFile, CB_OVERLAY_FILE);
    szOverlay[CB_OVERLAY_FILE] = 0;
    EnterJobsSection();
    cbData = pfnGetOverlaySize(szOverlay);
    if (cbData <= MAX_OVERLAY_DATA)
    {
        pBuffer = (LPBYTE)GlobalAlloc(GMEM_FIXED, cbData);
    }
    if (pBuffer != NULL && !pfnReadOverlay(pBuffer))
    {
        GlobalFree(pBuffer);
        pBuffer = NULL;
    }
    LeaveJobsSection();
    if (pBuffer != NULL)
    {
        *pcbData = cbData;
    }
    return pBuffer;
}
