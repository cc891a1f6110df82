// The job context: one record per print job, made by DrvSplStartDoc and
// handed back by the spooler to every later hook of the job as its driver
// handle; the page index of the job's spool file; and everything else a job
// keeps between its hooks. The spooler runs jobs side by side, from any of
// its threads: state that one job keeps must never be another job's, so the
// settings, the deferred-text capture, the overlay library and file, the
// booklet fragments and the remembered document name live here, not in the
// library's data.
#pragma once

#include <windows.h>

#include "devmode.h"

#define SPLDATA_SIGNATURE 0x44525347 // "GSRD" while the record lives
#define SPLDATA_FREED 0xDEADF00D     // set just before the record is freed

// Job state bits (dwState): a record of the job's progress.
#define JS_STARTED 0x1
#define JS_ENDDOC 0x2
#define JS_ABORTED 0x4

// Feature bits (dwFlags).
#define JF_MANUAL_DUPLEX 0x01
#define JF_BOOKLET 0x02
#define JF_WATERMARK_REMADE 0x04
#define JF_REVERSE 0x08
#define JF_COLLATE 0x10
#define JF_TRANSPARENCY 0x20
#define JF_SPOOLING 0x40
// The spooled data can no longer be printed as the job asked (the page index
// overflowed, or the spool file was lost after a failed write); every later
// buffer is refused and the end of the document sends nothing.
#define JF_SPOOL_FAILED 0x80
// An overlay-creation job has ended its first page: what follows (the job
// trailer of a one-page job) is no part of the overlay.
#define JF_OVERLAY_PAGE_DONE 0x100
// An end marker came after the last page start: dwPage[iTotalPage] marks the
// trailer. Without one the last page runs to the end of the spooled data.
#define JF_END_MARKED 0x200
// The end marker's copy command did not fit its room: the hook makes the
// copies itself rather than print one where several were asked for.
#define JF_COPY_CMD_REFUSED 0x400
// The deferred-text capture lost bytes it had taken (a failed write could
// not be undone): the rest of the job is refused.
#define JF_CAPTURE_FAILED 0x800
// Reading the spool file back failed at the end of the document: what was
// sent stops at the gap, and the output routine reports a failure.
#define JF_READBACK_FAILED 0x1000

// Transfer buffer of every copy from a file to the printer.
#define PRINT_BUF_SIZE 8192

// Entries of the page index; the entry after the last page marks the start of
// the trailer, so the index holds MAX_SPOOL_PAGES pages.
#define PAGE_INDEX_SIZE 2000
#define MAX_SPOOL_PAGES (PAGE_INDEX_SIZE - 1)

// Room of the copy-command fragment: one length byte, then the fragment.
#define CB_COPY_CMD 200

typedef struct _FILE_INFO
{
    INT iTotalPage;                // page starts recorded so far
    DWORD dwCount;                 // bytes in the spool file, offset of the next byte
    DWORD dwPage[PAGE_INDEX_SIZE]; // dwPage[i]: offset of page i+1; dwPage[iTotalPage]: trailer
} FILE_INFO, *PFILE_INFO;

// ---- booklet fragments ----------------------------------------------------

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

// Watermark files, one per page orientation.
#define WM_PORTRAIT 0
#define WM_LANDSCAPE 1
#define WM_ORIENTATIONS 2

typedef struct _SPLDATA
{
    DWORD dwSignature;
    HANDLE hPrinter; // every byte for the printer goes to WritePrinter on this
    DWORD JobId;
    DWORD dwState;      // JS_*
    DWORD dwFlags;      // JF_*
    DWORD dwWriteCount; // DrvSplWritePrinter calls so far
    DWORD dwPageCount;  // DrvSplStartPage calls so far
    FILE_INFO file_info;
    WCHAR szTempPath[MAX_PATH];
    WCHAR szTempFile[MAX_PATH];
    HANDLE hTempFile; // 0: never opened; INVALID_HANDLE_VALUE: creation failed
    DWORD dwLeadIn1;  // 4 bytes before the first page, held back by some routines
    DWORD dwLeadIn2;
    BYTE abCopyCmd[CB_COPY_CMD];
    DWORD dwCopyPos; // spool offset where the copy command goes

    DRVDEVMODE DevMode;         // the job's settings block
    HMODULE hOverlay;           // kd7720o.dll, loaded for this job
    DWORD dwByteCountOfOverlay; // overlay bytes of the last embedding
    // Overlay creation: the file that takes page 1, written under a
    // temporary name beside the overlay and put in its place at the end, so
    // that a job printing with the overlay never reads half of it.
    HANDLE hOvlyFile;
    WCHAR szOvlyTempFile[MAX_PATH];
    // Deferred text: the capture while it is written, then while it waits for
    // the end of the page; its byte count and where it lives.
    HANDLE hTextfile;
    HANDLE hsavedTextfile;
    DWORD dwTextfileCount;
    WCHAR szTextFile[MAX_PATH];
    // Where the job made its watermark for each orientation; empty: not made.
    WCHAR szWatermarkFile[WM_ORIENTATIONS][MAX_PATH];
    WCHAR szMDJobName[MAX_PATH]; // document name for the second pass
    BOOKLET_INFO booklet_info;
} SPLDATA, *PSPLDATA;
