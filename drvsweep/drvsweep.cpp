// drvsweep: removes the files of an older driver installation from the
// printer-driver directory, and on the NT family from the driver version
// directory as well, where a file in use is renamed and deleted at restart.
#include <windows.h>
#include <winspool.h>

#include <cstdarg>
#include <cstring>

#include "drvsweep.h"

// Operating-system codes of GetOSVersionCode.
#define OS_UNKNOWN 0
#define OS_WIN32S 1
#define OS_WIN95 2
#define OS_WIN98 3
#define OS_WINME 4
#define OS_WINNT4 5
#define OS_WIN2000 6
#define OS_WINXP 7

#define IS_NT_GROUP(nCode) ((nCode) >= OS_WINNT4 && (nCode) <= OS_WINXP)

// Candidates 000 to 099 are searched; 100 is the last resort, taken unseen.
#define MAX_TEMP_CANDIDATE 100

// wvsprintfA writes at most 1024 characters, terminator included.
#define CCH_WSPRINTF 1024

static int GetOSVersionCode(void)
{
    OSVERSIONINFOEXA osvi;

    ZeroMemory(&osvi, sizeof(osvi));
    osvi.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    if (!GetVersionExA((LPOSVERSIONINFOA)&osvi))
    {
        // Windows 95 and NT 4.0 before SP4 know only the basic record.
        osvi.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA((LPOSVERSIONINFOA)&osvi))
        {
            return OS_UNKNOWN;
        }
    }

    switch (osvi.dwPlatformId)
    {
    case VER_PLATFORM_WIN32s:
        return OS_WIN32S;
    case VER_PLATFORM_WIN32_WINDOWS:
        switch (osvi.dwMinorVersion)
        {
        case 0:
            return OS_WIN95;
        case 10:
            return OS_WIN98;
        case 90:
            return OS_WINME;
        default:
            return OS_UNKNOWN;
        }
    case VER_PLATFORM_WIN32_NT:
        if (osvi.dwMajorVersion <= 4)
        {
            return OS_WINNT4;
        }
        return osvi.dwMinorVersion == 0 ? OS_WIN2000 : OS_WINXP;
    default:
        return OS_UNKNOWN;
    }
}

// Formats a path into a MAX_PATH buffer. A result that does not fit is never
// handed on shortened: FALSE, and the buffer is left empty.
static BOOL FormatPath(LPSTR pszPath, LPCSTR pszFormat, ...)
{
    char szWork[CCH_WSPRINTF];
    va_list args;

    va_start(args, pszFormat);
    int cch = wvsprintfA(szWork, pszFormat, args);
    va_end(args);

    pszPath[0] = '\0';
    if (cch < 0 || cch >= MAX_PATH)
    {
        return FALSE;
    }
    CopyMemory(pszPath, szWork, cch + 1);
    return TRUE;
}

// The printer-driver directory, or FALSE when there is none to work in:
// without one, no name may be taken relative to an empty directory.
static BOOL GetDriverDirectory(int nOSCode, LPSTR pszDriverDir)
{
    DWORD cbNeeded = 0;
    char szSystemDir[MAX_PATH];

    if (GetPrinterDriverDirectoryA(NULL, NULL, 1, (LPBYTE)pszDriverDir, MAX_PATH, &cbNeeded))
    {
        pszDriverDir[MAX_PATH - 1] = '\0';
        return pszDriverDir[0] != '\0';
    }
    pszDriverDir[0] = '\0'; // whatever a failed call left there is not a directory

    // The Windows 9x family keeps the drivers under the system directory.
    if (nOSCode != OS_WIN95 && nOSCode != OS_WIN98 && nOSCode != OS_WINME)
    {
        return FALSE;
    }
    UINT cchSystem = GetSystemDirectoryA(szSystemDir, MAX_PATH);
    if (cchSystem == 0 || cchSystem >= MAX_PATH)
    {
        return FALSE;
    }
    if (nOSCode == OS_WIN95)
    {
        return FormatPath(pszDriverDir, "%s\\spool\\drivers\\w32x86", szSystemDir);
    }
    lstrcpyA(pszDriverDir, szSystemDir);
    return TRUE;
}

