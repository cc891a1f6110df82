// DrvSplWritePrinter: every buffer of a job arrives here and is taken as the
// settings block, a marker, deferred text, or data for the printer, the
// overlay file or the spool file.
#include "kd7720um.h"

#include "decorations.h"
#include "hookcore.h"

const char szOverlayMarker[] = "TimeToInsertOverlay";
const char szWatermarkMarker[] = "TimeToInsertWatermark";

static BOOL IsMarkerText(LPBYTE pb, DWORD cb, const char *pszMarker, DWORD cchMarker)
{
    return cb == cchMarker && memcmp(pb, pszMarker, cchMarker) == 0;
}

BOOL IsWatermarkDue(PSPLDATA pData)
{
    return pData->DevMode.sWatermarkOn != 0 && (pData->DevMode.sWmFirstPageOnly == 0 || pData->dwPageCount == 1);
}

// Makes the watermark file for the job's settings. The watermark job runs
// through these same hooks as a job of its own, with settings of its own.
static void MakeJobWatermark(PSPLDATA pData)
{
    if (!MakeWatermarkData(pData, pData->DevMode, pData->hPrinter))
    {
        ShowMessage(W("Failed to makewatermark: WMark"), MB_ICONERROR);
    }
}

// Writes "UserID" of kd7720u.ini from the block when the ini has none. The
// block's string is read within its field only: it need not end in a NUL.
static void RecordUserId(PSPLDATA pData)
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
    while (cbId < CB_USER_ID && pData->DevMode.szUserID[cbId] != 0)
    {
        cbId++;
    }
    if (cbId > 0)
    {
        cchId = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, pData->DevMode.szUserID, cbId, szFromBlock, CB_USER_ID);
        if (cchId <= 0)
        {
            return;
        }
    }
    szFromBlock[cchId] = 0;
    WritePrivateProfileStringW(W("GetUserID"), W("UserID"), szFromBlock, szIni);
}

static BOOL SpoolingWanted(const DRVDEVMODE *pdm)
{
    return pdm->sPassThrough == 0 && (pdm->sReverseOrder != 0 || pdm->sCollate == 1 || pdm->sManualDuplex != 0 ||
                                      pdm->sBooklet != 0 || (pdm->sMediaKind == 3 && pdm->sOhpInterleave > 0));
}

