// DrvSplWritePrinter: every buffer of a job arrives here and is taken as the
// settings block, a marker, deferred text, or data for the printer, the
// overlay file or the spool file.
#include "kd7720um.h"

const char szOverlayMarker[] = "TimeToInsertOverlay";
const char szWatermarkMarker[] = "TimeToInsertWatermark";

#define TEXTOUT_FILE_SUFFIX W("\\system32\\spool\\drivers\\w32x86\\2\\textout.teq")

static BOOL IsMarkerText(LPBYTE pb, DWORD cb, const char *pszMarker, DWORD cchMarker)
{
    return cb == cchMarker && memcmp(pb, pszMarker, cchMarker) == 0;
}

BOOL IsWatermarkDue(PSPLDATA pData)
{
    return GlobalDevMode.sWatermarkOn != 0 && (GlobalDevMode.sWmFirstPageOnly == 0 || pData->dwPageCount == 1);
}

// Makes the watermark file for the stored settings. The watermark job runs
// through these same hooks and replaces GlobalDevMode with its own block, so
// the block is saved around it.
static void MakeJobWatermark(PSPLDATA pData)
{
    DRVDEVMODE dmSaved;
    BOOL bMade;

    CopyMemory(&dmSaved, &GlobalDevMode, sizeof(DRVDEVMODE));
    bMade = MakeWatermarkData(dmSaved, pData->hPrinter);
    CopyMemory(&GlobalDevMode, &dmSaved, sizeof(DRVDEVMODE));
    if (!bMade)
    {
        ShowMessage(W("Failed to makewatermark: WMark"), MB_ICONERROR);
    }
}

// Writes "UserID" of kd7720u.ini from the block when the ini has none. The
// block's string is read within its field only: it need not end in a NUL.
static void RecordUserId(void)
{
    WCHAR szIni[MAX_PATH];
    WCHAR szUserId[CB_USER_ID];
    WCHAR szFromBlock[CB_USER_ID + 1];
    INT cbId = 0;
    INT cchId = 0;

    if (!BuildDriverPath(szIni, MAX_PATH, INI_FILE_SUFFIX))
    {
        return;
    }
    GetPrivateProfileStringW(W("GetUserID"), W("UserID"), W(""), szUserId, CB_USER_ID, szIni);
    if (szUserId[0] != 0)
    {
        return;
    }
    while (cbId < CB_USER_ID && GlobalDevMode.szUserID[cbId] != 0)
    {
        cbId++;
    }
    if (cbId > 0)
    {
        cchId = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, GlobalDevMode.szUserID, cbId, szFromBlock, CB_USER_ID);
        if (cchId <= 0)
        {
            return;
        }
    }
    szFromBlock[cchId] = 0;
    WritePrivateProfileStringW(W("GetUserID"), W("UserID"), szFromBlock, szIni);
}

static BOOL SpoolingWanted(void)
{
    return GlobalDevMode.sPassThrough == 0 &&
           (GlobalDevMode.sReverseOrder != 0 || GlobalDevMode.sCollate == 1 || GlobalDevMode.sManualDuplex != 0 ||
            GlobalDevMode.sBooklet != 0 || (GlobalDevMode.sMediaKind == 3 && GlobalDevMode.sOhpInterleave > 0));
}

// The job's first buffer: the settings block.
static BOOL TakeSettingsBlock(PSPLDATA pData, LPBYTE pBuf, LPDWORD pcWritten)
{
    BOOL bDeclined = FALSE;
    BOOL bOverlayOpened = FALSE;

    CopyMemory(&GlobalDevMode, pBuf, sizeof(DRVDEVMODE));
    RecordUserId();

    if (GlobalDevMode.sWatermarkOn != 0)
    {
        MakeJobWatermark(pData);
    }

    if (GlobalDevMode.sOverlayMode == 2)
    {
        switch (OverlayCreateStart())
        {
        case OVERLAY_GO_ON:
            bOverlayOpened = TRUE; // a creation job keeps no spool file
            break;
        case OVERLAY_DECLINED:
            bDeclined = TRUE;
            break;
        default:
            return FALSE;
        }
    }

    if (!bOverlayOpened && SpoolingWanted())
    {
        InitFileOperation(pData);
    }

    if (GlobalDevMode.sOverlayMode == 1 && GlobalDevMode.sOverlayQuery != 0)
    {
        switch (OverlayQuery())
        {
        case OVERLAY_GO_ON:
            break;
        case OVERLAY_DECLINED:
            bDeclined = TRUE;
            break;
        default:
            return FALSE;
        }
    }

    if (bDeclined)
    {
        *pcWritten = 0;
        return FALSE;
    }
    *pcWritten = DRVDEVMODE_SIZE;
    return TRUE;
}

