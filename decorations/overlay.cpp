// Page overlays: a creation job stores its first page in the overlay file;
// later jobs get the overlay library's data embedded, as one PCL XL ReadStream
// with its embedded stream, wherever the rendering driver wrote
// "TimeToInsertOverlay".
#include "decorations.h"

// Stream header of the embedded stream: 22 bytes of protocol, a comment of
// 38 characters.
const char szOverlayStreamHeader[] = "HP-PCL XL;2;0;Comment "
                                     "page overlay embedded by the spoolhook";
static_assert(sizeof(szOverlayStreamHeader) - 1 == CB_OVERLAY_STREAM_HEADER, "stream header is 60 bytes");

static void PutDword(LPBYTE pb, DWORD dw)
{
    pb[0] = (BYTE)dw;
    pb[1] = (BYTE)(dw >> 8);
    pb[2] = (BYTE)(dw >> 16);
    pb[3] = (BYTE)(dw >> 24);
}

// uint32 N, StreamDataLength, ReadStream, embedded data of N bytes: the
// binding ")" with a blank, the stream header and a line feed, then the data.
BOOL BuildOverlayPrefix(LPBYTE pbPrefix, DWORD cbData)
{
    DWORD cbHeader = (DWORD)lstrlenA(szOverlayStreamHeader);
    DWORD cbEmbedded = 2 + cbHeader + 1 + cbData;

    if (cbHeader != CB_OVERLAY_STREAM_HEADER || cbEmbedded < cbData || 13 + cbEmbedded < cbEmbedded)
    {
        return FALSE;
    }
    pbPrefix[0] = 0xC2; // uint32
    PutDword(pbPrefix + 1, cbEmbedded);
    pbPrefix[5] = 0xF8; // attribute StreamDataLength
    pbPrefix[6] = 0x8C;
    pbPrefix[7] = 0x5C; // ReadStream
    pbPrefix[8] = 0xFA; // embedded data, uint32 length
    PutDword(pbPrefix + 9, cbEmbedded);
    pbPrefix[13] = 0x29; // ')': low byte first
    pbPrefix[14] = 0x20;
    CopyMemory(pbPrefix + 15, szOverlayStreamHeader, CB_OVERLAY_STREAM_HEADER);
    pbPrefix[15 + CB_OVERLAY_STREAM_HEADER] = 0x0A;
    return TRUE;
}

// Direct path: the embedding in seven printer writes. Every write is
// checked: after a failed one the rest would make a corrupt stream.
BOOL PrintOverlay(PSPLDATA pData, HANDLE hPrinter)
{
    static const DWORD acbPieces[] = {1, 8, 4, 2, CB_OVERLAY_STREAM_HEADER, 1};
    BYTE abPrefix[CB_OVERLAY_PREFIX];
    LPBYTE pOverlay;
    LPBYTE pb = abPrefix;
    DWORD cbData = 0;
    BOOL bResult = FALSE;
    DWORD i;

    pOverlay = GetOverlayData(pData, &cbData);
    if (pOverlay == NULL)
    {
        return FALSE;
    }
    pData->dwByteCountOfOverlay = cbData;
    if (!BuildOverlayPrefix(abPrefix, cbData))
    {
        goto Cleanup;
    }
    for (i = 0; i < sizeof(acbPieces) / sizeof(acbPieces[0]); i++)
    {
        if (!WritePrinterAll(hPrinter, pb, acbPieces[i]))
        {
            goto Cleanup;
        }
        pb += acbPieces[i];
    }
    bResult = WritePrinterAll(hPrinter, pOverlay, pData->dwByteCountOfOverlay);

Cleanup:
    GlobalFree(pOverlay);
    return bResult;
}

// The overlay path of the settings block as a wide string, read within its
// field.
static BOOL WidenOverlayPath(PSPLDATA pData, LPWSTR pszPath, INT cchPath)
{
    CHAR szPath[CB_OVERLAY_FILE + 1];

    CopyMemory(szPath, pData->DevMode.szOverlayFile, CB_OVERLAY_FILE);
    szPath[CB_OVERLAY_FILE] = 0;
    if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, szPath, -1, pszPath, cchPath) <= 0)
    {
        ShowMessage(W("failed to MultiByteToWideChar"), MB_OK);
        return FALSE;
    }
    return TRUE;
}

