// The spool file of a job with a page-order feature: its creation, the intake
// of every buffer with the marker records that fill the page index, and the
// copy from the file to the printer.
#include "decorations.h"
#include "hookcore.h"
#include "output.h"

// A piece of bytes that goes into the spool file as part of one unit.
typedef struct _SPOOL_PIECE
{
    LPCVOID pv;
    DWORD cb;
} SPOOL_PIECE;

BOOL InitFileOperation(PSPLDATA pData)
{
    const DRVDEVMODE *pdm = &pData->DevMode;
    DWORD cchTempPath;

    pData->dwFlags |= JF_SPOOLING;
    if (pdm->sMediaKind == 3 && pdm->sOhpInterleave > 0)
    {
        pData->dwFlags |= JF_TRANSPARENCY;
    }
    if (pdm->sCollate == 1)
    {
        pData->dwFlags |= JF_COLLATE;
    }
    if (pdm->sReverseOrder != 0)
    {
        pData->dwFlags |= JF_REVERSE;
    }
    if (pdm->sManualDuplex != 0)
    {
        pData->dwFlags |= JF_MANUAL_DUPLEX;
    }
    if (pdm->sBooklet != 0)
    {
        pData->dwFlags |= JF_BOOKLET;
    }
    OutputDebugStringW(W(" Manual Duplex enabled...\n"));

    pData->hTempFile = INVALID_HANDLE_VALUE;
    cchTempPath = GetTempPathW(MAX_PATH, pData->szTempPath);
    if (cchTempPath == 0 || cchTempPath >= MAX_PATH ||
        GetTempFileNameW(pData->szTempPath, W("VNT"), 0, pData->szTempFile) == 0)
    {
        OutputDebugStringW(W("Could not create temporary file."));
        return FALSE;
    }
    pData->hTempFile = CreateFileW(pData->szTempFile, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, NULL);
    if (pData->hTempFile == INVALID_HANDLE_VALUE)
    {
        // GetTempFileNameW made the file; without a handle nobody deletes it.
        DeleteFileW(pData->szTempFile);
        OutputDebugStringW(W("Could not create temporary file."));
        return FALSE;
    }
    OutputDebugStringW(pData->szTempFile);
    OutputDebugStringW(W("  --- Temp File created ...\n"));
    pData->file_info.dwCount = 0;
    pData->file_info.iTotalPage = 0;
    return TRUE;
}

BOOL SeekFileTo(HANDLE hFile, DWORD dwOffset)
{
    LONG lHigh = 0;

    SetLastError(NO_ERROR);
    return SetFilePointer(hFile, (LONG)dwOffset, &lHigh, FILE_BEGIN) != INVALID_SET_FILE_POINTER ||
           GetLastError() == NO_ERROR;
}

BOOL SeekSpoolFile(PSPLDATA pData, DWORD dwOffset)
{
    return SeekFileTo(pData->hTempFile, dwOffset);
}

// The spool file can no longer be trusted: it goes, and the job fails.
static void LoseSpoolFile(PSPLDATA pData)
{
    CloseHandle(pData->hTempFile);
    pData->hTempFile = INVALID_HANDLE_VALUE;
    DeleteFileW(pData->szTempFile);
    pData->dwFlags |= JF_SPOOL_FAILED;
    OutputDebugStringW(W("QVXLUMPD: spool file lost\n"));
}

// Appends the pieces as one unit: all of them, counted in dwCount, or none.
// After a failed or short write the file position goes back, so the next
// buffer overwrites what was left and dwCount counts only whole buffers.
static BOOL SpoolWrite(PSPLDATA pData, const SPOOL_PIECE *aPieces, DWORD cPieces)
{
    DWORD dwStart = pData->file_info.dwCount;
    DWORD cbTotal = 0;
    DWORD i;

    for (i = 0; i < cPieces; i++)
    {
        DWORD cbWritten = 0;

        if (dwStart + cbTotal + aPieces[i].cb < dwStart + cbTotal)
        {
            goto Rollback; // beyond the 32-bit offsets of the page index
        }
        if (aPieces[i].cb > 0 && (!WriteFile(pData->hTempFile, aPieces[i].pv, aPieces[i].cb, &cbWritten, NULL) ||
                                  cbWritten != aPieces[i].cb))
        {
            goto Rollback;
        }
        cbTotal += aPieces[i].cb;
    }
    pData->file_info.dwCount += cbTotal;
    return TRUE;

Rollback:
    if (!SeekSpoolFile(pData, dwStart))
    {
        LoseSpoolFile(pData);
    }
    return FALSE;
}

