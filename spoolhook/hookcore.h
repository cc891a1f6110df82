// What the hook core offers the rest of kd7720um: the in-band markers, the
// driver directory and its files, the small services every part uses, the
// spool file and its page index, the overlay library, and the coordination
// of jobs that the spooler runs side by side.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "devmode.h"
#include "spldata.h"
#include "wtext.h"

// ---- in-band markers -------------------------------------------------------

#define MARK_PREFIX_0 0x1B // ESC 0xF0 0x10, then the code
#define MARK_PREFIX_1 0xF0
#define MARK_PREFIX_2 0x10
#define MARK_PAGE_START 0xAA
#define MARK_END 0xFF
#define MARK_COPY_POS 0xBB
#define MARK_BOOKLET 0x00

#define CCH_OVERLAY_MARKER 19   // "TimeToInsertOverlay"
#define CCH_WATERMARK_MARKER 21 // "TimeToInsertWatermark"
extern const char szOverlayMarker[];
extern const char szWatermarkMarker[];

// ---- the driver directory ------------------------------------------------------

// Below the Windows directory; the package's files are named after it.
#define DRIVER_DIR_SUFFIX W("\\system32\\spool\\drivers\\w32x86\\2")
#define INI_FILE_SUFFIX DRIVER_DIR_SUFFIX W("\\kd7720u.ini")
#define TEXTOUT_FILE_SUFFIX DRIVER_DIR_SUFFIX W("\\textout.teq")
#define OVERLAY_LIBRARY_SUFFIX DRIVER_DIR_SUFFIX W("\\kd7720o.dll")
#define WATERMARK_PORTRAIT_SUFFIX DRIVER_DIR_SUFFIX W("\\qvpcl6.wmk")
#define WATERMARK_LANDSCAPE_SUFFIX DRIVER_DIR_SUFFIX W("\\qvpcl6_2.wmk")

// Room for a value read from kd7720u.ini, and for a path built beside one.
#define CCH_INI_VALUE 400

// ---- services ------------------------------------------------------------------

void DbgTrace(LPCWSTR pszFormat, ...);
void ShowMessage(LPCWSTR pszText, UINT uType);
BOOL BuildDriverPath(LPWSTR pszPath, UINT cchPath, LPCWSTR pszSuffix);
BOOL WritePrinterAll(HANDLE hPrinter, LPCVOID pv, DWORD cb);
LPBYTE MyGetPrinter(HANDLE hPrinter, DWORD Level);
// Mode 1 ends the spooler document on hPrinter and remembers its name in the
// job; mode 0 starts a new document under that name.
DWORD NotifySpooler(PSPLDATA pData, HANDLE hPrinter, short wMode, DWORD JobId);
// Closes the job's deferred-text capture, deletes it and gives up its name.
void DiscardTextCapture(PSPLDATA pData);

// ---- the spool file ---------------------------------------------------------------

BOOL InitFileOperation(PSPLDATA pData);
BOOL WriteToFile(PSPLDATA pData, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten);
void CheckOrientationArray(PSPLDATA pData);
void FreeOrientationList(PSPLDATA pData);
void SendPageData(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer, DWORD cbCount);
void LoseReadBack(PSPLDATA pData);
BOOL SeekSpoolFile(PSPLDATA pData, DWORD dwOffset);
// Seeks to an unsigned 32-bit offset: with a high part of 0 the whole range
// up to 4 GiB is reachable, where a lone LONG would stop at 2 GiB.
BOOL SeekFileTo(HANDLE hFile, DWORD dwOffset);

// ---- the overlay library (kd7720o.dll) -----------------------------------------------

// Its data for the overlay of the job's settings, in a GlobalAlloc block that
// the caller frees; NULL on any failure.
LPBYTE GetOverlayData(PSPLDATA pData, LPDWORD pcbData);

// ---- jobs side by side ------------------------------------------------------------------

// Files that the design names once for the whole driver directory. A job
// works under such a name when no other open job does; otherwise under a
// name of its own, made for it in the driver directory.
// The watermark files take the indexes WM_PORTRAIT and WM_LANDSCAPE.
#define SHARED_TEXTOUT 2
#define SHARED_FILES 3

// The path (MAX_PATH characters) the job is to use for the shared file;
// FALSE when neither the name nor one of the job's own can be had.
BOOL ClaimSharedFile(PSPLDATA pData, INT iFile, LPWSTR pszPath);
// Gives up the job's claim. TRUE when the job held the shared name; FALSE
// when it worked under a name of its own (the caller deletes that file).
BOOL ReleaseSharedFile(PSPLDATA pData, INT iFile);
// Whether the job works under the shared name.
BOOL HoldsSharedFile(PSPLDATA pData, INT iFile);

// Short steps that two jobs must not take at the same time: the overlay
// library's query and read, the once-only overlay mark, putting a new
// overlay in place. Never held across a message box or a printer write.
void EnterJobsSection(void);
void LeaveJobsSection(void);
void InitJobCoordination(void);
