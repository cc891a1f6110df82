// The calls that leave the operating system (spooler, user interface, GDI)
// are thunks into a table that a simulation fills by name, as the Windows
// test harness patches a module's import address table.
#include "internal.h"

#include <atomic>
#include <cstring>

namespace w32emu
{
namespace
{

struct RedirectName
{
    const char *pszDll;
    const char *pszName;
};

constexpr RedirectName g_aRedirectable[] = {
    {"winspool.drv", "WritePrinter"},
    {"winspool.drv", "GetPrinterW"},
    {"winspool.drv", "GetJobW"},
    {"winspool.drv", "StartDocPrinterW"},
    {"winspool.drv", "EndDocPrinter"},
    {"user32.dll", "MessageBoxW"},
    {"gdi32.dll", "CreateDCW"},
    {"gdi32.dll", "DeleteDC"},
    {"gdi32.dll", "GetDeviceCaps"},
    {"gdi32.dll", "CreateFontIndirectW"},
    {"gdi32.dll", "CreatePen"},
    {"gdi32.dll", "SelectObject"},
    {"gdi32.dll", "DeleteObject"},
    {"gdi32.dll", "SetTextColor"},
    {"gdi32.dll", "SetBkMode"},
    {"gdi32.dll", "SetTextAlign"},
    {"gdi32.dll", "GetTextMetricsW"},
    {"gdi32.dll", "StartDocW"},
    {"gdi32.dll", "EndDoc"},
    {"gdi32.dll", "StartPage"},
    {"gdi32.dll", "EndPage"},
    {"gdi32.dll", "TextOutW"},
    {"gdi32.dll", "BeginPath"},
    {"gdi32.dll", "EndPath"},
    {"gdi32.dll", "GetPath"},
    {"gdi32.dll", "StrokePath"},
    {"gdi32.dll", "TranslateCharsetInfo"},
};

constexpr size_t kRedirectable = sizeof(g_aRedirectable) / sizeof(g_aRedirectable[0]);

constexpr bool SameName(const char *a, const char *b)
{
    while (*a != 0 && *a == *b)
    {
        a++;
        b++;
    }
    return *a == *b;
}

// A function's place in the table, found when the layer is compiled.
constexpr size_t RedirectIndex(const char *pszName)
{
    for (size_t i = 0; i < kRedirectable; i++)
    {
        if (SameName(g_aRedirectable[i].pszName, pszName))
        {
            return i;
        }
    }
    return kRedirectable;
}

// The registered functions, by place (the names are unique across the three
// DLLs). Every printer write passes here, from any thread: a thunk reads its
// entry with one load, without a lock.
std::atomic<void *> g_apfnRedirected[kRedirectable];

template <size_t kIndex>
void *Lookup()
{
    static_assert(kIndex < kRedirectable, "not a redirected function");
    // Acquire: what the simulation set up before registering is seen.
    return g_apfnRedirected[kIndex].load(std::memory_order_acquire);
}

} // namespace
} // namespace w32emu

using namespace w32emu;

