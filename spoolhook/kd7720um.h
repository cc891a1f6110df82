// Everything the parts of kd7720um share: the library-wide state, the
// booklet record, the operations of the hook core, the output routines and
// the decorations.
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

// ---- booklet fragments -------------------------------------------------------

#define CB_BOOKLET_FRAGMENT 31

typedef struct _BOOKLET_FRAGMENT
{
    BYTE cb;                       // 0 to CB_BOOKLET_FRAGMENT
    BYTE ab[CB_BOOKLET_FRAGMENT];
} BOOKLET_FRAGMENT, *PBOOKLET_FRAGMENT;

typedef struct _BOOKLET_INFO
{
    BOOKLET_FRAGMENT BeginPage;
    BOOKLET_FRAGMENT EndPage;
    BOOKLET_FRAGMENT SetPageOrigin[4];
    BOOKLET_FRAGMENT SetPageRotation[2];
    BOOKLET_FRAGMENT SetPageScale;
    BOOKLET_FRAGMENT SetClipMode;
    BOOKLET_FRAGMENT BorderData;
    BOOKLET_FRAGMENT ExecStream[2];
    BYTE bBookletOrientation;      // 1 portrait, 2 landscape
    LPBYTE pOrientation;           // one orientation byte per page, entry p-1 for page p
    INT nOrientationSize;          // entries in pOrientation
} BOOKLET_INFO, *PBOOKLET_INFO;

// ---- library-wide state --------------------------------------------------------

extern HINSTANCE hInst;
extern CRITICAL_SECTION UmpdSection;
extern HMODULE hOverlay;
extern DWORD dwByteCountOfOverlay;
extern DRVDEVMODE GlobalDevMode;
extern HANDLE hOvlyFile;
extern HANDLE hTextfile;
extern HANDLE hsavedTextfile;
extern DWORD dwTextfileCount;
extern WCHAR g_cMDJobName[MAX_PATH];
extern BOOKLET_INFO booklet_info;

// The driver directory below the Windows directory, and its files.
#define DRIVER_DIR_SUFFIX W("\\system32\\spool\\drivers\\w32x86\\2")
#define INI_FILE_SUFFIX W("\\system32\\spool\\drivers\\w32x86\\2\\kd7720u.ini")

// ---- hooks (exported) -------------------------------------------------------------

extern "C"
{
    BOOL WINAPI DllEntryPoint(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved);
    HANDLE WINAPI DrvSplStartDoc(HANDLE hPrinter, DWORD JobId);
    BOOL WINAPI DrvSplWritePrinter(HANDLE hDriver, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten);
    BOOL WINAPI DrvSplStartPage(HANDLE hDriver);
    BOOL WINAPI DrvSplEndPage(HANDLE hDriver);
    void WINAPI DrvSplEndDoc(HANDLE hDriver);
    void WINAPI DrvSplAbort(HANDLE hDriver);
    void WINAPI DrvSplClose(HANDLE hDriver);
}

// ---- hook core ----------------------------------------------------------------------

void DbgTrace(LPCWSTR pszFormat, ...);
void ShowMessage(LPCWSTR pszText, UINT uType);
BOOL BuildDriverPath(LPWSTR pszPath, UINT cchPath, LPCWSTR pszSuffix);
LPBYTE MyGetPrinter(HANDLE hPrinter, DWORD Level);
DWORD NotifySpooler(HANDLE hPrinter, short wMode, DWORD JobId);
BOOL WritePrinterAll(HANDLE hPrinter, LPCVOID pv, DWORD cb);

BOOL InitFileOperation(PSPLDATA pData);
BOOL WriteToFile(PSPLDATA pData, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten);
void CheckOrientationArray(PSPLDATA pData);
void SendPageData(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer, DWORD cbCount);

// Overlay library (kd7720o.dll): its data for the overlay of the settings
// block, in a GlobalAlloc block that the caller frees; NULL on any failure.
LPBYTE GetOverlayData(LPDWORD pcbData);

// ---- decorations ------------------------------------------------------------------------

BOOL UMPD_XLFN_PushGraphicStates(HANDLE hPrinter);
BOOL UMPD_XLFN_PopGraphicStates(HANDLE hPrinter);
BOOL UMPD_XLFN_SetClipToPage(HANDLE hPrinter);
BOOL UMPD_XLFN_SetRopTransparent(HANDLE hPrinter);

BOOL MakeWatermarkData(DRVDEVMODE dm, HANDLE hPrinter);
BOOL ReadWatermarkData(LPBYTE pBuffer, LPDWORD pcbSize, INT iMode);
BOOL PrintWatermark(HANDLE hPrinter);

// Overlay embedding: the bytes that replace "TimeToInsertOverlay".
#define CB_OVERLAY_STREAM_HEADER 60
extern const char szOverlayStreamHeader[];
BOOL PrintOverlay(HANDLE hPrinter);

// ---- output routines ----------------------------------------------------------------------

BOOL DoReverseCollatePrn(PSPLDATA pData, HANDLE hPrinter, DWORD dwFlags);
BOOL DoCollatePrinting(PSPLDATA pData, HANDLE hPrinter);
void DoManualDuplex(PSPLDATA pData, HANDLE hPrinter, DWORD JobId);
void ShowManualDuplexMsg(void);
void PrintInstructionPage(HANDLE hPrinter);
BOOL InitBooklet(PSPLDATA pData, LPBYTE pBuf, DWORD cbBuf);
void SendBookletPageData(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer, INT k, INT M);
void DoBooklet(PSPLDATA pData, HANDLE hPrinter, DWORD JobId);
void Hardware_DoBooklet(PSPLDATA pData, HANDLE hPrinter);
void DoOhpPrinting(PSPLDATA pData, HANDLE hPrinter, DWORD dwFlags);