// Makes room in the orientation list for page iTotalPage + 1. The list
// belongs to the job being spooled: its first page starts a fresh one, and a
// list that does not reach the page grows, entries kept; pages recorded
// before the booklet record arrived read as orientation 0.
void CheckOrientationArray(PSPLDATA pData)
{
    PBOOKLET_INFO pInfo = &pData->booklet_info;
    INT iPage = pData->file_info.iTotalPage;
    INT nSize;
    LPBYTE pNew;

    if (iPage == 0 || pInfo->pOrientation == NULL)
    {
        FreeOrientationList(pData);
    }
    if (iPage < pInfo->nOrientationSize)
    {
        return;
    }
    nSize = (iPage / 64 + 1) * 64;
    pNew = (LPBYTE)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, (SIZE_T)nSize);
    if (pNew == NULL)
    {
        return; // the caller finds no room for the page
    }
    if (pInfo->pOrientation != NULL)
    {
        CopyMemory(pNew, pInfo->pOrientation, (SIZE_T)pInfo->nOrientationSize);
        GlobalFree(pInfo->pOrientation);
    }
    pInfo->pOrientation = pNew;
    pInfo->nOrientationSize = nSize;
}

void FreeOrientationList(PSPLDATA pData)
{
    PBOOKLET_INFO pInfo = &pData->booklet_info;

    if (pInfo->pOrientation != NULL)
    {
        GlobalFree(pInfo->pOrientation);
    }
    pInfo->pOrientation = NULL;
    pInfo->nOrientationSize = 0;
}

// The fields of the end marker that follow the code byte. A field that the
// buffer does not hold in full ends the parse; a fragment too long for its
// room is refused whole, as a cut one would be a corrupt command. A refused
// copy command leaves the copies to the hook, so that the person still gets
// as many as were asked for.
static void TakeEndMarker(PSPLDATA pData, LPBYTE pBuf, DWORD cbBuf)
{
    PDRVDEVMODE pdm = &pData->DevMode;
    DWORD ib = 4;

    pData->file_info.dwPage[pData->file_info.iTotalPage] = pData->file_info.dwCount;
    pData->dwFlags |= JF_END_MARKED;

    if (pdm->sCollate == 1)
    {
        if (cbBuf < ib + 2)
        {
            return;
        }
        pdm->dmPublic.dmCopies = (SHORT)(WORD)(pBuf[ib] | (pBuf[ib + 1] << 8));
        ib += 2;

        if (pdm->sCopyCommand == 1)
        {
            DWORD cbCmd;

            if (cbBuf < ib + 1)
            {
                return;
            }
            cbCmd = pBuf[ib];
            if (cbBuf < ib + 1 + cbCmd)
            {
                return;
            }
            if (cbCmd < CB_COPY_CMD)
            {
                CopyMemory(pData->abCopyCmd, pBuf + ib, cbCmd + 1);
                pData->dwFlags &= ~JF_COPY_CMD_REFUSED;
            }
            else
            {
                DbgTrace(W("QVXLUMPD: copy command of %d bytes refused, the hook makes the copies\n"), (INT)cbCmd);
                pData->dwFlags |= JF_COPY_CMD_REFUSED;
            }
            ib += 1 + cbCmd;
        }
    }

    if (pData->dwFlags & JF_BOOKLET)
    {
        DWORD cbFragment;

        if (cbBuf < ib + 2)
        {
            return;
        }
        cbFragment = pBuf[ib + 1];
        DbgTrace(W("EndPage : index = %d, size = %d \r\n"), pBuf[ib], (INT)cbFragment);
        if (cbBuf < ib + 2 + cbFragment || cbFragment > CB_BOOKLET_FRAGMENT)
        {
            DbgTrace(W("QVXLUMPD: end-page fragment of %d bytes refused\n"), (INT)cbFragment);
            return;
        }
        pData->booklet_info.EndPage.cb = (BYTE)cbFragment;
        CopyMemory(pData->booklet_info.EndPage.ab, pBuf + ib + 2, cbFragment);
    }
}

