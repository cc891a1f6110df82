// What the page-ordering output offers: the end-of-document routines that
// DrvSplEndDoc picks from, the booklet layout intake, and the steps they
// share for sending the spool file's header, pages and trailer.
#pragma once

#include "hookcore.h"

// ---- sending parts of the spool file -------------------------------------------

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
void WriteLeadIn(PSPLDATA pData, HANDLE hPrinter, BOOL bLeadIns, const DWORD *pdwLeadIn);
// Sends the job header [0, cbHeader), with the copy-command fragment at
// dwCopyPos when bCopyCommand and more than one copy is asked for.
void SendJobHeader(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer, DWORD cbHeader, BOOL bCopyCommand);
// Copies made by the hook: dmCopies when it collates without the printer's
// copy command, else 1. *pbCopyCommand: whether the header carries the command.
SHORT HookCopies(PSPLDATA pData, BOOL *pbCopyCommand);

// ---- the routines -------------------------------------------------------------------

BOOL DoReverseCollatePrn(PSPLDATA pData, HANDLE hPrinter, DWORD dwFlags);
BOOL DoCollatePrinting(PSPLDATA pData, HANDLE hPrinter);
void DoManualDuplex(PSPLDATA pData, HANDLE hPrinter, DWORD JobId);
void ShowManualDuplexMsg(void);
void PrintInstructionPage(PSPLDATA pData, HANDLE hPrinter);
BOOL InitBooklet(PSPLDATA pData, LPBYTE pBuf, DWORD cbBuf);
void SendBookletPageData(PSPLDATA pData, HANDLE hPrinter, LPBYTE pBuffer, INT k, INT M);
void DoBooklet(PSPLDATA pData, HANDLE hPrinter, DWORD JobId);
void Hardware_DoBooklet(PSPLDATA pData, HANDLE hPrinter);
void DoOhpPrinting(PSPLDATA pData, HANDLE hPrinter, DWORD dwFlags);
