// The watermark: the printer's own rendering driver draws the text in a
// one-page job whose output is the watermark file of the page orientation;
// the file's bytes are later spliced into pages inside the watermark fragment.
#include "decorations.h"

#include <math.h>

// 3.14159 / 180: the factor the drawing has always used, kept so that the
// text lands where it always has.
#define DEGREES_TO_RADIANS 0.01745327777777778

#define CCH_WM_WIDE 160

const BYTE abXlPushGS[1] = {0x61};
const BYTE abXlSetClipToPage[1] = {0x69};
const BYTE abXlSetRop252[CB_XL_SET_ROP] = {0xC0, 0xFC, 0xF8, 0x2C, 0x7B};
const BYTE abXlPopGS[1] = {0x60};

static BOOL WriteXlBytes(HANDLE hPrinter, const BYTE *pb, DWORD cb)
{
    return WritePrinterAll(hPrinter, pb, cb) ? 1 : 0;
}

BOOL UMPD_XLFN_PushGraphicStates(HANDLE hPrinter)
{
    return WriteXlBytes(hPrinter, abXlPushGS, sizeof(abXlPushGS));
}

BOOL UMPD_XLFN_PopGraphicStates(HANDLE hPrinter)
{
    return WriteXlBytes(hPrinter, abXlPopGS, sizeof(abXlPopGS));
}

BOOL UMPD_XLFN_SetClipToPage(HANDLE hPrinter)
{
    return WriteXlBytes(hPrinter, abXlSetClipToPage, sizeof(abXlSetClipToPage));
}

BOOL UMPD_XLFN_SetRopTransparent(HANDLE hPrinter)
{
    return WriteXlBytes(hPrinter, abXlSetRop252, sizeof(abXlSetRop252));
}

// The job's watermark file of an orientation: where the job made it (under
// the shared name of the orientation, or a name of its own when another job
// held that), else the shared name. Making it claims the name first. Any
// orientation but portrait and landscape names the Windows directory itself,
// which no reader can open.
static BOOL WatermarkPath(PSPLDATA pData, SHORT sOrientation, BOOL bMaking, LPWSTR pszPath)
{
    INT iFile;

    if (sOrientation == DMORIENT_PORTRAIT)
    {
        iFile = WM_PORTRAIT;
    }
    else if (sOrientation == DMORIENT_LANDSCAPE)
    {
        iFile = WM_LANDSCAPE;
    }
    else
    {
        return BuildDriverPath(pszPath, MAX_PATH, W(""));
    }
    if (pData->szWatermarkFile[iFile][0] == 0)
    {
        if (!bMaking)
        {
            return BuildDriverPath(pszPath, MAX_PATH,
                                   iFile == WM_PORTRAIT ? WATERMARK_PORTRAIT_SUFFIX : WATERMARK_LANDSCAPE_SUFFIX);
        }
        if (!ClaimSharedFile(pData, iFile, pData->szWatermarkFile[iFile]))
        {
            pData->szWatermarkFile[iFile][0] = 0;
            return FALSE;
        }
    }
    lstrcpyW(pszPath, pData->szWatermarkFile[iFile]);
    return TRUE;
}

void ReleaseWatermarkFiles(PSPLDATA pData)
{
    INT iFile;

    for (iFile = 0; iFile < WM_ORIENTATIONS; iFile++)
    {
        if (pData->szWatermarkFile[iFile][0] == 0)
        {
            continue;
        }
        // The shared file stays for the jobs to come; one of the job's own
        // goes with the job.
        if (!ReleaseSharedFile(pData, iFile))
        {
            DeleteFileW(pData->szWatermarkFile[iFile]);
        }
        pData->szWatermarkFile[iFile][0] = 0;
    }
}

// A watermark job that failed under a name of the job's own leaves nothing
// behind it: the page that wants the watermark then fails, where an empty
// file would print none without a word. Under the shared name the job reads
// what is there, as a job alone always has.
static void ForgetFailedWatermark(PSPLDATA pData, SHORT sOrientation)
{
    INT iFile = sOrientation == DMORIENT_PORTRAIT ? WM_PORTRAIT : WM_LANDSCAPE;

    if ((sOrientation != DMORIENT_PORTRAIT && sOrientation != DMORIENT_LANDSCAPE) ||
        pData->szWatermarkFile[iFile][0] == 0 || HoldsSharedFile(pData, iFile))
    {
        return;
    }
    DeleteFileW(pData->szWatermarkFile[iFile]);
    pData->szWatermarkFile[iFile][0] = 0;
}

