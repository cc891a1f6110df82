// Control of the Win32 layer, for tests, the simulation and the tools of the
// Linux build. Product code never includes this header.
//
// The layer is one shared library, so every module of a process (the test,
// the hook library, the overlay library it loads) sees one state: one handle
// table, one debug journal, one set of faults, as they would see one
// kernel32 on Windows.
#pragma once

#include <windows.h>

// ---- the emulated machine ---------------------------------------------------

// Host directory that stands for the drive root C:\. Defaults to the
// environment variable W32EMU_ROOT, else to the current directory; NULL
// returns to that default. The Windows directory is C:\WINDOWS unless
// W32EmuSetWindowsDir says otherwise (NULL: back to C:\WINDOWS).
W32EMU_API void W32EmuSetRoot(const char *pszHostDir);
W32EMU_API const char *W32EmuGetRoot(void);
W32EMU_API void W32EmuSetWindowsDir(LPCWSTR pszWinPath);

// Maps a Windows path (C:\..., Z:\... or relative to C:\) to a host path,
// resolving existing components case-insensitively. FALSE with
// ERROR_INSUFFICIENT_BUFFER when cbHost is too small, ERROR_INVALID_NAME for
// another drive.
W32EMU_API BOOL W32EmuToHostPath(LPCWSTR pszWinPath, char *pszHost, size_t cbHost);
W32EMU_API BOOL W32EmuToHostPathA(LPCSTR pszWinPath, char *pszHost, size_t cbHost);

// The Windows version that GetVersionExA reports. bExtended: whether the
// 156-byte OSVERSIONINFOEXA is accepted (Windows 95 and NT 4.0 before
// Service Pack 4 refuse it). Default: NT 5.1.2600, extended.
W32EMU_API void W32EmuSetVersion(DWORD dwPlatformId, DWORD dwMajor, DWORD dwMinor, DWORD dwBuild, BOOL bExtended);

// Makes GetPrinterDriverDirectoryA fail with the given error (0: succeed).
W32EMU_API void W32EmuSetDriverDirectoryError(DWORD dwError);

// ---- observing ----------------------------------------------------------------

// Open kernel object handles (files and searches; modules are counted apart).
W32EMU_API DWORD W32EmuOpenHandleCount(void);
W32EMU_API DWORD W32EmuLoadedModuleCount(void);
// GlobalAlloc blocks not yet freed.
W32EMU_API DWORD W32EmuLiveGlobalBlocks(void);

// Every OutputDebugStringW/A string since the last clear, in order; a
// string stays valid until the next clear. The strings are also written to
// stderr (as UTF-8) when W32EMU_DEBUG_STDERR is set to anything but "" or
// "0" (read once, at the first string).
W32EMU_API DWORD W32EmuDebugCount(void);
W32EMU_API LPCWSTR W32EmuDebugAt(DWORD i);
W32EMU_API void W32EmuDebugClear(void);
// Chooses where the strings go from now on, over W32EMU_DEBUG_STDERR. With
// both off they go nowhere, as on a machine with no debugger listening: a
// benchmark measures the hook so.
W32EMU_API void W32EmuDebugSinks(BOOL bJournal, BOOL bStderr);
// Gives every string to pfn instead of the journal, on the thread that wrote
// it, as a debugger attached to the process sees which thread wrote what
// (stderr still gets them as chosen above); NULL returns to the journal.
typedef void (*W32EMU_DEBUG_LISTENER)(LPCWSTR pszText);
W32EMU_API void W32EmuDebugListener(W32EMU_DEBUG_LISTENER pfn);

// MoveFileExA(..., MOVEFILE_DELAY_UNTIL_REBOOT) records, as Windows records
// them for the next restart. pszNew is "" for a deletion.
W32EMU_API DWORD W32EmuPendingRenameCount(void);
W32EMU_API BOOL W32EmuPendingRenameAt(DWORD i, char *pszOld, size_t cbOld, char *pszNew, size_t cbNew);
W32EMU_API void W32EmuPendingRenameClear(void);

// ---- faults -------------------------------------------------------------------

// Calls are counted per function name ("GlobalAlloc", "CreateFileW",
// "WriteFile", "ReadFile", "SetFilePointer", "GetFileSize", "LoadLibraryW",
// "GetProcAddress", "GetTempFileNameW", "GetTempPathW", "MultiByteToWideChar",
// "GetPrivateProfileStringW", "WritePrivateProfileStringW", "DeleteFileW",
// "CloseHandle", ...). W32EmuFailCall makes cTimes calls of pszFunction
// fail with dwError, starting with the nth call from now (1 = the next):
// cTimes 1 fails that call alone, cTimes 0 it and every later call. Calls
// the layer makes inside itself (a profile file opened, a temporary file
// made) are not counted, as kernel32's own calls do not pass through a
// module's imports. A name that is not faultable is reported on stderr.
W32EMU_API void W32EmuFailCall(const char *pszFunction, DWORD nth, DWORD dwError, DWORD cTimes);
// The nth WriteFile from now writes only cbAllowed bytes; it then returns
// FALSE with ERROR_DISK_FULL, or TRUE with the short count when bSucceed.
W32EMU_API void W32EmuShortWrite(DWORD nth, DWORD cbAllowed, BOOL bSucceed);
W32EMU_API DWORD W32EmuCallCount(const char *pszFunction);
// Clears every fault and every call count.
W32EMU_API void W32EmuResetFaults(void);
// Whether faultable calls are counted; on at start, and W32EmuResetFaults
// leaves it as it is. Off, as on a machine without a test harness, a
// faultable call costs one check and takes no lock, counts stay where they
// are and no planned failure or short write can come due. W32EmuFailCall
// and W32EmuShortWrite turn it back on, as they count calls from now.
W32EMU_API void W32EmuCountCalls(BOOL bCount);
// Names of the functions that honour W32EmuFailCall, NULL after the last.
W32EMU_API const char *W32EmuFaultableAt(DWORD i);

// Holds a file "in use" as a loaded program image: DeleteFile fails with
// ERROR_ACCESS_DENIED, renaming it succeeds (what Windows and Wine do for a
// mapped DLL). Released by W32EmuReleaseFile or W32EmuResetFaults.
W32EMU_API BOOL W32EmuHoldFileA(LPCSTR pszWinPath);
W32EMU_API void W32EmuReleaseFileA(LPCSTR pszWinPath);

// ---- redirected imports ----------------------------------------------------------

// The winspool, user32 and gdi32 entry points of the layer call the function
// registered here under their name (pszDll is "winspool.drv", "user32.dll"
// or "gdi32.dll", matched case-insensitively). A NULL pfn removes the entry.
// FALSE with ERROR_PROC_NOT_FOUND for a name the layer does not redirect
// (names are case-sensitive, as exports are), ERROR_MOD_NOT_FOUND for
// another DLL.
W32EMU_API BOOL W32EmuRedirect(const char *pszDll, const char *pszName, void *pfn);
W32EMU_API void W32EmuRedirectClear(void);