// A marker record: consumed, nothing of it spooled. FALSE when it must be
// refused.
static BOOL TakeMarker(PSPLDATA pData, LPBYTE pBuf, DWORD cbBuf)
{
    PFILE_INFO pInfo = &pData->file_info;

    if (cbBuf < 4)
    {
        return TRUE; // no code byte: nothing to do
    }
    switch (pBuf[3])
    {
    case MARK_PAGE_START:
        // The entry after the last page marks the trailer: the index is full
        // at MAX_SPOOL_PAGES pages, and a job that goes on cannot be reordered.
        if (pInfo->iTotalPage >= MAX_SPOOL_PAGES)
        {
            OutputDebugStringW(W("QVXLUMPD: page index full, job refused\n"));
            pData->dwFlags |= JF_SPOOL_FAILED;
            return FALSE;
        }
        if (pData->dwFlags & JF_BOOKLET)
        {
            // Without room for its orientation the page would be imposed
            // without its origin and rotation: the job cannot be printed as
            // asked, and says so.
            CheckOrientationArray(pData);
            if (pInfo->iTotalPage >= pData->booklet_info.nOrientationSize)
            {
                OutputDebugStringW(W("QVXLUMPD: no room for page orientations, job refused\n"));
                pData->dwFlags |= JF_SPOOL_FAILED;
                return FALSE;
            }
            pData->booklet_info.pOrientation[pInfo->iTotalPage] = cbBuf > 4 ? pBuf[4] : 0;
        }
        pInfo->dwPage[pInfo->iTotalPage] = pInfo->dwCount;
        pInfo->iTotalPage++;
        pData->dwFlags &= ~JF_END_MARKED;
        break;
    case MARK_END:
        TakeEndMarker(pData, pBuf, cbBuf);
        break;
    case MARK_COPY_POS:
        pData->dwCopyPos = pInfo->dwCount;
        break;
    case MARK_BOOKLET:
        return InitBooklet(pData, pBuf, cbBuf);
    default:
        break;
    }
    return TRUE;
}

static BOOL SpoolOverlay(PSPLDATA pData)
{
    BYTE abPrefix[CB_OVERLAY_PREFIX];
    SPOOL_PIECE aPieces[7];
    LPBYTE pData2;
    DWORD cbData = 0;
    BOOL bResult;

    pData2 = GetOverlayData(pData, &cbData);
    if (pData2 == NULL)
    {
        return FALSE;
    }
    if (!BuildOverlayPrefix(abPrefix, cbData))
    {
        GlobalFree(pData2);
        return FALSE;
    }
    aPieces[0].pv = abPrefix;
    aPieces[0].cb = 1; // uint32 tag
    aPieces[1].pv = abPrefix + 1;
    aPieces[1].cb = 8; // N, StreamDataLength, ReadStream, embedded data tag
    aPieces[2].pv = abPrefix + 9;
    aPieces[2].cb = 4; // N: the embedded length
    aPieces[3].pv = abPrefix + 13;
    aPieces[3].cb = 2; // binding and blank
    aPieces[4].pv = abPrefix + 15;
    aPieces[4].cb = CB_OVERLAY_STREAM_HEADER;
    aPieces[5].pv = abPrefix + 15 + CB_OVERLAY_STREAM_HEADER;
    aPieces[5].cb = 1; // line feed
    aPieces[6].pv = pData2;
    aPieces[6].cb = cbData;
    bResult = SpoolWrite(pData, aPieces, 7);
    GlobalFree(pData2);
    return bResult;
}

