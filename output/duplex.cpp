// Manual duplex: the even pages (the backs) in a first spooler document, a
// prompt to put the stack back, the odd pages (the fronts) in a second one.
#include "output.h"

void ShowManualDuplexMsg(void)
{
    WCHAR szIni[CCH_INI_VALUE];
    WCHAR szMessage[CCH_INI_VALUE];
    WCHAR szCaption[CCH_INI_VALUE];

    szIni[0] = 0;
    BuildDriverPath(szIni, CCH_INI_VALUE, INI_FILE_SUFFIX);
    GetPrivateProfileStringW(W("DUPLEX"), W("MD_Message"), W("Re-insert the sheets into Multi-purpose tray"), szMessage,
                             CCH_INI_VALUE, szIni);
    GetPrivateProfileStringW(W("DUPLEX"), W("MD_CAPTION"), W("Manual Duplex"), szCaption, CCH_INI_VALUE, szIni);
    MessageBoxW(NULL, szMessage, szCaption, MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL | MB_SETFOREGROUND);
}

// Sends the instruction page file of the job's orientation, unchanged. A
// page that cannot be named, opened or read is left out; the pass goes on.
void PrintInstructionPage(PSPLDATA pData, HANDLE hPrinter)
{
    WCHAR szIni[520];
    WCHAR szFile[CCH_INI_VALUE];
    WCHAR szName[CCH_INI_VALUE];
    LPBYTE pBuffer;
    HANDLE hFile = INVALID_HANDLE_VALUE;
    DWORD cbLeft;
    LPCWSTR pszKey;

    if (pData->DevMode.dmPublic.dmOrientation == DMORIENT_PORTRAIT)
    {
        pszKey = W("INSTRUCT_PORT");
    }
    else if (pData->DevMode.dmPublic.dmOrientation == DMORIENT_LANDSCAPE)
    {
        pszKey = W("INSTRUCT_LAND");
    }
    else
    {
        return;
    }

    pBuffer = (LPBYTE)GlobalAlloc(GMEM_FIXED, PRINT_BUF_SIZE);
    if (pBuffer == NULL)
    {
        return;
    }
    if (!BuildDriverPath(szIni, 520, INI_FILE_SUFFIX) || !BuildDriverPath(szFile, CCH_INI_VALUE, DRIVER_DIR_SUFFIX))
    {
        goto Cleanup;
    }
    // The value carries its own leading backslash and name. A path that
    // does not fit is not opened: cut, it would name another file.
    GetPrivateProfileStringW(W("DUPLEX"), pszKey, W(""), szName, CCH_INI_VALUE, szIni);
    if (szName[0] == 0 || lstrlenW(szFile) + lstrlenW(szName) >= CCH_INI_VALUE)
    {
        goto Cleanup;
    }
    lstrcatW(szFile, szName);

    hFile = CreateFileW(szFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        goto Cleanup;
    }
    SetFilePointer(hFile, 0, NULL, FILE_BEGIN);
    cbLeft = GetFileSize(hFile, NULL);
    if (cbLeft == INVALID_FILE_SIZE)
    {
        goto Cleanup;
    }
    while (cbLeft > 0)
    {
        DWORD cbChunk = cbLeft > PRINT_BUF_SIZE ? PRINT_BUF_SIZE : cbLeft;
        DWORD cbRead = 0;

        if (!ReadFile(hFile, pBuffer, cbChunk, &cbRead, NULL) || cbRead == 0)
        {
            break;
        }
        WritePrinterAll(hPrinter, pBuffer, cbRead);
        cbLeft -= cbRead;
    }

Cleanup:
    if (hFile != INVALID_HANDLE_VALUE)
    {
        CloseHandle(hFile);
    }
    GlobalFree(pBuffer);
}

// Pages first to last (iStep 2) or last to first (iStep -2) from iFrom,
// staying within 1 to iLast.
static void SendEveryOtherPage(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer, INT iFrom, INT iStep, INT iLast)
{
    INT p;

    for (p = iFrom; p >= 1 && p <= iLast; p += iStep)
    {
        SendPage(pData, hPrinter, pBuffer, p);
    }
}

// Sheet s carries page 2s-1 on its front and page 2s on its back. The first
// pass prints the backs, the highest first, so the stack comes out with
// sheet 1 printed last. The person puts it back on top of the fresh paper,
// and the tray feeds it last printed first (order 0: sheets 1, 2, ...) or
// first printed first (order 1: the highest sheet first); the second pass
// prints the fronts in the order the sheets come. With an odd page count the
// last sheet has a front only: nothing of it goes into the first pass, and
// its page N goes on the fresh sheet that the tray supplies after the stack,
// so it comes last in either order. A job of one page needs no second side
// and prints once, with no prompt.
void DoManualDuplex(PSPLDATA pData, HANDLE hPrinter, DWORD JobId)
{
    INT N = pData->file_info.iTotalPage;
    INT iLastEven = N - (N % 2);
    LPBYTE pBuffer;
    DWORD cbHeader;
    BOOL bLeadIns;

    pBuffer = (LPBYTE)GlobalAlloc(GMEM_FIXED, PRINT_BUF_SIZE);
    if (pBuffer == NULL)
    {
        return;
    }
    if (N <= 0)
    {
        SendWholeSpool(pData, hPrinter, pBuffer);
        goto Cleanup;
    }

    cbHeader = ShortHeaderEnd(pData);
    SendSpoolRange(pData, hPrinter, pBuffer, 0, cbHeader);
    bLeadIns = ReadLeadIns(pData, pBuffer);

    if (N == 1)
    {
        WriteLeadIn(pData, hPrinter, bLeadIns, &pData->dwLeadIn1);
        SendPage(pData, hPrinter, pBuffer, 1);
        SendTrailer(pData, hPrinter, pBuffer);
        goto Cleanup;
    }

    if (pData->DevMode.sInstructionPage > 0)
    {
        PrintInstructionPage(pData, hPrinter);
    }
    WriteLeadIn(pData, hPrinter, bLeadIns, &pData->dwLeadIn1);
    SendEveryOtherPage(pData, hPrinter, pBuffer, iLastEven, -2, N);
    SendTrailer(pData, hPrinter, pBuffer);

    NotifySpooler(pData, hPrinter, 1, JobId);
    ShowManualDuplexMsg();
    NotifySpooler(pData, hPrinter, 0, JobId);

    SendSpoolRange(pData, hPrinter, pBuffer, 0, cbHeader);
    WriteLeadIn(pData, hPrinter, bLeadIns, &pData->dwLeadIn2);
    if (pData->DevMode.sManualDuplexOrder == 1)
    {
        // The fronts of the re-inserted sheets, highest first, then an odd
        // N's last page on the fresh sheet.
        SendEveryOtherPage(pData, hPrinter, pBuffer, iLastEven - 1, -2, N);
        if (N % 2)
        {
            SendPage(pData, hPrinter, pBuffer, N);
        }
    }
    else
    {
        SendEveryOtherPage(pData, hPrinter, pBuffer, 1, 2, N);
    }
    SendTrailer(pData, hPrinter, pBuffer);

Cleanup:
    GlobalFree(pBuffer);
}
