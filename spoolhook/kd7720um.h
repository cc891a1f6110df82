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
    BYTE cb; // 0 to CB_BOOKLET_FRAGMENT
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
    BYTE bBookletOrientation; // 1 portrait, 2 landscape
    LPBYTE pOrientation;      // one orientation byte per page, entry p-1 for page p
    INT nOrientationSize;     // entries in pOrientation
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
BOOL SeekSpoolFile(PSPLDATA pData, DWORD dwOffset);

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
BOOL PrintWatermark(HANDLE hPrinter, LPBYTE pWatermark, DWORD cbWatermark);

// Overlay embedding: the bytes that replace "TimeToInsertOverlay".
#define CB_OVERLAY_STREAM_HEADER 60
extern const char szOverlayStreamHeader[];
BOOL PrintOverlay(HANDLE hPrinter);
// The embedding's first 76 bytes (13 + 2 + 60 + 1) for n bytes of overlay
// data; FALSE when n is too large for the 32-bit lengths.
#define CB_OVERLAY_PREFIX 76
BOOL BuildOverlayPrefix(LPBYTE pbPrefix, DWORD cbData);

// Outcomes of the two overlay prompts of the settings-block intake.
#define OVERLAY_GO_ON 0    // creation: file opened; query: accepted
#define OVERLAY_DECLINED 1 // sOverlayMode is 0 now; the intake fails with 0 bytes written
#define OVERLAY_FAILED 2   // a message was shown; the intake fails at once
INT OverlayCreateStart(void);
INT OverlayQuery(void);
BOOL WriteOverlayFile(PSPLDATA pData, LPBYTE pBuf, DWORD cbBuf, LPDWORD pcWritten);

// Whether a "TimeToInsertWatermark" marker gets the watermark on this page.
BOOL IsWatermarkDue(PSPLDATA pData);
// Reads the current watermark file into a GlobalAlloc block (*pcb bytes) that
// the caller frees; NULL after a failure, whose message has been shown.
LPBYTE LoadWatermarkData(LPDWORD pcb);

// ---- output routines ----------------------------------------------------------------------

// Copies spool-file bytes [dwFrom, dwTo) to the printer; nothing when empty.
void SendSpoolRange(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer, DWORD dwFrom, DWORD dwTo);
// For a job without pages: the spooled bytes once, unchanged.
void SendWholeSpool(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer);
// Sends page k (1 to iTotalPage); any other k sends nothing.
void SendPage(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer, INT k);
void SendTrailer(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer);
// End of the job header without the two lead-in fragments (the whole header
// when it is too short to hold them).
DWORD ShortHeaderEnd(PSPLDATA pData);
// Reads the lead-in fragments into dwLeadIn1 and dwLeadIn2; FALSE when the
// header holds none or they cannot be read (nothing is written for them then).
BOOL ReadLeadIns(PSPLDATA pData, LPBYTE pBuffer);
void WriteLeadIn(HANDLE hPrinter, BOOL bLeadIns, const DWORD *pdwLeadIn);
// Sends the job header [0, cbHeader), with the copy-command fragment at
// dwCopyPos when bCopyCommand and more than one copy is asked for.
void SendJobHeader(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer, DWORD cbHeader, BOOL bCopyCommand);
// Copies made by the hook: dmCopies when it collates without the printer's
// copy command, else 1. *pbCopyCommand: whether the header carries the command.
SHORT HookCopies(BOOL *pbCopyCommand);
void FreeOrientationList(void);

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