static BOOL SpoolWatermark(PSPLDATA pData)
{
    SPOOL_PIECE aPieces[5];
    LPBYTE pWatermark;
    DWORD cbWatermark = 0;
    BOOL bResult;

    pWatermark = LoadWatermarkData(pData, &cbWatermark);
    if (pWatermark == NULL)
    {
        return FALSE;
    }
    aPieces[0].pv = abXlPushGS;
    aPieces[0].cb = sizeof(abXlPushGS);
    aPieces[1].pv = abXlSetClipToPage;
    aPieces[1].cb = sizeof(abXlSetClipToPage);
    aPieces[2].pv = abXlSetRop252;
    aPieces[2].cb = sizeof(abXlSetRop252);
    aPieces[3].pv = pWatermark;
    aPieces[3].cb = cbWatermark;
    aPieces[4].pv = abXlPopGS;
    aPieces[4].cb = sizeof(abXlPopGS);
    bResult = SpoolWrite(pData, aPieces, 5);
    GlobalFree(pWatermark);
    return bResult;
}

BOOL WriteToFile(PSPLDATA pData, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten)
{
    LPBYTE pb = (LPBYTE)pBuf;
    SPOOL_PIECE Piece;

    if (pData->dwFlags & JF_SPOOL_FAILED)
    {
        *pcWritten = 0;
        return FALSE;
    }

    if (cbBuf >= 3 && pb[0] == MARK_PREFIX_0 && pb[1] == MARK_PREFIX_1 && pb[2] == MARK_PREFIX_2)
    {
        if (!TakeMarker(pData, pb, cbBuf))
        {
            *pcWritten = 0;
            return FALSE;
        }
        *pcWritten = cbBuf;
        return TRUE;
    }

    if (pData->hTempFile == INVALID_HANDLE_VALUE || pData->hTempFile == NULL)
    {
        return FALSE;
    }

    if (cbBuf == CCH_OVERLAY_MARKER && memcmp(pb, szOverlayMarker, CCH_OVERLAY_MARKER) == 0)
    {
        if (pData->DevMode.sOverlayMode == 1 && !SpoolOverlay(pData))
        {
            return FALSE;
        }
        *pcWritten = CCH_OVERLAY_MARKER;
        return TRUE;
    }

    if (cbBuf == CCH_WATERMARK_MARKER && memcmp(pb, szWatermarkMarker, CCH_WATERMARK_MARKER) == 0)
    {
        if (IsWatermarkDue(pData) && !SpoolWatermark(pData))
        {
            return FALSE;
        }
        *pcWritten = CCH_WATERMARK_MARKER;
        return TRUE;
    }

    Piece.pv = pb;
    Piece.cb = cbBuf;
    if (!SpoolWrite(pData, &Piece, 1))
    {
        *pcWritten = 0;
        return FALSE;
    }
    *pcWritten = cbBuf;
    return TRUE;
}

// A spool file that cannot be read back leaves a gap in the document:
// nothing more is sent after it, so that no page goes out without what came
// before it, and the output routine reports the failure.
void LoseReadBack(PSPLDATA pData)
{
    if (!(pData->dwFlags & JF_READBACK_FAILED))
    {
        pData->dwFlags |= JF_READBACK_FAILED;
        OutputDebugStringW(W("QVXLUMPD: spool file read back failed, the document is incomplete\n"));
    }
}

// Copies cbCount bytes from the spool file's current position to the
// printer. Only bytes actually read are sent; a read that fails or comes
// short (the bytes lie within what was spooled) ends the copy and the
// document's output.
void SendPageData(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer, DWORD cbCount)
{
    while (cbCount > 0 && !(pData->dwFlags & JF_READBACK_FAILED))
    {
        DWORD cbChunk = cbCount > PRINT_BUF_SIZE ? PRINT_BUF_SIZE : cbCount;
        DWORD cbRead = 0;

        if (!ReadFile(pData->hTempFile, pBuffer, cbChunk, &cbRead, NULL) || cbRead == 0)
        {
            LoseReadBack(pData);
            return;
        }
        WritePrinterAll(hPrinter, pBuffer, cbRead);
        if (cbRead < cbChunk)
        {
            LoseReadBack(pData);
            return;
        }
        cbCount -= cbChunk;
    }
}