static BOOL AskAboutOverlay(LPCWSTR pszMessage, LPCWSTR pszPath)
{
    return MessageBoxW(NULL, pszMessage, pszPath, MB_OKCANCEL | MB_ICONQUESTION | MB_SYSTEMMODAL) != IDCANCEL;
}

// The overlay is written under a temporary name in its own folder (so that
// putting it in place is a rename on one volume) and renamed at the end of
// the job: a job that prints with the overlay meanwhile reads the old one,
// whole, and an aborted creation leaves it untouched.
static BOOL OpenOverlayFile(PSPLDATA pData, LPCWSTR pszPath)
{
    WCHAR szDir[CB_OVERLAY_FILE + 1];
    INT i;
    INT iCut = -1;

    lstrcpynW(szDir, pszPath, CB_OVERLAY_FILE + 1);
    for (i = 0; szDir[i] != 0; i++)
    {
        if (szDir[i] == '\\' || szDir[i] == '/')
        {
            iCut = i;
        }
    }
    if (iCut < 0)
    {
        lstrcpyW(szDir, W("."));
    }
    else
    {
        szDir[iCut == 0 ? 1 : iCut] = 0;
    }
    if (GetTempFileNameW(szDir, W("OVL"), 0, pData->szOvlyTempFile) == 0)
    {
        pData->szOvlyTempFile[0] = 0;
        return FALSE;
    }
    pData->hOvlyFile = CreateFileW(pData->szOvlyTempFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (pData->hOvlyFile == INVALID_HANDLE_VALUE)
    {
        DeleteFileW(pData->szOvlyTempFile);
        pData->szOvlyTempFile[0] = 0;
        return FALSE;
    }
    return TRUE;
}

void FinishOverlayFile(PSPLDATA pData, BOOL bKeep)
{
    WCHAR szPath[CB_OVERLAY_FILE + 1];
    BOOL bPlaced = FALSE;

    if (pData->hOvlyFile == INVALID_HANDLE_VALUE)
    {
        return;
    }
    CloseHandle(pData->hOvlyFile);
    pData->hOvlyFile = INVALID_HANDLE_VALUE;
    if (bKeep && WidenOverlayPath(pData, szPath, CB_OVERLAY_FILE + 1))
    {
        // Not while another job of this process reads the overlay.
        EnterJobsSection();
        bPlaced = MoveFileExW(pData->szOvlyTempFile, szPath, MOVEFILE_REPLACE_EXISTING);
        LeaveJobsSection();
        if (!bPlaced)
        {
            ShowMessage(W("Failed in Writing Overlay file"), MB_ICONERROR);
        }
    }
    if (!bPlaced)
    {
        DeleteFileW(pData->szOvlyTempFile);
    }
    pData->szOvlyTempFile[0] = 0;
}

// The once-only mark: TRUE when this creation job may ask. Read and written
// in one step, so that of two creation jobs at once only one asks.
static BOOL TakeOnceOnlyMark(PSPLDATA pData, LPCWSTR pszIni)
{
    WCHAR szMark[CCH_INI_VALUE];
    BOOL bMayAsk = TRUE;

    EnterJobsSection();
    GetPrivateProfileStringW(W("Overlay Data"), W("Overlay Message"), W("0"), szMark, CCH_INI_VALUE, pszIni);
    if (pData->DevMode.sOverlayRepeat != 3)
    {
        if (lstrcmpW(szMark, W("1")) == 0)
        {
            bMayAsk = FALSE;
        }
        else
        {
            WritePrivateProfileStringW(W("Overlay Data"), W("Overlay Message"), W("1"), pszIni);
        }
    }
    LeaveJobsSection();
    return bMayAsk;
}

INT OverlayCreateStart(PSPLDATA pData)
{
    WCHAR szIni[MAX_PATH];
    WCHAR szMessage[CCH_INI_VALUE];
    WCHAR szPath[CB_OVERLAY_FILE + 1];

    szIni[0] = 0;
    BuildDriverPath(szIni, MAX_PATH, INI_FILE_SUFFIX);
    if (!TakeOnceOnlyMark(pData, szIni))
    {
        goto Decline;
    }
    GetPrivateProfileStringW(W("OVERLAY"), W("OverlayCreateMessage"), W("Create Page Overlay ?"), szMessage,
                             CCH_INI_VALUE, szIni);
    if (!WidenOverlayPath(pData, szPath, CB_OVERLAY_FILE + 1))
    {
        return OVERLAY_FAILED;
    }
    if (!AskAboutOverlay(szMessage, szPath))
    {
        goto Decline;
    }

    FinishOverlayFile(pData, FALSE);
    if (!OpenOverlayFile(pData, szPath))
    {
        ShowMessage(W("Failed to CreateFile in Create Overlay"), MB_OK);
        return OVERLAY_FAILED;
    }
    return OVERLAY_GO_ON;

Decline:
    pData->DevMode.sOverlayMode = 0;
    return OVERLAY_DECLINED;
}

INT OverlayQuery(PSPLDATA pData)
{
    WCHAR szIni[MAX_PATH];
    WCHAR szMessage[CCH_INI_VALUE];
    WCHAR szPath[CB_OVERLAY_FILE + 1];

    szIni[0] = 0;
    BuildDriverPath(szIni, MAX_PATH, INI_FILE_SUFFIX);
    GetPrivateProfileStringW(W("OVERLAY"), W("OverlayQueryMessage"), W("Print Document with the Overlay ?"), szMessage,
                             CCH_INI_VALUE, szIni);
    if (!WidenOverlayPath(pData, szPath, CB_OVERLAY_FILE + 1))
    {
        return OVERLAY_FAILED;
    }
    if (!AskAboutOverlay(szMessage, szPath))
    {
        pData->DevMode.sOverlayMode = 0;
        return OVERLAY_DECLINED;
    }
    return OVERLAY_GO_ON;
}

static BOOL WriteOverlayBytes(PSPLDATA pData, LPCVOID pv, DWORD cb)
{
    DWORD cbWritten = 0;

    if (cb > 0 && (!WriteFile(pData->hOvlyFile, pv, cb, &cbWritten, NULL) || cbWritten != cb))
    {
        ShowMessage(W("Failed in Writing Overlay file"), MB_ICONERROR);
        return FALSE;
    }
    return TRUE;
}

// A data buffer of a creation job: page 1, from its start to its end, goes
// to the overlay file, with the watermark body (no PushGS, no PopGS) in place
// of its marker. Before and after it, buffers are dropped.
BOOL WriteOverlayFile(PSPLDATA pData, LPBYTE pBuf, DWORD cbBuf, LPDWORD pcWritten)
{
    LPBYTE pWatermark = NULL;
    DWORD cbWatermark = 0;
    BOOL bResult;

    if (pData->dwPageCount != 1 || (pData->dwFlags & JF_OVERLAY_PAGE_DONE))
    {
        *pcWritten = cbBuf;
        return TRUE;
    }
    // The creation start failed: there is no file to take the page.
    if (pData->hOvlyFile == INVALID_HANDLE_VALUE)
    {
        return FALSE;
    }

    if (cbBuf == CCH_WATERMARK_MARKER && memcmp(pBuf, szWatermarkMarker, CCH_WATERMARK_MARKER) == 0)
    {
        if (pData->DevMode.sWatermarkOn == 0)
        {
            *pcWritten = CCH_WATERMARK_MARKER;
            return TRUE;
        }
        pWatermark = LoadWatermarkData(pData, &cbWatermark);
        if (pWatermark == NULL)
        {
            return FALSE;
        }
        bResult = WriteOverlayBytes(pData, abXlSetClipToPage, sizeof(abXlSetClipToPage)) &&
                  WriteOverlayBytes(pData, abXlSetRop252, sizeof(abXlSetRop252)) &&
                  WriteOverlayBytes(pData, pWatermark, cbWatermark);
        GlobalFree(pWatermark);
    }
    else
    {
        bResult = WriteOverlayBytes(pData, pBuf, cbBuf);
    }
    if (!bResult)
    {
        return FALSE;
    }
    *pcWritten = cbBuf;
    return TRUE;
}
