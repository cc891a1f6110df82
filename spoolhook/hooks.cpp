// The spooler hooks of kd7720um (all but DrvSplWritePrinter), the library's
// entry point, and the two spooler utilities.
#include "kd7720um.h"

#include "decorations.h"
#include "hookcore.h"
#include "output.h"

HINSTANCE hInst = NULL;

// Runs before a test harness can redirect the library's imports, so it calls
// nothing but kernel32.
BOOL WINAPI DllEntryPoint(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    (void)lpReserved;
    OutputDebugStringW(W("QVXLUMPD: DllEntryPoint \n"));
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        hInst = hInstance;
        InitJobCoordination();
        DisableThreadLibraryCalls(hInstance);
    }
    return TRUE;
}

// The C runtime's start-up code calls DllMain once it has initialised itself.
extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    return DllEntryPoint(hInstance, dwReason, lpReserved);
}

HANDLE WINAPI DrvSplStartDoc(HANDLE hPrinter, DWORD JobId)
{
    PSPLDATA pData;
    HMODULE hModule = NULL;
    WCHAR szLibrary[MAX_PATH];

    OutputDebugStringW(W("QVXLUMPD: DrvSplStartDoc \n"));

    pData = (PSPLDATA)GlobalAlloc(GMEM_FIXED, sizeof(SPLDATA));
    if (pData == NULL)
    {
        return NULL;
    }
    ZeroMemory(pData, sizeof(SPLDATA));
    pData->dwSignature = SPLDATA_SIGNATURE;
    pData->hPrinter = hPrinter;
    pData->JobId = JobId;
    pData->dwState = JS_STARTED;
    pData->hOvlyFile = INVALID_HANDLE_VALUE;
    pData->hTextfile = INVALID_HANDLE_VALUE;
    pData->hsavedTextfile = INVALID_HANDLE_VALUE;

    if (BuildDriverPath(szLibrary, MAX_PATH, OVERLAY_LIBRARY_SUFFIX))
    {
        hModule = LoadLibraryW(szLibrary);
    }
    if (hModule == NULL)
    {
        GlobalFree(pData);
        return NULL;
    }
    pData->hOverlay = hModule;
    pData->dwByteCountOfOverlay = 0;
    return pData;
}

BOOL WINAPI DrvSplStartPage(HANDLE hDriver)
{
    PSPLDATA pData = (PSPLDATA)hDriver;

    OutputDebugStringW(W("QVXLUMPD: DrvSplStartPage \n"));
    if (pData == NULL)
    {
        return FALSE;
    }
    pData->dwPageCount++;
    return TRUE;
}

// Forgets the job's deferred-text capture, finished or not: closes its file,
// deletes it, and gives up the job's claim on the name.
void DiscardTextCapture(PSPLDATA pData)
{
    if (pData->hTextfile != INVALID_HANDLE_VALUE)
    {
        CloseHandle(pData->hTextfile);
        pData->hTextfile = INVALID_HANDLE_VALUE;
    }
    if (pData->hsavedTextfile != INVALID_HANDLE_VALUE)
    {
        CloseHandle(pData->hsavedTextfile);
        pData->hsavedTextfile = INVALID_HANDLE_VALUE;
    }
    if (pData->szTextFile[0] != 0)
    {
        DeleteFileW(pData->szTextFile);
        pData->szTextFile[0] = 0;
    }
    ReleaseSharedFile(pData, SHARED_TEXTOUT);
}

