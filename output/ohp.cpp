// Transparency interleave: a separator sheet (lead-in 1) beside every
// transparency (lead-in 2), carrying the same page or the job's last page.
#include "output.h"

void DoOhpPrinting(PSPLDATA pData, HANDLE hPrinter, DWORD dwFlags)
{
    INT N = pData->file_info.iTotalPage;
    BOOL bSamePage = pData->DevMode.sOhpInterleave == 1;
    INT T = bSamePage ? N : N - 1; // transparencies
    INT iStep = (dwFlags & JF_REVERSE) ? -1 : 1;
    BOOL bTransparencyFirst = pData->DevMode.sOhpOption != 0;
    LPBYTE pBuffer;
    BOOL bCopyCommand;
    BOOL bLeadIns;
    SHORT sCopies;
    SHORT sCopy;
    INT iSeparator, iTransparency, iSheet, p;

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

    sCopies = HookCopies(pData, &bCopyCommand);
    SendJobHeader(pData, hPrinter, pBuffer, ShortHeaderEnd(pData), bCopyCommand);
    bLeadIns = ReadLeadIns(pData, pBuffer);

    for (sCopy = 0; sCopy < sCopies; sCopy++)
    {
        iSeparator = iTransparency = (iStep < 0) ? T : 1;
        // Each copy has an even number of sheets, so each starts alike.
        for (iSheet = 0; iSheet < 2 * T; iSheet++)
        {
            BOOL bTransparency = (iSheet % 2 == 0) == bTransparencyFirst;

            if (bTransparency)
            {
                p = iTransparency;
                iTransparency += iStep;
                WriteLeadIn(pData, hPrinter, bLeadIns, &pData->dwLeadIn2);
            }
            else
            {
                if (bSamePage)
                {
                    p = iSeparator;
                    iSeparator += iStep;
                }
                else
                {
                    p = N;
                }
                WriteLeadIn(pData, hPrinter, bLeadIns, &pData->dwLeadIn1);
            }
            SendPage(pData, hPrinter, pBuffer, p);
        }
    }
    SendTrailer(pData, hPrinter, pBuffer);

Cleanup:
    GlobalFree(pBuffer);
}
