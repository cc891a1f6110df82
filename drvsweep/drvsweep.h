// drvsweep: removes the files of an older driver installation from the
// printer-driver directory. The setup program loads the library and calls
// its one export.
#pragma once

#include <windows.h>

// pszFileList: comma-separated file names, at most 259 characters. The first
// two arguments are reserved. Always returns TRUE.
extern "C" BOOL WINAPI DeleteOldFiles(DWORD dwReserved1, DWORD dwReserved2, LPCSTR pszFileList);

typedef BOOL(WINAPI *PFN_DELETEOLDFILES)(DWORD, DWORD, LPCSTR);
