// Booklets: two pages side by side on each side of a sheet, imposed for
// folding, from the fragments of the booklet layout record.
#include "output.h"

#define CCH_BOOKLET_TRACE 128

static const LPCWSTR apszItemLabels[] = {
    W("BeginPage"),        W("EndPage"),         W("SetPageOrigin[0]"), W("SetPageOrigin[1]"), W("SetPageOrigin[2]"),
    W("SetPageOrigin[3]"), W("SetPageRotation"), W("SetPageRotation"),  W("SetPageScale"),     W("SetClipMode"),
    W("BorderData"),       W("BorderData"),      W("ExecStream"),       W("ExecStream"),
};

static void TraceItem(INT iItem, BYTE bIndex, BYTE bSize)
{
    WCHAR szLine[CCH_BOOKLET_TRACE];

    wsprintfW(szLine, W("%s : index = %d, size = %d \r\n"), apszItemLabels[iItem], bIndex, bSize);
    OutputDebugStringW(szLine);
}

// One item of the record at *pib: index, size, data; FALSE when the record
// ends before the item does.
static BOOL NextItem(LPBYTE pBuf, DWORD cbBuf, DWORD *pib, INT iItem, LPBYTE *ppData, DWORD *pcbData)
{
    DWORD ib = *pib;

    if (cbBuf < 2 || ib > cbBuf - 2 || pBuf[ib + 1] > cbBuf - 2 - ib)
    {
        return FALSE;
    }
    TraceItem(iItem, pBuf[ib], pBuf[ib + 1]);
    *ppData = pBuf + ib + 2;
    *pcbData = pBuf[ib + 1];
    *pib = ib + 2 + *pcbData;
    return TRUE;
}

static BOOL StoreFragment(PBOOKLET_FRAGMENT pSlot, LPBYTE pData, DWORD cbData)
{
    if (cbData > CB_BOOKLET_FRAGMENT)
    {
        return FALSE;
    }
    pSlot->cb = (BYTE)cbData;
    CopyMemory(pSlot->ab, pData, cbData);
    return TRUE;
}

// Takes the booklet layout record. The record is checked whole before any of
// it is kept: an item that runs past the record's end, a fragment longer than
// its slot (a cut fragment is a corrupt command), or a software-booklet page
// start without room for the two lead-ins refuses it, and the job's write of
// it fails. Item positions are counted in 32 bits, so a long record is read
// where its items really are.
BOOL InitBooklet(PSPLDATA pData, LPBYTE pBuf, DWORD cbBuf)
{
    BOOKLET_INFO Info;
    DWORD dwLeadIn1 = pData->dwLeadIn1;
    DWORD dwLeadIn2 = pData->dwLeadIn2;
    DWORD ib = 4;
    LPBYTE pItem;
    DWORD cbItem;
    INT cItems = pData->DevMode.sOverlayMode == 1 ? 14 : 12;
    INT i;
    PBOOKLET_FRAGMENT apSlots[14];

    CopyMemory(&Info, &pData->booklet_info, sizeof(Info));
    apSlots[0] = &Info.BeginPage;
    apSlots[1] = &Info.EndPage;
    apSlots[2] = &Info.SetPageOrigin[0];
    apSlots[3] = &Info.SetPageOrigin[1];
    apSlots[4] = &Info.SetPageOrigin[2];
    apSlots[5] = &Info.SetPageOrigin[3];
    apSlots[6] = &Info.SetPageRotation[0];
    apSlots[7] = &Info.SetPageRotation[1];
    apSlots[8] = &Info.SetPageScale;
    apSlots[9] = &Info.SetClipMode;
    apSlots[10] = &Info.BorderData;
    apSlots[11] = NULL; // the booklet orientation, two bytes only
    apSlots[12] = &Info.ExecStream[0];
    apSlots[13] = &Info.ExecStream[1];

    OutputDebugStringW(W(".... Booklet Enabled ...\r\n"));

    for (i = 0; i < cItems; i++)
    {
        if (i == 11)
        {
            if (cbBuf < 2 || ib > cbBuf - 2)
            {
                goto Refuse;
            }
            TraceItem(i, pBuf[ib], pBuf[ib + 1]);
            Info.bBookletOrientation = pBuf[ib + 1];
            ib += 2;
            continue;
        }
        if (!NextItem(pBuf, cbBuf, &ib, i, &pItem, &cbItem))
        {
            goto Refuse;
        }
        if (i == 0)
        {
            if (pData->DevMode.sHardwareBooklet == 2)
            {
                if (!StoreFragment(&Info.BeginPage, pItem, cbItem))
                {
                    goto Refuse;
                }
            }
            else if (pData->DevMode.sManualDuplex == 2)
            {
                if (cbItem < 8 || !StoreFragment(&Info.BeginPage, pItem + 8, cbItem - 8))
                {
                    goto Refuse;
                }
                CopyMemory(&dwLeadIn1, pItem, 4);
                CopyMemory(&dwLeadIn2, pItem + 4, 4);
            }
            continue;
        }
        if (!StoreFragment(apSlots[i], pItem, cbItem))
        {
            goto Refuse;
        }
    }

    // Orientations recorded before this record came belong to no list of
    // this job: the list starts again, and those pages read as unknown.
    if (!(pData->dwFlags & JF_BOOKLET) && pData->file_info.iTotalPage > 0)
    {
        FreeOrientationList(pData);
    }
    Info.pOrientation = pData->booklet_info.pOrientation;
    Info.nOrientationSize = pData->booklet_info.nOrientationSize;
    CopyMemory(&pData->booklet_info, &Info, sizeof(Info));
    pData->dwLeadIn1 = dwLeadIn1;
    pData->dwLeadIn2 = dwLeadIn2;
    pData->dwFlags |= JF_BOOKLET;
    return TRUE;

Refuse:
    OutputDebugStringW(W("QVXLUMPD: booklet record refused\n"));
    return FALSE;
}