// An 8-bit string of the settings block, read within its field, to UTF-16.
static BOOL WidenField(const CHAR *pField, INT cbField, LPWSTR pszWide, INT cchWide)
{
    CHAR szField[CB_WM_TEXT + 1];

    if (cbField > CB_WM_TEXT)
    {
        return FALSE;
    }
    CopyMemory(szField, pField, (SIZE_T)cbField);
    szField[cbField] = 0;
    return MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, szField, -1, pszWide, cchWide) > 0;
}

static INT SnapFontSize(const DRVDEVMODE *pdm)
{
    INT s = pdm->sWmFontSize;

    if (pdm->sWmSizeSnap == 1)
    {
        if (s >= 115 && s <= 119)
        {
            s = 114;
        }
        else if (s >= 120 && s <= 125)
        {
            s = 126;
        }
    }
    return s;
}

static BYTE SystemCharset(void)
{
    CHARSETINFO csi;

    ZeroMemory(&csi, sizeof(csi));
    if (!TranslateCharsetInfo((DWORD *)(DWORD_PTR)GetACP(), &csi, TCI_SRCCODEPAGE))
    {
        return DEFAULT_CHARSET;
    }
    return (BYTE)csi.ciCharset;
}

// Prints the watermark job for the settings dm to pszOutput.
static BOOL PrintWatermarkJob(DRVDEVMODE dm, HANDLE hPrinter, LPCWSTR pszOutput)
{
    WCHAR szText[CCH_WM_WIDE];
    WCHAR szFace[CCH_WM_WIDE];
    WCHAR szError[16];
    DOCINFOW DocInfo;
    LOGFONTW lf;
    TEXTMETRICW tm;
    PPRINTER_INFO_2W pInfo;
    HDC hdc = NULL;
    HFONT hFont = NULL;
    HFONT hFont2 = NULL;
    HGDIOBJ hOldFont = NULL;
    HPEN hPen = NULL;
    HGDIOBJ hOldPen = NULL;
    BOOL bResult = FALSE;
    INT cchText;
    INT s, pw, ph, h, x, y;
    double theta;

    ZeroMemory(&DocInfo, sizeof(DocInfo));
    DocInfo.cbSize = sizeof(DOCINFOW);
    DocInfo.lpszDocName = W("watermark file");
    DocInfo.lpszOutput = pszOutput;

    // The watermark job's own settings: no watermark of its own, nothing
    // spooled or reordered, every buffer straight to the output file.
    dm.dmPublic.dmScale = 100;
    dm.sWatermarkOn = 0;
    dm.sOverlayMode = 0;
    dm.sOverlayRepeat = 0;
    dm.sBooklet = 0;
    dm.sDeferText = 0;
    if (dm.sTextMode == 2)
    {
        dm.sTextMode = 1;
    }
    dm.sPassThrough = 1;

    pInfo = (PPRINTER_INFO_2W)MyGetPrinter(hPrinter, 2);
    if (pInfo != NULL)
    {
        // The settings block is the watermark job's DEVMODEW.
        hdc = CreateDCW(pInfo->pDriverName, pInfo->pPrinterName, NULL, (const DEVMODEW *)&dm);
    }
    if (hdc == NULL)
    {
        DWORD dwError = GetLastError();

        if (pInfo != NULL)
        {
            GlobalFree(pInfo);
        }
        ShowMessage(W("Failed to createDC in PSUI"), MB_OK);
        wsprintfW(szError, W("%d"), (INT)dwError);
        ShowMessage(szError, MB_OK);
        return FALSE;
    }
    GlobalFree(pInfo);

    s = SnapFontSize(&dm);

    if (!WidenField(dm.szWmText, CB_WM_TEXT, szText, CCH_WM_WIDE) ||
        !WidenField(dm.szWmFaceName, CB_WM_FACENAME, szFace, CCH_WM_WIDE))
    {
        ShowMessage(W("failed to MultiByteToWideChar"), MB_OK);
        goto Cleanup;
    }

    ZeroMemory(&lf, sizeof(lf));
    lf.lfHeight = -MulDiv(s, GetDeviceCaps(hdc, LOGPIXELSY), 72);
    lf.lfWidth = 0;
    lf.lfEscapement = dm.sWmAngle * 10;
    lf.lfOrientation = dm.sWmAngle * 10;
    lf.lfWeight = dm.lWmWeight;
    lf.lfItalic = dm.bWmItalic;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfPitchAndFamily = 1;
    lstrcpynW(lf.lfFaceName, szFace, LF_FACESIZE);

    hFont = CreateFontIndirectW(&lf);
    SetTextColor(hdc, dm.crWmColor);
    hOldFont = SelectObject(hdc, hFont);

    if (StartDocW(hdc, &DocInfo) <= 0)
    {
        ShowMessage(W("Failed to startDoc"), MB_OK);
        goto Cleanup;
    }
    StartPage(hdc);
    SetBkMode(hdc, TRANSPARENT);

    // The middle of the rotated text, half a line below its top edge, on the
    // centre of the physical page, moved by the offsets.
    pw = GetDeviceCaps(hdc, PHYSICALWIDTH) - 2 * GetDeviceCaps(hdc, PHYSICALOFFSETX);
    ph = GetDeviceCaps(hdc, PHYSICALHEIGHT) - 2 * GetDeviceCaps(hdc, PHYSICALOFFSETY);
    SetTextAlign(hdc, TA_CENTER | TA_TOP);
    ZeroMemory(&tm, sizeof(tm));
    GetTextMetricsW(hdc, &tm);
    h = tm.tmHeight / 2;
    theta = dm.sWmAngle * DEGREES_TO_RADIANS;
    x = pw / 2 - (INT)(h * sin(theta)) + dm.sWmOffsetX;
    y = ph / 2 - (INT)(h * cos(theta)) + dm.sWmOffsetY;

    cchText = lstrlenW(szText);
    if (dm.sWmOutline == 1)
    {
        hPen = CreatePen(PS_SOLID, 2, dm.crWmColor);
        hOldPen = SelectObject(hdc, hPen);
        BeginPath(hdc);
        if (!TextOutW(hdc, x, y, szText, cchText))
        {
            ShowMessage(W("Failed to TextOut"), MB_OK);
            goto Cleanup;
        }
        EndPath(hdc);
        if (GetPath(hdc, NULL, NULL, 0) == 0)
        {
            // The font has no outline for this text under the default
            // character set: draw again under the system code page's.
            lf.lfCharSet = SystemCharset();
            hFont2 = CreateFontIndirectW(&lf);
            SelectObject(hdc, hFont2);
            BeginPath(hdc);
            if (!TextOutW(hdc, x, y, szText, cchText))
            {
                ShowMessage(W("Failed to TextOut"), MB_OK);
                goto Cleanup;
            }
            EndPath(hdc);
        }
        StrokePath(hdc);
    }
    else if (!TextOutW(hdc, x, y, szText, cchText))
    {
        ShowMessage(W("Failed to TextOut"), MB_OK);
        goto Cleanup;
    }

    EndPage(hdc);
    EndDoc(hdc);
    bResult = TRUE;

Cleanup:
    // Deleting the DC of an unfinished document aborts that document.
    if (hOldPen != NULL)
    {
        SelectObject(hdc, hOldPen);
    }
    if (hPen != NULL)
    {
        DeleteObject(hPen);
    }
    if (hOldFont != NULL)
    {
        SelectObject(hdc, hOldFont);
    }
    if (hFont != NULL)
    {
        DeleteObject(hFont);
    }
    if (hFont2 != NULL)
    {
        DeleteObject(hFont2);
    }
    DeleteDC(hdc);
    return bResult;
}