// A later 1625-byte buffer for the same printer with another orientation:
// the rendering driver switched orientation. The watermark file for the new
// orientation is remade once per job; afterwards both files exist.
static BOOL IsOrientationChange(LPBYTE pBuf, DWORD cbBuf, SHORT *psOrientation)
{
    WCHAR szDevice[CCHDEVICENAME];
    SHORT sOrientation;
    INT i;

    if (GlobalDevMode.sWatermarkOn == 0 || cbBuf != DRVDEVMODE_SIZE)
    {
        return FALSE;
    }
    // The buffer need not be aligned, and its name need not end in a NUL.
    CopyMemory(szDevice, pBuf + offsetof(DEVMODEW, dmDeviceName), sizeof(szDevice));
    for (i = 0; i < CCHDEVICENAME; i++)
    {
        if (szDevice[i] != GlobalDevMode.dmPublic.dmDeviceName[i])
        {
            return FALSE;
        }
        if (szDevice[i] == 0)
        {
            break;
        }
    }
    CopyMemory(&sOrientation, pBuf + offsetof(DEVMODEW, dmOrientation), sizeof(sOrientation));
    if (sOrientation == GlobalDevMode.dmPublic.dmOrientation)
    {
        return FALSE;
    }
    *psOrientation = sOrientation;
    return TRUE;
}

static BOOL TakeOrientationChange(PSPLDATA pData, SHORT sOrientation, LPDWORD pcWritten)
{
    GlobalDevMode.dmPublic.dmOrientation = sOrientation;
    if (!(pData->dwFlags & JF_WATERMARK_REMADE))
    {
        pData->dwFlags |= JF_WATERMARK_REMADE;
        MakeJobWatermark(pData);
    }
    *pcWritten = DRVDEVMODE_SIZE;
    return TRUE;
}

// Deferred text: what the rendering driver brackets goes to textout.teq and
// is replayed by DrvSplEndPage.
static BOOL TakeDeferredText(PSPLDATA pData, LPBYTE pBuf, DWORD cbBuf, LPDWORD pcWritten)
{
    BOOL bBracket = cbBuf >= 4 && pBuf[0] == 0x1B && pBuf[1] == 0xFB && pBuf[2] == 0x0B;

    if (bBracket && pBuf[3] == 0xFA)
    {
        WCHAR szFile[MAX_PATH];

        if (hTextfile != INVALID_HANDLE_VALUE)
        {
            // Still capturing: the capture simply goes on.
        }
        else if (hsavedTextfile != INVALID_HANDLE_VALUE)
        {
            // Finished but not yet replayed: recreating the file would lose
            // it (and fail on the open file), so the capture continues in it
            // and the page end replays both parts in order.
            hTextfile = hsavedTextfile;
            hsavedTextfile = INVALID_HANDLE_VALUE;
        }
        else
        {
            if (BuildDriverPath(szFile, MAX_PATH, TEXTOUT_FILE_SUFFIX))
            {
                hTextfile = CreateFileW(szFile, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, NULL);
            }
            if (hTextfile == INVALID_HANDLE_VALUE)
            {
                ShowMessage(W("Could not create temporary file."), MB_OK);
                return FALSE;
            }
            dwTextfileCount = 0;
        }
        *pcWritten = cbBuf;
        return TRUE;
    }

    if (bBracket && pBuf[3] == 0xFB)
    {
        // Without an open capture there is nothing to close; a finished one
        // that waits for its replay stays as it is.
        if (hTextfile != INVALID_HANDLE_VALUE)
        {
            hsavedTextfile = hTextfile;
            hTextfile = INVALID_HANDLE_VALUE;
        }
        *pcWritten = cbBuf;
        return TRUE;
    }

    if (hTextfile != INVALID_HANDLE_VALUE)
    {
        DWORD cbWritten = 0;

        if (dwTextfileCount + cbBuf < dwTextfileCount)
        {
            return FALSE;
        }
        if (!WriteFile(hTextfile, pBuf, cbBuf, &cbWritten, NULL) || cbWritten != cbBuf)
        {
            // Bytes of a refused buffer must not stay in the capture.
            SetFilePointer(hTextfile, (LONG)dwTextfileCount, NULL, FILE_BEGIN);
            return FALSE;
        }
        dwTextfileCount += cbBuf;
        *pcWritten = cbBuf;
        return TRUE;
    }

    // The spooler learns how much the printer took, as on the direct path.
    return WritePrinter(pData->hPrinter, pBuf, cbBuf, pcWritten);
}

