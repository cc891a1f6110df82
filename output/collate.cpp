// Collated copies, reverse order, odd or even pages only.
#include "output.h"

BOOL DoReverseCollatePrn(PSPLDATA pData, HANDLE hPrinter, DWORD dwFlags)
{
    INT N = pData->file_info.iTotalPage;
    LPBYTE pBuffer;
    BOOL bCopyCommand;
    BOOL bLeadIns;
    BOOL bSeveral;
    SHORT sCopies;
    SHORT sCopy;
    INT iFirst, iStep, iStop, p;

    (void)dwFlags; // the settings say whether the hook collates
    pBuffer = (LPBYTE)GlobalAlloc(GMEM_FIXED, PRINT_BUF_SIZE);
    if (pBuffer == NULL)
    {
        return FALSE;
    }
    if (N <= 0)
    {
        SendWholeSpool(pData, hPrinter, pBuffer);
        goto Cleanup;
    }

    sCopies = HookCopies(pData, &bCopyCommand);
    SendJobHeader(pData, hPrinter, pBuffer, ShortHeaderEnd(pData), bCopyCommand);
    bLeadIns = ReadLeadIns(pData, pBuffer);

    switch (pData->DevMode.sReverseOrder)
    {
    case 2: // odd pages, first to last
        iFirst = 1;
        iStep = 2;
        iStop = (N % 2) ? N + 2 : N + 1;
        bSeveral = N >= 3;
        break;
    case 3: // even pages, first to last
        iFirst = N > 1 ? 2 : 1;
        iStep = 2;
        iStop = (N % 2) ? N + 1 : N + 2;
        bSeveral = N >= 4;
        break;
    default: // 1, and any value without a meaning of its own: all pages, last first
        iFirst = N;
        iStep = -1;
        iStop = 0;
        bSeveral = N > 1;
        break;
    }

    for (sCopy = 0; sCopy < sCopies; sCopy++)
    {
        if (!bSeveral)
        {
            WriteLeadIn(pData, hPrinter, bLeadIns, &pData->dwLeadIn1);
            SendPage(pData, hPrinter, pBuffer, iFirst);
            continue;
        }
        p = iFirst;
        if (pData->DevMode.sReverseLeadIn != 0)
        {
            WriteLeadIn(pData, hPrinter, bLeadIns, &pData->dwLeadIn1);
            SendPage(pData, hPrinter, pBuffer, p);
            p += iStep;
        }
        WriteLeadIn(pData, hPrinter, bLeadIns, &pData->dwLeadIn2);
        for (; p != iStop && p >= 1 && p <= N; p += iStep)
        {
            SendPage(pData, hPrinter, pBuffer, p);
        }
    }
    SendTrailer(pData, hPrinter, pBuffer);

Cleanup:
    GlobalFree(pBuffer);
    return (pData->dwFlags & JF_READBACK_FAILED) ? FALSE : TRUE;
}

BOOL DoCollatePrinting(PSPLDATA pData, HANDLE hPrinter)
{
    INT N = pData->file_info.iTotalPage;
    LPBYTE pBuffer;
    BOOL bCopyCommand;
    SHORT sCopies;
    SHORT sCopy;
    INT k;

    pBuffer = (LPBYTE)GlobalAlloc(GMEM_FIXED, PRINT_BUF_SIZE);
    if (pBuffer == NULL)
    {
        return FALSE;
    }
    if (N <= 0)
    {
        SendWholeSpool(pData, hPrinter, pBuffer);
        goto Cleanup;
    }

    // The lead-ins stay in the header: every copy's pages follow it as sent.
    sCopies = HookCopies(pData, &bCopyCommand);
    SendJobHeader(pData, hPrinter, pBuffer, pData->file_info.dwPage[0], bCopyCommand);
    for (sCopy = 0; sCopy < sCopies; sCopy++)
    {
        for (k = 1; k <= N; k++)
        {
            SendPage(pData, hPrinter, pBuffer, k);
        }
    }
    SendTrailer(pData, hPrinter, pBuffer);

Cleanup:
    GlobalFree(pBuffer);
    return (pData->dwFlags & JF_READBACK_FAILED) ? FALSE : TRUE;
}
