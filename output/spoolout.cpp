// What every output routine does with the spool file: send a byte range, a
// page, the header with or without its lead-ins and copy command, the trailer.
#include "output.h"

void SendSpoolRange(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer, DWORD dwFrom, DWORD dwTo)
{
    if (dwTo <= dwFrom)
    {
        return;
    }
    if (pData->dwFlags & JF_READBACK_FAILED)
    {
        return;
    }
    if (!SeekSpoolFile(pData, dwFrom))
    {
        LoseReadBack(pData);
        return;
    }
    SendPageData(pData, hPrinter, pBuffer, dwTo - dwFrom);
}

// A job without a page start has no page to order or repeat: what it spooled
// goes out once, as it came, and nothing else happens.
void SendWholeSpool(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer)
{
    SendSpoolRange(pData, hPrinter, pBuffer, 0, pData->file_info.dwCount);
}

void SendPage(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer, INT k)
{
    if (k < 1 || k > pData->file_info.iTotalPage)
    {
        return;
    }
    SendSpoolRange(pData, hPrinter, pBuffer, pData->file_info.dwPage[k - 1], pData->file_info.dwPage[k]);
}

void SendTrailer(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer)
{
    SendSpoolRange(pData, hPrinter, pBuffer, pData->file_info.dwPage[pData->file_info.iTotalPage],
                   pData->file_info.dwCount);
}

DWORD ShortHeaderEnd(PSPLDATA pData)
{
    DWORD dwFirstPage = pData->file_info.dwPage[0];

    return dwFirstPage >= 8 ? dwFirstPage - 8 : dwFirstPage;
}

BOOL ReadLeadIns(PSPLDATA pData, LPBYTE pBuffer)
{
    DWORD dwFirstPage = pData->file_info.dwPage[0];
    DWORD cbRead = 0;

    if (dwFirstPage < 8)
    {
        return FALSE;
    }
    if (!SeekSpoolFile(pData, dwFirstPage - 8) || !ReadFile(pData->hTempFile, pBuffer, 8, &cbRead, NULL) || cbRead != 8)
    {
        LoseReadBack(pData);
        return FALSE;
    }
    CopyMemory(&pData->dwLeadIn1, pBuffer, 4);
    CopyMemory(&pData->dwLeadIn2, pBuffer + 4, 4);
    return TRUE;
}

// After a gap in what was read back, not even a lead-in follows.
void WriteLeadIn(PSPLDATA pData, HANDLE hPrinter, BOOL bLeadIns, const DWORD *pdwLeadIn)
{
    if (bLeadIns && !(pData->dwFlags & JF_READBACK_FAILED))
    {
        WritePrinterAll(hPrinter, pdwLeadIn, 4);
    }
}

// The copy command goes where the rendering driver marked it, or at the end
// of the header when that mark lies beyond it.
void SendJobHeader(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer, DWORD cbHeader, BOOL bCopyCommand)
{
    DWORD dwCopyPos;

    if (!bCopyCommand)
    {
        SendSpoolRange(pData, hPrinter, pBuffer, 0, cbHeader);
        return;
    }
    dwCopyPos = pData->dwCopyPos < cbHeader ? pData->dwCopyPos : cbHeader;
    SendSpoolRange(pData, hPrinter, pBuffer, 0, dwCopyPos);
    if (pData->DevMode.dmPublic.dmCopies > 1)
    {
        WritePrinterAll(hPrinter, pData->abCopyCmd + 1, pData->abCopyCmd[0]);
    }
    SendSpoolRange(pData, hPrinter, pBuffer, dwCopyPos, cbHeader);
}

// Only the value 1 of sCopyCommand puts a copy command in the end marker, so
// any other value leaves the copies to the hook. So does a job whose end
// marker brought no command it could use: the printer would make one copy
// where several were asked for.
SHORT HookCopies(PSPLDATA pData, BOOL *pbCopyCommand)
{
    const DRVDEVMODE *pdm = &pData->DevMode;
    BOOL bWanted = pdm->sCollate == 1 && pdm->sCopyCommand == 1;

    *pbCopyCommand = bWanted && !(pData->dwFlags & JF_COPY_CMD_REFUSED) && pData->abCopyCmd[0] > 0;
    if (bWanted && !*pbCopyCommand && !(pData->dwFlags & JF_COPY_CMD_REFUSED))
    {
        OutputDebugStringW(W("QVXLUMPD: no copy command received, the hook makes the copies\n"));
    }
    if (*pbCopyCommand || pdm->sCollate != 1)
    {
        return 1;
    }
    return pdm->dmPublic.dmCopies;
}