// Replays the page's deferred text, captured in the job's textout file, to
// the printer.
BOOL WINAPI DrvSplEndPage(HANDLE hDriver)
{
    PSPLDATA pData = (PSPLDATA)hDriver;
    LPBYTE pBuffer = NULL;
    BOOL bResult = FALSE;

    OutputDebugStringW(W("QVXLUMPD: DrvSplEndPage \n"));
    if (pData == NULL)
    {
        return FALSE;
    }
    if (pData->DevMode.sOverlayMode == 2 && pData->dwPageCount == 1)
    {
        pData->dwFlags |= JF_OVERLAY_PAGE_DONE;
    }
    // Text that was taken and then lost cannot be replayed: the page is not
    // what the application drew.
    if (pData->dwFlags & JF_CAPTURE_FAILED)
    {
        return FALSE;
    }
    if (pData->DevMode.sDeferText == 0 || pData->DevMode.sTextMode == 2 ||
        pData->hsavedTextfile == INVALID_HANDLE_VALUE)
    {
        return TRUE;
    }

    pBuffer = (LPBYTE)GlobalAlloc(GMEM_FIXED, PRINT_BUF_SIZE);
    if (pBuffer == NULL)
    {
        return FALSE;
    }

    SetLastError(NO_ERROR);
    if (SetFilePointer(pData->hsavedTextfile, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
    {
        CloseHandle(pData->hsavedTextfile);
        pData->hsavedTextfile = INVALID_HANDLE_VALUE;
        ShowMessage(W("Failed to SetFilePointer"), MB_OK);
        goto Cleanup;
    }

    while (pData->dwTextfileCount > 0)
    {
        BOOL bFullChunk = pData->dwTextfileCount > PRINT_BUF_SIZE;
        DWORD cbChunk = bFullChunk ? PRINT_BUF_SIZE : pData->dwTextfileCount;
        DWORD cbRead = 0;

        // A read that comes back short would send stale buffer bytes.
        if (!ReadFile(pData->hsavedTextfile, pBuffer, cbChunk, &cbRead, NULL) || cbRead != cbChunk)
        {
            CloseHandle(pData->hsavedTextfile);
            pData->hsavedTextfile = INVALID_HANDLE_VALUE;
            ShowMessage(bFullChunk ? W("Failed to read file : PRINT_BUF_SIZE")
                                   : W("Failed to read file: dwTextfileCount"),
                        MB_ICONERROR);
            goto Cleanup;
        }
        if (!WritePrinterAll(pData->hPrinter, pBuffer, cbChunk))
        {
            CloseHandle(pData->hsavedTextfile);
            pData->hsavedTextfile = INVALID_HANDLE_VALUE;
            ShowMessage(bFullChunk ? W("Failed to write date to the printer : PRINT_BUF_SIZE")
                                   : W("Failed to write date to the printer: cbSize"),
                        MB_ICONERROR);
            goto Cleanup;
        }
        pData->dwTextfileCount -= cbChunk;
    }

    DiscardTextCapture(pData);
    bResult = TRUE;

Cleanup:
    GlobalFree(pBuffer);
    return bResult;
}

// Before the routines read it: a page whose end marker never came runs to
// the end of the spooled data, so no page has a negative length and the last
// page is never taken for the trailer.
static void SealPageIndex(PSPLDATA pData)
{
    PFILE_INFO pInfo = &pData->file_info;
    INT n = pInfo->iTotalPage;

    if (n > 0 && !(pData->dwFlags & JF_END_MARKED))
    {
        pInfo->dwPage[n] = pInfo->dwCount;
    }
}

void WINAPI DrvSplEndDoc(HANDLE hDriver)
{
    PSPLDATA pData = (PSPLDATA)hDriver;
    DWORD dwFlags;
    INT i;

    OutputDebugStringW(W("QVXLUMPD: DrvSplEndDoc \n"));
    if (pData == NULL)
    {
        return;
    }
    pData->dwState |= JS_ENDDOC;

    DbgTrace(W(" pData->file_info.iTotalPage = %d \n"), pData->file_info.iTotalPage);
    DbgTrace(W(" pData->file_info.dwCount = %d \n"), (INT)pData->file_info.dwCount);
    for (i = 0; i <= pData->file_info.iTotalPage && i < PAGE_INDEX_SIZE; i++)
    {
        DbgTrace(W(" pData->file_info.dwPage[%d] = %d \n"), i, (INT)pData->file_info.dwPage[i]);
    }

    if (pData->DevMode.sOverlayMode == 2)
    {
        FinishOverlayFile(pData, !(pData->dwState & JS_ABORTED));
        return;
    }

    dwFlags = pData->dwFlags;
    if (dwFlags & JF_SPOOLING)
    {
        // Buffers of this job were refused: what was kept cannot be printed
        // as the job asked, and printing part of it would pass for success.
        if ((dwFlags & JF_SPOOL_FAILED) || pData->hTempFile == NULL || pData->hTempFile == INVALID_HANDLE_VALUE)
        {
            OutputDebugStringW(W("QVXLUMPD: spooled data incomplete, nothing sent\n"));
            return;
        }
        SealPageIndex(pData);
    }

    if (dwFlags & JF_BOOKLET)
    {
        if (pData->DevMode.sHardwareBooklet == 2)
        {
            Hardware_DoBooklet(pData, pData->hPrinter);
        }
        else if (pData->DevMode.sManualDuplex == 2)
        {
            DoBooklet(pData, pData->hPrinter, pData->JobId);
        }
    }
    else if (dwFlags & JF_MANUAL_DUPLEX)
    {
        DoManualDuplex(pData, pData->hPrinter, pData->JobId);
    }
    else if (dwFlags & JF_TRANSPARENCY)
    {
        DoOhpPrinting(pData, pData->hPrinter, dwFlags);
    }
    else if (dwFlags & JF_REVERSE)
    {
        if (!DoReverseCollatePrn(pData, pData->hPrinter, dwFlags))
        {
            ShowMessage(W("Failed to print in reverse order"), MB_OK);
        }
    }
    else if (dwFlags & JF_COLLATE)
    {
        if (!DoCollatePrinting(pData, pData->hPrinter))
        {
            ShowMessage(W("Failed in collation printing"), MB_OK);
        }
    }
}

void WINAPI DrvSplAbort(HANDLE hDriver)
{
    PSPLDATA pData = (PSPLDATA)hDriver;

    OutputDebugStringW(W("QVXLUMPD: DrvSplAbort \n"));
    if (pData != NULL)
    {
        pData->dwState |= JS_ABORTED;
    }
}

void WINAPI DrvSplClose(HANDLE hDriver)
{
    PSPLDATA pData = (PSPLDATA)hDriver;

    OutputDebugStringW(W("QVXLUMPD: DrvSplClose \n"));
    if (pData == NULL)
    {
        return;
    }
    pData->dwSignature = SPLDATA_FREED;

    if (pData->hOverlay != NULL)
    {
        FreeLibrary(pData->hOverlay);
    }

    if (pData->hTempFile != NULL && pData->hTempFile != INVALID_HANDLE_VALUE)
    {
        CloseHandle(pData->hTempFile);
        pData->hTempFile = NULL;
        DeleteFileW(pData->szTempFile);
    }

    // A job that ends without its last end of page (aborted) leaves its
    // deferred text unreplayed, and a creation job that never reached
    // DrvSplEndDoc leaves its overlay unfinished: nothing will use either.
    if (pData->hTextfile != INVALID_HANDLE_VALUE || pData->hsavedTextfile != INVALID_HANDLE_VALUE ||
        pData->szTextFile[0] != 0)
    {
        DiscardTextCapture(pData);
    }
    FinishOverlayFile(pData, FALSE);
    ReleaseWatermarkFiles(pData);
    // The booklet routines free the page orientations they used; a booklet
    // job that did not get that far (aborted, or no way to print it) leaves
    // them to its close.
    FreeOrientationList(pData);

    GlobalFree(pData);
}

// The printer information record of the given level, in fixed memory that
// the caller frees; NULL on any failure.
LPBYTE MyGetPrinter(HANDLE hPrinter, DWORD Level)
{
    DWORD cbNeeded = 0;
    LPBYTE pInfo;

    if (GetPrinterW(hPrinter, Level, NULL, 0, &cbNeeded) || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
        cbNeeded == 0)
    {
        return NULL;
    }
    pInfo = (LPBYTE)GlobalAlloc(GMEM_FIXED, cbNeeded);
    if (pInfo == NULL)
    {
        return NULL;
    }
    if (!GetPrinterW(hPrinter, Level, pInfo, cbNeeded, &cbNeeded))
    {
        GlobalFree(pInfo);
        return NULL;
    }
    return pInfo;
}

// Remembers the document name of the job, "Untitled" when it has none. A
// name longer than the buffer keeps its first characters, never half of a
// surrogate pair.
static void RememberJobName(PSPLDATA pData, HANDLE hPrinter, DWORD JobId)
{
    LPWSTR pszName = pData->szMDJobName;
    DWORD cbNeeded = 0;
    LPJOB_INFO_1W pJob = NULL;
    INT cch;

    lstrcpyW(pszName, W("Untitled"));
    if (GetJobW(hPrinter, JobId, 1, NULL, 0, &cbNeeded) || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
        cbNeeded < sizeof(JOB_INFO_1W))
    {
        return;
    }
    pJob = (LPJOB_INFO_1W)GlobalAlloc(GMEM_FIXED, cbNeeded);
    if (pJob == NULL)
    {
        return;
    }
    if (GetJobW(hPrinter, JobId, 1, (LPBYTE)pJob, cbNeeded, &cbNeeded) && pJob->pDocument != NULL &&
        pJob->pDocument[0] != 0)
    {
        lstrcpynW(pszName, pJob->pDocument, MAX_PATH);
        cch = lstrlenW(pszName);
        if (cch == MAX_PATH - 1 && pszName[cch - 1] >= 0xD800 && pszName[cch - 1] <= 0xDBFF)
        {
            pszName[cch - 1] = 0;
        }
    }
    GlobalFree(pJob);
}

DWORD NotifySpooler(PSPLDATA pData, HANDLE hPrinter, short wMode, DWORD JobId)
{
    if (wMode == 1)
    {
        RememberJobName(pData, hPrinter, JobId);
        return (DWORD)EndDocPrinter(hPrinter);
    }
    if (wMode == 0)
    {
        WCHAR szDatatype[] = W("RAW");
        DOC_INFO_1W DocInfo;

        DocInfo.pDocName = pData->szMDJobName;
        DocInfo.pOutputFile = NULL;
        DocInfo.pDatatype = szDatatype;
        return StartDocPrinterW(hPrinter, 1, (LPBYTE)&DocInfo);
    }
    return 0;
}
