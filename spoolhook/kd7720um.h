// kd7720um's face to the spooler: the module entry point and the seven
// hooks, exported undecorated by kd7720um.def.
#pragma once

#include <windows.h>

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
