// Small services every part of the hook uses: debug traces, message boxes,
// driver-directory paths and complete printer writes.
#include "hookcore.h"

void DbgTrace(LPCWSTR pszFormat, ...)
{
    // wvsprintfW never writes more than 1024 characters.
    WCHAR szLine[1024];
    va_list args;

    va_start(args, pszFormat);
    wvsprintfW(szLine, pszFormat, args);
    va_end(args);
    OutputDebugStringW(szLine);
}

// Every message of the hook: no owner window, the system's default caption.
void ShowMessage(LPCWSTR pszText, UINT uType)
{
    MessageBoxW(NULL, pszText, NULL, uType);
}

// The Windows directory followed by pszSuffix. FALSE, with nothing usable in
// pszPath, when the two do not fit: a cut path could name another file.
BOOL BuildDriverPath(LPWSTR pszPath, UINT cchPath, LPCWSTR pszSuffix)
{
    UINT cchDir;

    if (pszPath == NULL || cchPath == 0)
    {
        return FALSE;
    }
    pszPath[0] = 0;
    cchDir = GetWindowsDirectoryW(pszPath, cchPath);
    if (cchDir == 0 || cchDir >= cchPath || cchDir + (UINT)lstrlenW(pszSuffix) >= cchPath)
    {
        pszPath[0] = 0;
        return FALSE;
    }
    lstrcatW(pszPath, pszSuffix);
    return TRUE;
}

// Writes all cb bytes, continuing after a short write. A write that fails or
// makes no progress ends it with FALSE.
BOOL WritePrinterAll(HANDLE hPrinter, LPCVOID pv, DWORD cb)
{
    const BYTE *pb = (const BYTE *)pv;

    while (cb > 0)
    {
        DWORD cbWritten = 0;

        if (!WritePrinter(hPrinter, (LPVOID)pb, cb, &cbWritten) || cbWritten == 0 || cbWritten > cb)
        {
            return FALSE;
        }
        pb += cbWritten;
        cb -= cbWritten;
    }
    return TRUE;
}
