// What the page decorations offer: the watermark (made by the printer's own
// rendering driver, spliced into pages inside the watermark fragment) and
// the page overlay (created from a job's first page, embedded by later jobs).
#pragma once

#include "hookcore.h"

// ---- the watermark fragment ------------------------------------------------------

// The fixed PCL XL around the watermark data: PushGS, SetClipToPage, SetROP
// 252 (ubyte 252, attribute ROP3, SetROP), the data, PopGS.
#define CB_XL_SET_ROP 5
extern const BYTE abXlPushGS[1];
extern const BYTE abXlSetClipToPage[1];
extern const BYTE abXlSetRop252[CB_XL_SET_ROP];
extern const BYTE abXlPopGS[1];

BOOL UMPD_XLFN_PushGraphicStates(HANDLE hPrinter);
BOOL UMPD_XLFN_PopGraphicStates(HANDLE hPrinter);
BOOL UMPD_XLFN_SetClipToPage(HANDLE hPrinter);
BOOL UMPD_XLFN_SetRopTransparent(HANDLE hPrinter);

// ---- the watermark -----------------------------------------------------------------

// Makes the job's watermark file for the orientation of dm, the job's own
// settings, by printing the watermark job to it.
BOOL MakeWatermarkData(PSPLDATA pData, DRVDEVMODE dm, HANDLE hPrinter);
BOOL ReadWatermarkData(PSPLDATA pData, LPBYTE pBuffer, LPDWORD pcbSize, INT iMode);
BOOL PrintWatermark(HANDLE hPrinter, LPBYTE pWatermark, DWORD cbWatermark);
// Whether a "TimeToInsertWatermark" marker gets the watermark on this page.
BOOL IsWatermarkDue(PSPLDATA pData);
// Reads the job's current watermark file into a GlobalAlloc block (*pcb
// bytes) that the caller frees; NULL after a failure, whose message has been
// shown.
LPBYTE LoadWatermarkData(PSPLDATA pData, LPDWORD pcb);
// The job is closing: it gives up its watermark files.
void ReleaseWatermarkFiles(PSPLDATA pData);

// ---- the overlay ---------------------------------------------------------------------

// Overlay embedding: the bytes that replace "TimeToInsertOverlay".
#define CB_OVERLAY_STREAM_HEADER 60
extern const char szOverlayStreamHeader[];
BOOL PrintOverlay(PSPLDATA pData, HANDLE hPrinter);
// The embedding's first 76 bytes (13 + 2 + 60 + 1) for n bytes of overlay
// data; FALSE when n is too large for the 32-bit lengths.
#define CB_OVERLAY_PREFIX 76
BOOL BuildOverlayPrefix(LPBYTE pbPrefix, DWORD cbData);

// Outcomes of the two overlay prompts of the settings-block intake.
#define OVERLAY_GO_ON 0    // creation: file opened; query: accepted
#define OVERLAY_DECLINED 1 // sOverlayMode is 0 now; the intake fails with 0 bytes written
#define OVERLAY_FAILED 2   // a message was shown; the intake fails at once
INT OverlayCreateStart(PSPLDATA pData);
INT OverlayQuery(PSPLDATA pData);
BOOL WriteOverlayFile(PSPLDATA pData, LPBYTE pBuf, DWORD cbBuf, LPDWORD pcWritten);
// End of a creation job: the overlay written so far takes its place under
// the overlay's name (bKeep), or is dropped (an aborted job).
void FinishOverlayFile(PSPLDATA pData, BOOL bKeep);