W32EMU_API BOOL W32EmuRedirect(const char *pszDll, const char *pszName, void *pfn)
{
    if (!pszDll || !pszName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    bool bDllKnown = false;
    for (const RedirectName &r : g_aRedirectable)
    {
        if (lstrcmpiA(r.pszDll, pszDll) != 0)
        {
            continue;
        }
        bDllKnown = true;
        // Export names are case-sensitive, as GetProcAddress sees them.
        if (strcmp(r.pszName, pszName) == 0)
        {
            g_apfnRedirected[&r - g_aRedirectable].store(pfn, std::memory_order_release);
            return TRUE;
        }
    }
    SetLastError(bDllKnown ? ERROR_PROC_NOT_FOUND : ERROR_MOD_NOT_FOUND);
    return FALSE;
}

W32EMU_API void W32EmuRedirectClear(void)
{
    for (std::atomic<void *> &pfn : g_apfnRedirected)
    {
        pfn.store(nullptr, std::memory_order_release);
    }
}

// A thunk: counted and faultable like the kernel calls, then the
// registered function, or the function's failure value with
// ERROR_CALL_NOT_IMPLEMENTED when none is registered.
#define W32EMU_THUNK(ret, name, failure, params, args)                                                                 \
    WINBASEAPI ret WINAPI name params                                                                                  \
    {                                                                                                                  \
        if (CallFails(#name))                                                                                          \
        {                                                                                                              \
            return failure;                                                                                            \
        }                                                                                                              \
        auto pfn = reinterpret_cast<decltype(&name)>(Lookup<RedirectIndex(#name)>());                                  \
        if (!pfn)                                                                                                      \
        {                                                                                                              \
            SetLastError(ERROR_CALL_NOT_IMPLEMENTED);                                                                  \
            return failure;                                                                                            \
        }                                                                                                              \
        return pfn args;                                                                                               \
    }

// WritePrinter reports no bytes written when it fails, whichever way.
WINBASEAPI W32EMU_HOT BOOL WINAPI WritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten)
{
    if (pcWritten)
    {
        *pcWritten = 0;
    }
    if (CallFails("WritePrinter"))
    {
        return FALSE;
    }
    auto pfn = reinterpret_cast<decltype(&WritePrinter)>(Lookup<RedirectIndex("WritePrinter")>());
    if (!pfn)
    {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return pfn(hPrinter, pBuf, cbBuf, pcWritten);
}

W32EMU_THUNK(BOOL, GetPrinterW, FALSE, (HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded),
             (hPrinter, Level, pPrinter, cbBuf, pcbNeeded))
W32EMU_THUNK(BOOL, GetJobW, FALSE,
             (HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf, LPDWORD pcbNeeded),
             (hPrinter, JobId, Level, pJob, cbBuf, pcbNeeded))
W32EMU_THUNK(DWORD, StartDocPrinterW, 0, (HANDLE hPrinter, DWORD Level, LPBYTE pDocInfo), (hPrinter, Level, pDocInfo))
W32EMU_THUNK(BOOL, EndDocPrinter, FALSE, (HANDLE hPrinter), (hPrinter))
W32EMU_THUNK(int, MessageBoxW, 0, (HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType),
             (hWnd, lpText, lpCaption, uType))
W32EMU_THUNK(HDC, CreateDCW, nullptr, (LPCWSTR pwszDriver, LPCWSTR pwszDevice, LPCWSTR pszPort, const DEVMODEW *pdm),
             (pwszDriver, pwszDevice, pszPort, pdm))
W32EMU_THUNK(BOOL, DeleteDC, FALSE, (HDC hdc), (hdc))
W32EMU_THUNK(int, GetDeviceCaps, 0, (HDC hdc, int index), (hdc, index))
W32EMU_THUNK(HFONT, CreateFontIndirectW, nullptr, (const LOGFONTW *lplf), (lplf))
W32EMU_THUNK(HPEN, CreatePen, nullptr, (int iStyle, int cWidth, COLORREF color), (iStyle, cWidth, color))
W32EMU_THUNK(HGDIOBJ, SelectObject, nullptr, (HDC hdc, HGDIOBJ h), (hdc, h))
W32EMU_THUNK(BOOL, DeleteObject, FALSE, (HGDIOBJ ho), (ho))
W32EMU_THUNK(COLORREF, SetTextColor, CLR_INVALID, (HDC hdc, COLORREF color), (hdc, color))
W32EMU_THUNK(int, SetBkMode, 0, (HDC hdc, int mode), (hdc, mode))
W32EMU_THUNK(UINT, SetTextAlign, GDI_ERROR, (HDC hdc, UINT align), (hdc, align))
W32EMU_THUNK(BOOL, GetTextMetricsW, FALSE, (HDC hdc, LPTEXTMETRICW lptm), (hdc, lptm))
W32EMU_THUNK(int, StartDocW, SP_ERROR, (HDC hdc, const DOCINFOW *lpdi), (hdc, lpdi))
W32EMU_THUNK(int, EndDoc, SP_ERROR, (HDC hdc), (hdc))
W32EMU_THUNK(int, StartPage, SP_ERROR, (HDC hdc), (hdc))
W32EMU_THUNK(int, EndPage, SP_ERROR, (HDC hdc), (hdc))
W32EMU_THUNK(BOOL, TextOutW, FALSE, (HDC hdc, int x, int y, LPCWSTR lpString, int c), (hdc, x, y, lpString, c))
W32EMU_THUNK(BOOL, BeginPath, FALSE, (HDC hdc), (hdc))
W32EMU_THUNK(BOOL, EndPath, FALSE, (HDC hdc), (hdc))
W32EMU_THUNK(int, GetPath, -1, (HDC hdc, LPPOINT apt, LPBYTE aj, int cpt), (hdc, apt, aj, cpt))
W32EMU_THUNK(BOOL, StrokePath, FALSE, (HDC hdc), (hdc))
W32EMU_THUNK(BOOL, TranslateCharsetInfo, FALSE, (DWORD * lpSrc, LPCHARSETINFO lpCs, DWORD dwFlags),
             (lpSrc, lpCs, dwFlags))