static void WriteFragment(HANDLE hPrinter, const BOOKLET_FRAGMENT *pFragment)
{
    WritePrinterAll(hPrinter, pFragment->ab, pFragment->cb);
}

static void WriteSetPageDefaultCTM(HANDLE hPrinter)
{
    static const BYTE abSetPageDefaultCTM[] = {0x74};
    WritePrinterAll(hPrinter, abSetPageDefaultCTM, sizeof(abSetPageDefaultCTM));
}

// Orientation of page p, 0 when the list does not cover it.
static BYTE PageOrientation(const BOOKLET_INFO *pInfo, INT p)
{
    if (pInfo->pOrientation == NULL || p < 1 || p > pInfo->nOrientationSize)
    {
        return 0;
    }
    return pInfo->pOrientation[p - 1];
}

// One half of a sheet side: origin and rotation for the page's orientation,
// scale, clip mode, the page. iHalf 0 is the first half, 1 the second.
static void SendHalf(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer, INT p, INT iHalf)
{
    const BOOKLET_INFO *pInfo = &pData->booklet_info;
    BYTE bOrientation = PageOrientation(pInfo, p);

    if (bOrientation == DMORIENT_PORTRAIT)
    {
        WriteFragment(hPrinter, &pInfo->SetPageOrigin[iHalf]);
        if (pInfo->bBookletOrientation == DMORIENT_LANDSCAPE)
        {
            WriteFragment(hPrinter, &pInfo->SetPageRotation[1]);
        }
    }
    else if (bOrientation == DMORIENT_LANDSCAPE)
    {
        WriteFragment(hPrinter, &pInfo->SetPageOrigin[2 + iHalf]);
        if (pInfo->bBookletOrientation == DMORIENT_PORTRAIT)
        {
            WriteFragment(hPrinter, &pInfo->SetPageRotation[0]);
        }
    }
    WriteFragment(hPrinter, &pInfo->SetPageScale);
    WriteFragment(hPrinter, &pInfo->SetClipMode);
    SendPage(pData, hPrinter, pBuffer, p);
}

