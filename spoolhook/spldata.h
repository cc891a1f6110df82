// The job context: one record per print job, made by DrvSplStartDoc and
// handed back by the spooler to every later hook of the job as its driver
// handle; and the page index of the job's spool file.
#pragma once

#include <windows.h>

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
} SPLDATA, *PSPLDATA;