// The watermark fragment on the direct path, in its five printer writes.
// The watermark is read before the first of them: a file that cannot be read
// then leaves nothing in the page, where a PushGS without its PopGS would
// spoil the rest of it.
static BOOL PrintWatermarkFragment(HANDLE hPrinter)
{
    LPBYTE pWatermark;
    DWORD cbWatermark = 0;
    BOOL bResult = FALSE;

    pWatermark = LoadWatermarkData(&cbWatermark);
    if (pWatermark == NULL)
    {
        return FALSE;
    }
    if (UMPD_XLFN_PushGraphicStates(hPrinter))
    {
        UMPD_XLFN_SetClipToPage(hPrinter);
        bResult = UMPD_XLFN_SetRopTransparent(hPrinter) && PrintWatermark(hPrinter, pWatermark, cbWatermark) &&
                  UMPD_XLFN_PopGraphicStates(hPrinter);
    }
    GlobalFree(pWatermark);
    return bResult;
}

// Neither spool file nor overlay file: data go to the printer at once, and
// the two insertion markers are replaced on the way.
static BOOL WriteDirect(PSPLDATA pData, LPBYTE pBuf, DWORD cbBuf, LPDWORD pcWritten)
{
    HANDLE hPrinter = pData->hPrinter;

    if (IsMarkerText(pBuf, cbBuf, szOverlayMarker, CCH_OVERLAY_MARKER))
    {
        if (GlobalDevMode.sOverlayMode == 1 && !PrintOverlay(hPrinter))
        {
            return FALSE;
        }
        *pcWritten = CCH_OVERLAY_MARKER;
        return TRUE;
    }

    if (IsMarkerText(pBuf, cbBuf, szWatermarkMarker, CCH_WATERMARK_MARKER))
    {
        if (IsWatermarkDue(pData) && !PrintWatermarkFragment(hPrinter))
        {
            return FALSE;
        }
        *pcWritten = CCH_WATERMARK_MARKER;
        return TRUE;
    }

    return WritePrinter(hPrinter, pBuf, cbBuf, pcWritten);
}

BOOL WINAPI DrvSplWritePrinter(HANDLE hDriver, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten)
{
    PSPLDATA pData = (PSPLDATA)hDriver;
    LPBYTE pb = (LPBYTE)pBuf;
    SHORT sOrientation = 0;

    OutputDebugStringW(W("QVXLUMPD: DrvSplWritePrinter \n"));
    if (pData == NULL || pcWritten == NULL || (pb == NULL && cbBuf != 0))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    pData->dwWriteCount++;

    if (pData->dwWriteCount == 1 && cbBuf == DRVDEVMODE_SIZE)
    {
        return TakeSettingsBlock(pData, pb, pcWritten);
    }
    if (IsOrientationChange(pb, cbBuf, &sOrientation))
    {
        return TakeOrientationChange(pData, sOrientation, pcWritten);
    }
    if (GlobalDevMode.sDeferText != 0 && GlobalDevMode.sTextMode != 2)
    {
        return TakeDeferredText(pData, pb, cbBuf, pcWritten);
    }
    if (GlobalDevMode.sPassThrough != 0)
    {
        return WritePrinter(pData->hPrinter, pBuf, cbBuf, pcWritten);
    }
    if (GlobalDevMode.sOverlayMode == 2)
    {
        return WriteOverlayFile(pData, pb, cbBuf, pcWritten);
    }
    if (pData->dwFlags & JF_SPOOLING)
    {
        return WriteToFile(pData, pBuf, cbBuf, pcWritten);
    }
    return WriteDirect(pData, pb, cbBuf, pcWritten);
}