// Sheet side k of a booklet of M pages (pages above N are blank halves).
// Reading direction 1 swaps the halves; any other value reads as 0.
void SendBookletPageData(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer, INT k, INT M)
{
    const BOOKLET_INFO *pInfo = &pData->booklet_info;
    INT N = pData->file_info.iTotalPage;
    BOOL bSwap = (pData->DevMode.sBookletOption == 1) == ((k % 2) == 0);
    INT iFirst = bSwap ? M + 1 - k : k;
    INT iSecond = bSwap ? k : M + 1 - k;

    WriteFragment(hPrinter, &pInfo->BeginPage);
    if (pData->DevMode.sOverlayMode == 1 && (iFirst <= N || iSecond <= N))
    {
        WriteFragment(hPrinter, &pInfo->ExecStream[1]);
        WriteFragment(hPrinter, &pInfo->SetPageScale);
        WriteFragment(hPrinter, &pInfo->SetClipMode);
        WriteFragment(hPrinter, &pInfo->ExecStream[0]);
        WriteSetPageDefaultCTM(hPrinter);
    }
    if (iFirst <= N)
    {
        SendHalf(pData, hPrinter, pBuffer, iFirst, 0);
        WriteSetPageDefaultCTM(hPrinter);
    }
    if (iSecond <= N)
    {
        SendHalf(pData, hPrinter, pBuffer, iSecond, 1);
    }
    WriteFragment(hPrinter, &pInfo->EndPage);
}

// Software booklet: the inner sides, a prompt to put the stack back, the
// outer sides. The instruction page comes first, whatever the page count. A
// one-page booklet has one side and no second pass.
void DoBooklet(PSPLDATA pData, HANDLE hPrinter, DWORD JobId)
{
    INT N = pData->file_info.iTotalPage;
    INT S = (N + 3) / 4;
    INT M = 4 * S;
    INT k;
    LPBYTE pBuffer;

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

    SendSpoolRange(pData, hPrinter, pBuffer, 0, pData->file_info.dwPage[0]);
    if (pData->DevMode.sInstructionPage > 0)
    {
        PrintInstructionPage(pData, hPrinter);
    }
    WriteLeadIn(pData, hPrinter, TRUE, &pData->dwLeadIn1);
    if (N > 1)
    {
        for (k = 2 * S; k >= 2; k -= 2)
        {
            SendBookletPageData(pData, hPrinter, pBuffer, k, M);
        }
        SendTrailer(pData, hPrinter, pBuffer);

        NotifySpooler(pData, hPrinter, 1, JobId);
        ShowManualDuplexMsg();
        NotifySpooler(pData, hPrinter, 0, JobId);

        SendSpoolRange(pData, hPrinter, pBuffer, 0, pData->file_info.dwPage[0]);
        WriteLeadIn(pData, hPrinter, TRUE, &pData->dwLeadIn2);
        if (pData->DevMode.sManualDuplexOrder == 1)
        {
            for (k = 2 * S - 1; k >= 1; k -= 2)
            {
                SendBookletPageData(pData, hPrinter, pBuffer, k, M);
            }
        }
        else
        {
            for (k = 1; k <= 2 * S - 1; k += 2)
            {
                SendBookletPageData(pData, hPrinter, pBuffer, k, M);
            }
        }
    }
    else
    {
        SendBookletPageData(pData, hPrinter, pBuffer, 1, M);
    }
    SendTrailer(pData, hPrinter, pBuffer);

Cleanup:
    GlobalFree(pBuffer);
    FreeOrientationList(pData);
}

// Printer-side booklet: every side in order, once per copy the hook makes.
void Hardware_DoBooklet(PSPLDATA pData, HANDLE hPrinter)
{
    INT N = pData->file_info.iTotalPage;
    INT S = (N + 3) / 4;
    INT M = 4 * S;
    INT k;
    LPBYTE pBuffer;
    BOOL bCopyCommand;
    SHORT sCopies;
    SHORT sCopy;
    DWORD cbWritten;

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
    SendJobHeader(pData, hPrinter, pBuffer, pData->file_info.dwPage[0], bCopyCommand);
    for (sCopy = 0; sCopy < sCopies; sCopy++)
    {
        for (k = 1; k <= 2 * S - 1; k++)
        {
            SendBookletPageData(pData, hPrinter, pBuffer, k, M);
        }
        if (N > 1)
        {
            SendBookletPageData(pData, hPrinter, pBuffer, 2 * S, M);
            // A write of nothing after the last side of each copy.
            WritePrinter(hPrinter, pBuffer, 0, &cbWritten);
        }
    }
    SendTrailer(pData, hPrinter, pBuffer);

Cleanup:
    GlobalFree(pBuffer);
    FreeOrientationList(pData);
}