// The version directory of the NT family, with its trailing backslash.
static BOOL GetVersionDirectory(int nOSCode, LPCSTR pszDriverDir, LPSTR pszVersionDir)
{
    if (nOSCode == OS_WINNT4)
    {
        return FormatPath(pszVersionDir, "%s\\2\\", pszDriverDir);
    }
    return FormatPath(pszVersionDir, "%s\\3\\", pszDriverDir);
}

// A name in the version directory that no file has yet. SearchPathA only
// answers whether the candidate exists; its found path is not used, so a
// result longer than the buffer still just means "taken". A search that
// fails for another reason than a missing file leaves the candidate unsafe
// to overwrite, so it counts as taken too.
static BOOL FindFreeTempName(LPCSTR pszVersionDir, LPSTR pszTempPath)
{
    char szCandidate[MAX_PATH];
    char szFound[MAX_PATH];
    LPSTR pszFilePart = NULL;

    for (int nCandidate = 0; nCandidate < MAX_TEMP_CANDIDATE; nCandidate++)
    {
        if (!FormatPath(szCandidate, "%03d.tmp", nCandidate))
        {
            return FALSE;
        }
        SetLastError(ERROR_SUCCESS);
        if (SearchPathA(pszVersionDir, szCandidate, NULL, MAX_PATH, szFound, &pszFilePart) == 0 &&
            GetLastError() == ERROR_FILE_NOT_FOUND)
        {
            return FormatPath(pszTempPath, "%s%s", pszVersionDir, szCandidate);
        }
    }
    return FormatPath(pszTempPath, "%s%03d.tmp", pszVersionDir, MAX_TEMP_CANDIDATE);
}

// Removes one old file: from the driver directory, and in the NT family from
// the version directory, where a file in use is renamed out of the way and
// deleted at the next restart.
static void RemoveOldFile(LPCSTR pszDriverDir, LPCSTR pszVersionDir, LPCSTR pszName)
{
    char szPath[MAX_PATH];
    char szTempPath[MAX_PATH];

    if (FormatPath(szPath, "%s\\%s", pszDriverDir, pszName))
    {
        DeleteFileA(szPath);
    }

    if (pszVersionDir == NULL || !FormatPath(szPath, "%s%s", pszVersionDir, pszName))
    {
        return;
    }
    if (DeleteFileA(szPath))
    {
        return;
    }
    // Only a file that is there but held needs the restart: a missing one
    // must not leave a pending operation behind.
    DWORD dwError = GetLastError();
    if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND)
    {
        return;
    }
    if (!FindFreeTempName(pszVersionDir, szTempPath))
    {
        return;
    }
    // A failed rename leaves nothing under the temporary name; marking it
    // would delete at restart whatever takes that name later.
    if (MoveFileExA(szPath, szTempPath, MOVEFILE_REPLACE_EXISTING))
    {
        MoveFileExA(szTempPath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
}

extern "C" BOOL WINAPI DeleteOldFiles(DWORD dwReserved1, DWORD dwReserved2, LPCSTR pszFileList)
{
    char szFileList[MAX_PATH];
    char szDriverDir[MAX_PATH];
    char szVersionDir[MAX_PATH];
    LPCSTR pszVersionDir = NULL;
    size_t cchList = 0;

    (void)dwReserved1;
    (void)dwReserved2;

    if (pszFileList == NULL)
    {
        return TRUE;
    }
    // A list that does not fit is refused whole: a cut-off last name could
    // name another file.
    while (cchList < MAX_PATH && pszFileList[cchList] != '\0')
    {
        cchList++;
    }
    if (cchList == MAX_PATH)
    {
        return TRUE;
    }
    CopyMemory(szFileList, pszFileList, cchList + 1);

    int nOSCode = GetOSVersionCode();
    if (!GetDriverDirectory(nOSCode, szDriverDir))
    {
        return TRUE;
    }
    if (IS_NT_GROUP(nOSCode) && GetVersionDirectory(nOSCode, szDriverDir, szVersionDir))
    {
        pszVersionDir = szVersionDir;
    }

    for (LPSTR pszName = strtok(szFileList, ","); pszName != NULL; pszName = strtok(NULL, ","))
    {
        RemoveOldFile(szDriverDir, pszVersionDir, pszName);
    }
    return TRUE;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    (void)hInstance;
    (void)dwReason;
    (void)lpReserved;
    return TRUE;
}
