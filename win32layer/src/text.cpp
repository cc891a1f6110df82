// Code pages and the lstr* string functions. The system code page is
// Windows-1252, as on the Western European systems the product ships for.
#include "internal.h"

namespace w32emu
{
namespace
{

// Windows-1252 0x80-0x9F. The five bytes the code page leaves undefined map
// to the C1 controls of the same value, as Windows maps them (so that every
// byte survives a round trip).
const WCHAR g_aw1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

WCHAR AnsiCharToWide(unsigned char b)
{
    return (b >= 0x80 && b < 0xA0) ? g_aw1252High[b - 0x80] : (WCHAR)b;
}

// -1 for a character that Windows-1252 cannot represent.
int WideCharToAnsi(WCHAR c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
    {
        return c;
    }
    for (int i = 0; i < 32; i++)
    {
        if (g_aw1252High[i] == c)
        {
            return 0x80 + i;
        }
    }
    return -1;
}

bool IsAnsiCodePage(UINT cp)
{
    return cp == CP_ACP || cp == CP_1252;
}

bool IsHighSurrogate(WCHAR c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(WCHAR c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Decodes UTF-8; ill-formed sequences become U+FFFD (one per maximal
// ill-formed subpart). *pbInvalid tells whether any did.
WString DecodeUtf8(std::string_view s, bool *pbInvalid)
{
    WString out;
    out.reserve(s.size());
    size_t i = 0;
    bool bInvalid = false;
    while (i < s.size())
    {
        unsigned char b = (unsigned char)s[i];
        if (b < 0x80)
        {
            out += (WCHAR)b;
            i++;
            continue;
        }
        int n = 0;
        uint32_t cp = 0;
        uint32_t min = 0;
        if (b >= 0xC2 && b <= 0xDF)
        {
            n = 1;
            cp = b & 0x1F;
            min = 0x80;
        }
        else if (b >= 0xE0 && b <= 0xEF)
        {
            n = 2;
            cp = b & 0x0F;
            min = 0x800;
        }
        else if (b >= 0xF0 && b <= 0xF4)
        {
            n = 3;
            cp = b & 0x07;
            min = 0x10000;
        }
        else
        {
            out += (WCHAR)0xFFFD;
            bInvalid = true;
            i++;
            continue;
        }
        size_t j = i + 1;
        bool bOk = true;
        for (int k = 0; k < n; k++, j++)
        {
            if (j >= s.size() || ((unsigned char)s[j] & 0xC0) != 0x80)
            {
                bOk = false;
                break;
            }
            cp = (cp << 6) | ((unsigned char)s[j] & 0x3F);
        }
        if (!bOk || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        {
            out += (WCHAR)0xFFFD;
            bInvalid = true;
            i = bOk ? j : (j > i + 1 ? j : i + 1);
            continue;
        }
        if (cp >= 0x10000)
        {
            cp -= 0x10000;
            out += (WCHAR)(0xD800 + (cp >> 10));
            out += (WCHAR)(0xDC00 + (cp & 0x3FF));
        }
        else
        {
            out += (WCHAR)cp;
        }
        i = j;
    }
    if (pbInvalid)
    {
        *pbInvalid = bInvalid;
    }
    return out;
}

// Encodes UTF-16 as UTF-8; unpaired surrogates become U+FFFD.
std::string EncodeUtf8(WStringView s, bool *pbInvalid)
{
    std::string out;
    out.reserve(s.size());
    bool bInvalid = false;
    for (size_t i = 0; i < s.size(); i++)
    {
        uint32_t cp = s[i];
        if (IsHighSurrogate(s[i]) && i + 1 < s.size() && IsLowSurrogate(s[i + 1]))
        {
            cp = 0x10000 + (((uint32_t)s[i] - 0xD800) << 10) + ((uint32_t)s[i + 1] - 0xDC00);
            i++;
        }
        else if (IsHighSurrogate(s[i]) || IsLowSurrogate(s[i]))
        {
            cp = 0xFFFD;
            bInvalid = true;
        }
        if (cp < 0x80)
        {
            out += (char)cp;
        }
        else if (cp < 0x800)
        {
            out += (char)(0xC0 | (cp >> 6));
            out += (char)(0x80 | (cp & 0x3F));
        }
        else if (cp < 0x10000)
        {
            out += (char)(0xE0 | (cp >> 12));
            out += (char)(0x80 | ((cp >> 6) & 0x3F));
            out += (char)(0x80 | (cp & 0x3F));
        }
        else
        {
            out += (char)(0xF0 | (cp >> 18));
            out += (char)(0x80 | ((cp >> 12) & 0x3F));
            out += (char)(0x80 | ((cp >> 6) & 0x3F));
            out += (char)(0x80 | (cp & 0x3F));
        }
    }
    if (pbInvalid)
    {
        *pbInvalid = bInvalid;
    }
    return out;
}

// Length of the longest prefix of a UTF-8 string that ends on a character
// boundary and is at most cbMax bytes.
size_t Utf8Prefix(const std::string &s, size_t cbMax)
{
    if (cbMax >= s.size())
    {
        return s.size();
    }
    size_t n = cbMax;
    while (n > 0 && ((unsigned char)s[n] & 0xC0) == 0x80)
    {
        n--;
    }
    return n;
}

} // namespace

size_t WLen(LPCWSTR psz)
{
    size_t n = 0;
    if (psz)
    {
        while (psz[n])
        {
            n++;
        }
    }
    return n;
}

WString AnsiToWide(std::string_view s)
{
    WString out(s.size(), u'\0');
    for (size_t i = 0; i < s.size(); i++)
    {
        out[i] = AnsiCharToWide((unsigned char)s[i]);
    }
    return out;
}

std::string WideToAnsi(WStringView s, bool *pbUsedDefault)
{
    std::string out(s.size(), '\0');
    bool bUsed = false;
    for (size_t i = 0; i < s.size(); i++)
    {
        int c = WideCharToAnsi(s[i]);
        if (c < 0)
        {
            c = '?';
            bUsed = true;
        }
        out[i] = (char)c;
    }
    if (pbUsedDefault)
    {
        *pbUsedDefault = bUsed;
    }
    return out;
}

std::string WideToUtf8(WStringView s)
{
    return EncodeUtf8(s, nullptr);
}

WString Utf8ToWide(std::string_view s)
{
    return DecodeUtf8(s, nullptr);
}

// Upper case for ASCII and the letters of Windows-1252; other characters
// compare as they are.
WCHAR FoldCase(WCHAR c)
{
    if (c >= u'a' && c <= u'z')
    {
        return (WCHAR)(c - 0x20);
    }
    if (c < 0xE0)
    {
        return c;
    }
    if (c <= 0xFE)
    {
        return c == 0xF7 ? c : (WCHAR)(c - 0x20);
    }
    switch (c)
    {
    case 0xFF:
        return 0x178;
    case 0x161:
        return 0x160;
    case 0x153:
        return 0x152;
    case 0x17E:
        return 0x17D;
    default:
        return c;
    }
}

bool EqualNoCase(WStringView a, WStringView b)
{
    if (a.size() != b.size())
    {
        return false;
    }
    for (size_t i = 0; i < a.size(); i++)
    {
        if (FoldCase(a[i]) != FoldCase(b[i]))
        {
            return false;
        }
    }
    return true;
}

int CompareOrdinal(WStringView a, WStringView b, bool bIgnoreCase)
{
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; i++)
    {
        WCHAR ca = bIgnoreCase ? FoldCase(a[i]) : a[i];
        WCHAR cb = bIgnoreCase ? FoldCase(b[i]) : b[i];
        if (ca != cb)
        {
            return ca < cb ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool PathArgToWide(LPCSTR psz, WString &out)
{
    if (!psz)
    {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    size_t n = strlen(psz);
    if (n >= MAX_PATH)
    {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    out = AnsiToWide(std::string_view(psz, n));
    return true;
}

} // namespace w32emu

using namespace w32emu;

// ---- code pages ------------------------------------------------------------------

WINBASEAPI UINT WINAPI GetACP(void)
{
    return 1252;
}

WINBASEAPI int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                          LPWSTR lpWideCharStr, int cchWideChar)
{
    if (CallFails("MultiByteToWideChar"))
    {
        return 0;
    }
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 || (!lpWideCharStr && cchWideChar) ||
        (const void *)lpMultiByteStr == (const void *)lpWideCharStr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t cb = cbMultiByte == -1 ? strlen(lpMultiByteStr) + 1 : (size_t)cbMultiByte;
    std::string_view src(lpMultiByteStr, cb);
    WString out;
    if (IsAnsiCodePage(CodePage))
    {
        const DWORD dwKnown = MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
        if ((dwFlags & ~dwKnown) || (dwFlags & (MB_PRECOMPOSED | MB_COMPOSITE)) == (MB_PRECOMPOSED | MB_COMPOSITE))
        {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
        if (dwFlags & (MB_COMPOSITE | MB_USEGLYPHCHARS))
        {
            // Decomposition and glyph characters are not emulated.
            SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return 0;
        }
        // Every byte is defined in 1252, so MB_ERR_INVALID_CHARS never fires.
        out = AnsiToWide(src);
    }
    else if (CodePage == CP_UTF8)
    {
        if (dwFlags & ~(DWORD)MB_ERR_INVALID_CHARS)
        {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
        bool bInvalid = false;
        out = DecodeUtf8(src, &bInvalid);
        if (bInvalid && (dwFlags & MB_ERR_INVALID_CHARS))
        {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
    }
    else
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cchWideChar == 0)
    {
        return (int)out.size();
    }
    if (out.size() > (size_t)cchWideChar)
    {
        // Windows fills the buffer before it reports the shortage.
        memcpy(lpWideCharStr, out.data(), (size_t)cchWideChar * sizeof(WCHAR));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpWideCharStr, out.data(), out.size() * sizeof(WCHAR));
    return (int)out.size();
}

WINBASEAPI int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                                          LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                                          LPBOOL lpUsedDefaultChar)
{
    if (CallFails("WideCharToMultiByte"))
    {
        return 0;
    }
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 || (!lpMultiByteStr && cbMultiByte) ||
        (const void *)lpMultiByteStr == (const void *)lpWideCharStr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t cch = cchWideChar == -1 ? WLen(lpWideCharStr) + 1 : (size_t)cchWideChar;
    WStringView src(lpWideCharStr, cch);
    std::string out;
    if (IsAnsiCodePage(CodePage))
    {
        const DWORD dwUnsupported = 0x10 | 0x20 | 0x40 | 0x200; // discard, sepchars, defaultchar, compositecheck
        if (dwFlags & ~(DWORD)(WC_NO_BEST_FIT_CHARS | dwUnsupported))
        {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
        if (dwFlags & dwUnsupported)
        {
            SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return 0;
        }
        // No best-fit mapping: what 1252 lacks becomes the default character.
        char chDefault = lpDefaultChar ? *lpDefaultChar : '?';
        bool bUsed = false;
        out.resize(src.size());
        for (size_t i = 0; i < src.size(); i++)
        {
            int c = WideCharToAnsi(src[i]);
            if (c < 0)
            {
                c = (unsigned char)chDefault;
                bUsed = true;
            }
            out[i] = (char)c;
        }
        if (lpUsedDefaultChar)
        {
            *lpUsedDefaultChar = bUsed ? TRUE : FALSE;
        }
    }
    else if (CodePage == CP_UTF8)
    {
        const DWORD WC_ERR_INVALID_CHARS_ = 0x80;
        if (dwFlags & ~WC_ERR_INVALID_CHARS_)
        {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
        if (lpDefaultChar || lpUsedDefaultChar)
        {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        bool bInvalid = false;
        out = EncodeUtf8(src, &bInvalid);
        if (bInvalid && (dwFlags & WC_ERR_INVALID_CHARS_))
        {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
        if (cbMultiByte && out.size() > (size_t)cbMultiByte)
        {
            size_t n = Utf8Prefix(out, (size_t)cbMultiByte);
            memcpy(lpMultiByteStr, out.data(), n);
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
    }
    else
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cbMultiByte == 0)
    {
        return (int)out.size();
    }
    if (out.size() > (size_t)cbMultiByte)
    {
        memcpy(lpMultiByteStr, out.data(), (size_t)cbMultiByte);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpMultiByteStr, out.data(), out.size());
    return (int)out.size();
}

// ---- lstr* ---------------------------------------------------------------------
// NULL arguments give NULL or 0 instead of a crash: Windows catches the
// access violation in these functions and returns the same.

WINBASEAPI int WINAPI lstrlenW(LPCWSTR lpString)
{
    return (int)WLen(lpString);
}

WINBASEAPI int WINAPI lstrlenA(LPCSTR lpString)
{
    return lpString ? (int)strlen(lpString) : 0;
}

WINBASEAPI LPWSTR WINAPI lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2)
{
    if (!lpString1 || !lpString2)
    {
        return nullptr;
    }
    memmove(lpString1, lpString2, (WLen(lpString2) + 1) * sizeof(WCHAR));
    return lpString1;
}

WINBASEAPI LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2)
{
    if (!lpString1 || !lpString2)
    {
        return nullptr;
    }
    memmove(lpString1, lpString2, strlen(lpString2) + 1);
    return lpString1;
}

// Copies at most iMaxLength - 1 characters and always terminates. A size of
// 0 or less writes nothing (a negative size would be an unbounded copy on
// Windows; here it is refused).
template <typename C>
static C *CopyN(C *pDst, const C *pSrc, int iMaxLength)
{
    if (!pDst || !pSrc)
    {
        return nullptr;
    }
    if (iMaxLength <= 0)
    {
        return pDst;
    }
    int i = 0;
    for (; i < iMaxLength - 1 && pSrc[i]; i++)
    {
        pDst[i] = pSrc[i];
    }
    pDst[i] = 0;
    return pDst;
}

WINBASEAPI LPWSTR WINAPI lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength)
{
    return CopyN(lpString1, lpString2, iMaxLength);
}

WINBASEAPI LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength)
{
    return CopyN(lpString1, lpString2, iMaxLength);
}

WINBASEAPI LPWSTR WINAPI lstrcatW(LPWSTR lpString1, LPCWSTR lpString2)
{
    if (!lpString1 || !lpString2)
    {
        return nullptr;
    }
    lstrcpyW(lpString1 + WLen(lpString1), lpString2);
    return lpString1;
}

WINBASEAPI LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2)
{
    if (!lpString1 || !lpString2)
    {
        return nullptr;
    }
    lstrcpyA(lpString1 + strlen(lpString1), lpString2);
    return lpString1;
}

// NULL sorts before every string, as on Windows.
static int CompareNullable(const void *a, const void *b, int *pResult)
{
    if (a && b)
    {
        return 0;
    }
    *pResult = (a == b) ? 0 : (a ? 1 : -1);
    return 1;
}

WINBASEAPI int WINAPI lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2)
{
    int r;
    if (CompareNullable(lpString1, lpString2, &r))
    {
        return r;
    }
    return CompareOrdinal(lpString1, lpString2, false);
}

WINBASEAPI int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2)
{
    int r;
    if (CompareNullable(lpString1, lpString2, &r))
    {
        return r;
    }
    return CompareOrdinal(lpString1, lpString2, true);
}

WINBASEAPI int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2)
{
    int r;
    if (CompareNullable(lpString1, lpString2, &r))
    {
        return r;
    }
    return CompareOrdinal(AnsiToWide(lpString1), AnsiToWide(lpString2), false);
}

WINBASEAPI int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2)
{
    int r;
    if (CompareNullable(lpString1, lpString2, &r))
    {
        return r;
    }
    return CompareOrdinal(AnsiToWide(lpString1), AnsiToWide(lpString2), true);
}