BOOL MakeWatermarkData(PSPLDATA pData, DRVDEVMODE dm, HANDLE hPrinter)
{
    WCHAR szOutput[MAX_PATH];
    SHORT sOrientation = dm.dmPublic.dmOrientation;

    if (!WatermarkPath(pData, sOrientation, TRUE, szOutput))
    {
        return FALSE;
    }
    if (!PrintWatermarkJob(dm, hPrinter, szOutput))
    {
        ForgetFailedWatermark(pData, sOrientation);
        return FALSE;
    }
    return TRUE;
}

BOOL ReadWatermarkData(PSPLDATA pData, LPBYTE pBuffer, LPDWORD pcbSize, INT iMode)
{
    WCHAR szFile[MAX_PATH];
    HANDLE hFile;
    LPBYTE pBlock = NULL;
    DWORD cbFile;
    DWORD cbRead = 0;
    BOOL bResult = FALSE;

    if (!WatermarkPath(pData, pData->DevMode.dmPublic.dmOrientation, FALSE, szFile))
    {
        ShowMessage(W("Failed to CreateFile"), MB_OK);
        return FALSE;
    }
    hFile = CreateFileW(szFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        ShowMessage(W("Failed to CreateFile"), MB_OK);
        return FALSE;
    }
    cbFile = GetFileSize(hFile, NULL);
    if (cbFile == INVALID_FILE_SIZE)
    {
        ShowMessage(W("Failed to GetFileSize"), MB_OK);
        goto Cleanup;
    }

    if (iMode == 0)
    {
        if (pcbSize == NULL)
        {
            goto Cleanup;
        }
        *pcbSize = cbFile;
    }
    else if (iMode == 1)
    {
        // *pcbSize holds the room of the caller's block, the size its query
        // returned: a file that has grown since then would not fit, and one
        // that has shrunk is reported by its new size.
        if (pBuffer == NULL || pcbSize == NULL || cbFile > *pcbSize)
        {
            ShowMessage(W("Failed to ReadFile"), MB_OK);
            goto Cleanup;
        }
        pBlock = (LPBYTE)GlobalAlloc(GMEM_FIXED, cbFile);
        if (pBlock == NULL)
        {
            ShowMessage(W("failed to allocate memeory"), MB_OK);
            goto Cleanup;
        }
        SetLastError(NO_ERROR);
        if (SetFilePointer(hFile, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        {
            ShowMessage(W("Failed to SetFilePointer"), MB_OK);
            goto Cleanup;
        }
        if (!ReadFile(hFile, pBlock, cbFile, &cbRead, NULL) || cbRead != cbFile)
        {
            ShowMessage(W("Failed to ReadFile"), MB_OK);
            goto Cleanup;
        }
        CopyMemory(pBuffer, pBlock, cbFile);
        *pcbSize = cbFile;
    }
    bResult = TRUE;

Cleanup:
    if (pBlock != NULL)
    {
        GlobalFree(pBlock);
    }
    CloseHandle(hFile);
    return bResult;
}

LPBYTE LoadWatermarkData(PSPLDATA pData, LPDWORD pcb)
{
    DWORD cbSize = 0;
    LPBYTE pBuffer;

    if (!ReadWatermarkData(pData, NULL, &cbSize, 0))
    {
        return NULL;
    }
    pBuffer = (LPBYTE)GlobalAlloc(GMEM_FIXED, cbSize);
    if (pBuffer == NULL)
    {
        ShowMessage(W("failed to allocate memeory"), MB_ICONERROR);
        return NULL;
    }
    if (!ReadWatermarkData(pData, pBuffer, &cbSize, 1))
    {
        GlobalFree(pBuffer);
        ShowMessage(W("failed to read watermark data"), MB_ICONERROR);
        return NULL;
    }
    *pcb = cbSize;
    return pBuffer;
}

// Step 4 of the watermark fragment: the watermark data, read beforehand by
// LoadWatermarkData, in one printer write. All of it reaches the printer, or
// the write fails.
BOOL PrintWatermark(HANDLE hPrinter, LPBYTE pWatermark, DWORD cbWatermark)
{
    if (!WritePrinterAll(hPrinter, pWatermark, cbWatermark))
    {
        ShowMessage(W("failed to WritePrinter in watermark module"), MB_ICONERROR);
        return FALSE;
    }
    return TRUE;
}