// The job's first buffer: the settings block.
static BOOL TakeSettingsBlock(PSPLDATA pData, LPBYTE pBuf, LPDWORD pcWritten)
{
    BOOL bDeclined = FALSE;
    BOOL bOverlayOpened = FALSE;

    CopyMemory(&pData->DevMode, pBuf, sizeof(DRVDEVMODE));
    RecordUserId(pData);

    if (pData->DevMode.sWatermarkOn != 0)
    {
        MakeJobWatermark(pData);
    }

    if (pData->DevMode.sOverlayMode == 2)
    {
        switch (OverlayCreateStart(pData))
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

    if (!bOverlayOpened && SpoolingWanted(&pData->DevMode))
    {
        InitFileOperation(pData);
    }

    if (pData->DevMode.sOverlayMode == 1 && pData->DevMode.sOverlayQuery != 0)
    {
        switch (OverlayQuery(pData))
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
static BOOL IsOrientationChange(PSPLDATA pData, LPBYTE pBuf, DWORD cbBuf, SHORT *psOrientation)
{
    const DRVDEVMODE *pdm = &pData->DevMode;
    WCHAR szDevice[CCHDEVICENAME];
    SHORT sOrientation;
    INT i;

    if (pdm->sWatermarkOn == 0 || cbBuf != DRVDEVMODE_SIZE)
    {
        return FALSE;
    }
    // The buffer need not be aligned, and its name need not end in a NUL.
    CopyMemory(szDevice, pBuf + offsetof(DEVMODEW, dmDeviceName), sizeof(szDevice));
    for (i = 0; i < CCHDEVICENAME; i++)
    {
        if (szDevice[i] != pdm->dmPublic.dmDeviceName[i])
        {
            return FALSE;
        }
        if (szDevice[i] == 0)
        {
            break;
        }
    }
    CopyMemory(&sOrientation, pBuf + offsetof(DEVMODEW, dmOrientation), sizeof(sOrientation));
    if (sOrientation == pdm->dmPublic.dmOrientation)
    {
        return FALSE;
    }
    *psOrientation = sOrientation;
    return TRUE;
}

static BOOL TakeOrientationChange(PSPLDATA pData, SHORT sOrientation, LPDWORD pcWritten)
{
    pData->DevMode.dmPublic.dmOrientation = sOrientation;
    if (!(pData->dwFlags & JF_WATERMARK_REMADE))
    {
        pData->dwFlags |= JF_WATERMARK_REMADE;
        MakeJobWatermark(pData);
    }
    *pcWritten = DRVDEVMODE_SIZE;
    return TRUE;
}

// The capture can no longer be trusted: a failed write could not be undone,
// so it holds bytes it never counted. It goes, and so does the rest of the
// job, rather than print a page without text it was given.
static void LoseTextCapture(PSPLDATA pData)
{
    DiscardTextCapture(pData);
    pData->dwTextfileCount = 0;
    pData->dwFlags |= JF_CAPTURE_FAILED;
    OutputDebugStringW(W("QVXLUMPD: deferred text lost, job refused\n"));
}

// Deferred text: what the rendering driver brackets goes to the job's
// textout file and is replayed by DrvSplEndPage.
static BOOL TakeDeferredText(PSPLDATA pData, LPBYTE pBuf, DWORD cbBuf, LPDWORD pcWritten)
{
    BOOL bBracket = cbBuf >= 4 && pBuf[0] == 0x1B && pBuf[1] == 0xFB && pBuf[2] == 0x0B;

    if (pData->dwFlags & JF_CAPTURE_FAILED)
    {
        *pcWritten = 0;
        return FALSE;
    }

    if (bBracket && pBuf[3] == 0xFA)
    {
        if (pData->hTextfile != INVALID_HANDLE_VALUE)
        {
            // Still capturing: the capture simply goes on.
        }
        else if (pData->hsavedTextfile != INVALID_HANDLE_VALUE)
        {
            // Finished but not yet replayed: recreating the file would lose
            // it (and fail on the open file), so the capture continues in it
            // and the page end replays both parts in order.
            pData->hTextfile = pData->hsavedTextfile;
            pData->hsavedTextfile = INVALID_HANDLE_VALUE;
        }
        else
        {
            if (ClaimSharedFile(pData, SHARED_TEXTOUT, pData->szTextFile))
            {
                pData->hTextfile = CreateFileW(pData->szTextFile, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL, NULL);
            }
            if (pData->hTextfile == INVALID_HANDLE_VALUE)
            {
                // A name of the job's own was made for it: it goes again.
                if (!ReleaseSharedFile(pData, SHARED_TEXTOUT) && pData->szTextFile[0] != 0)
                {
                    DeleteFileW(pData->szTextFile);
                }
                pData->szTextFile[0] = 0;
                ShowMessage(W("Could not create temporary file."), MB_OK);
                return FALSE;
            }
            pData->dwTextfileCount = 0;
        }
        *pcWritten = cbBuf;
        return TRUE;
    }

    if (bBracket && pBuf[3] == 0xFB)
    {
        // Without an open capture there is nothing to close; a finished one
        // that waits for its replay stays as it is.
        if (pData->hTextfile != INVALID_HANDLE_VALUE)
        {
            pData->hsavedTextfile = pData->hTextfile;
            pData->hTextfile = INVALID_HANDLE_VALUE;
        }
        *pcWritten = cbBuf;
        return TRUE;
    }

    if (pData->hTextfile != INVALID_HANDLE_VALUE)
    {
        DWORD cbWritten = 0;

        if (pData->dwTextfileCount + cbBuf < pData->dwTextfileCount)
        {
            return FALSE;
        }
        if (!WriteFile(pData->hTextfile, pBuf, cbBuf, &cbWritten, NULL) || cbWritten != cbBuf)
        {
            // Bytes of a refused buffer must not stay in the capture: the
            // file goes back to its count, or, when it cannot, the capture
            // is lost.
            if (!SeekFileTo(pData->hTextfile, pData->dwTextfileCount))
            {
                LoseTextCapture(pData);
            }
            return FALSE;
        }
        pData->dwTextfileCount += cbBuf;
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
static BOOL PrintWatermarkFragment(PSPLDATA pData, HANDLE hPrinter)
{
    LPBYTE pWatermark;
    DWORD cbWatermark = 0;
    BOOL bResult = FALSE;

    pWatermark = LoadWatermarkData(pData, &cbWatermark);
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
        if (pData->DevMode.sOverlayMode == 1 && !PrintOverlay(pData, hPrinter))
        {
            return FALSE;
        }
        *pcWritten = CCH_OVERLAY_MARKER;
        return TRUE;
    }

    if (IsMarkerText(pBuf, cbBuf, szWatermarkMarker, CCH_WATERMARK_MARKER))
    {
        if (IsWatermarkDue(pData) && !PrintWatermarkFragment(pData, hPrinter))
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
    if (IsOrientationChange(pData, pb, cbBuf, &sOrientation))
    {
        return TakeOrientationChange(pData, sOrientation, pcWritten);
    }
    if (pData->DevMode.sDeferText != 0 && pData->DevMode.sTextMode != 2)
    {
        return TakeDeferredText(pData, pb, cbBuf, pcWritten);
    }
    if (pData->DevMode.sPassThrough != 0)
    {
        return WritePrinter(pData->hPrinter, pBuf, cbBuf, pcWritten);
    }
    if (pData->DevMode.sOverlayMode == 2)
    {
        return WriteOverlayFile(pData, pb, cbBuf, pcWritten);
    }
    if (pData->dwFlags & JF_SPOOLING)
    {
        return WriteToFile(pData, pBuf, cbBuf, pcWritten);
    }
    return WriteDirect(pData, pb, cbBuf, pcWritten);
}
