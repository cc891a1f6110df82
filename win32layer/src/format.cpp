// wsprintfW/A: the formatter of user32, which is not the C library's printf.
// It knows fewer conversions (no '+', ' ', '*', no floating point), swaps the
// meaning of %s and %S between its W and A forms, and writes at most 1024
// characters. Details below follow what the Windows test platform shows.
#include "internal.h"

#include <climits>

namespace w32emu
{
namespace
{

const size_t CCH_WSPRINTF_MAX = 1024; // terminator included

template <typename C>
class Output
{
  public:
    explicit Output(C *p) : m_p(p)
    {
    }
    void Put(C c)
    {
        if (m_n < CCH_WSPRINTF_MAX - 1)
        {
            m_p[m_n++] = c;
        }
    }
    void Repeat(C c, long n)
    {
        for (; n > 0 && m_n < CCH_WSPRINTF_MAX - 1; n--)
        {
            Put(c);
        }
    }
    void PutAscii(const char *s)
    {
        for (; *s; s++)
        {
            Put((C)*s);
        }
    }
    int Finish()
    {
        m_p[m_n] = 0;
        return (int)m_n;
    }

  private:
    C *m_p;
    size_t m_n = 0;
};

struct Conversion
{
    bool bLeft = false;
    bool bPrefix = false;
    bool bZero = false;
    long width = 0;
    long precision = -1;
    enum
    {
        SIZE_NONE,
        SIZE_SHORT,
        SIZE_LONG,
        SIZE_I64
    } size = SIZE_NONE;
};

// The string argument of %s/%S/%c/%C in the output's character type.
template <typename C>
std::basic_string<C> FromNarrow(std::string_view s);
template <>
std::string FromNarrow<char>(std::string_view s)
{
    return std::string(s);
}
template <>
WString FromNarrow<WCHAR>(std::string_view s)
{
    return AnsiToWide(s);
}
template <typename C>
std::basic_string<C> FromWide(WStringView s);
template <>
std::string FromWide<char>(WStringView s)
{
    return WideToAnsi(s);
}
template <>
WString FromWide<WCHAR>(WStringView s)
{
    return WString(s);
}

template <typename C>
void PutPadded(Output<C> &out, const Conversion &conv, const std::basic_string<C> &s)
{
    long pad = conv.width - (long)s.size();
    if (!conv.bLeft)
    {
        out.Repeat((C)' ', pad);
    }
    for (C c : s)
    {
        out.Put(c);
    }
    if (conv.bLeft)
    {
        out.Repeat((C)' ', pad);
    }
}

template <typename C>
void PutNumber(Output<C> &out, const Conversion &conv, bool bNegative, unsigned long long magnitude, unsigned base,
               bool bUpper)
{
    char digits[32];
    int n = 0;
    const char *pszDigits = bUpper ? "0123456789ABCDEF" : "0123456789abcdef";
    do
    {
        digits[n++] = pszDigits[magnitude % base];
        magnitude /= base;
    } while (magnitude);
    long cDigits = n > conv.precision ? n : conv.precision;
    // The width counts the sign and the digits; the "0x" of '#' stands
    // outside it ("%#08x" of 0x1f is "0x0000001f").
    long len = cDigits + (bNegative ? 1 : 0);
    long pad = conv.width > len ? conv.width - len : 0;
    bool bHexPrefix = conv.bPrefix && base == 16;
    if (!conv.bLeft && !conv.bZero)
    {
        out.Repeat((C)' ', pad);
    }
    if (bHexPrefix)
    {
        out.Put((C)'0');
        out.Put((C)(bUpper ? 'X' : 'x'));
    }
    if (bNegative)
    {
        out.Put((C)'-');
    }
    if (!conv.bLeft && conv.bZero)
    {
        out.Repeat((C)'0', pad);
    }
    out.Repeat((C)'0', cDigits - n);
    while (n > 0)
    {
        out.Put((C)digits[--n]);
    }
    if (conv.bLeft)
    {
        out.Repeat((C)' ', pad);
    }
}

long ParseCount(const void *pv, size_t cbChar, size_t *pi)
{
    long v = 0;
    for (;;)
    {
        unsigned c = cbChar == 1 ? ((const unsigned char *)pv)[*pi] : ((const WCHAR *)pv)[*pi];
        if (c < '0' || c > '9')
        {
            return v;
        }
        if (v < (long)CCH_WSPRINTF_MAX)
        {
            v = v * 10 + (long)(c - '0');
        }
        (*pi)++;
    }
}

template <typename C>
int Format(C *pOut, const C *pFmt, va_list ap)
{
    const bool bWideOut = sizeof(C) == sizeof(WCHAR);
    Output<C> out(pOut);
    size_t i = 0;
    while (pFmt[i])
    {
        if (pFmt[i] != (C)'%')
        {
            out.Put(pFmt[i++]);
            continue;
        }
        i++;
        if (pFmt[i] == (C)'%')
        {
            out.Put((C)'%');
            i++;
            continue;
        }
        Conversion conv;
        for (;; i++)
        {
            if (pFmt[i] == (C)'-')
            {
                conv.bLeft = true;
            }
            else if (pFmt[i] == (C)'#')
            {
                conv.bPrefix = true;
            }
            else if (pFmt[i] == (C)'0')
            {
                conv.bZero = true;
            }
            else
            {
                break;
            }
        }
        conv.width = ParseCount(pFmt, sizeof(C), &i);
        if (pFmt[i] == (C)'.')
        {
            i++;
            conv.precision = ParseCount(pFmt, sizeof(C), &i);
        }
        if (pFmt[i] == (C)'h')
        {
            conv.size = Conversion::SIZE_SHORT;
            i++;
        }
        else if (pFmt[i] == (C)'l' || pFmt[i] == (C)'w')
        {
            conv.size = Conversion::SIZE_LONG;
            i++;
        }
        else if (pFmt[i] == (C)'I' && pFmt[i + 1] == (C)'6' && pFmt[i + 2] == (C)'4')
        {
            conv.size = Conversion::SIZE_I64;
            i += 3;
        }
        C type = pFmt[i];
        if (!type)
        {
            break;
        }
        i++;
        switch (type)
        {
        case 'c':
        case 'C': {
            // %c is the output's own character type, %C the other; h and l
            // name 8-bit and wide explicitly.
            bool bWideArg = conv.size == Conversion::SIZE_LONG    ? true
                            : conv.size == Conversion::SIZE_SHORT ? false
                                                                  : ((type == 'c') == bWideOut);
            int ch = va_arg(ap, int);
            std::basic_string<C> s;
            if (bWideArg)
            {
                WCHAR w = (WCHAR)ch;
                s = FromWide<C>(WStringView(&w, 1));
            }
            else
            {
                char a = (char)ch;
                s = FromNarrow<C>(std::string_view(&a, 1));
            }
            PutPadded(out, conv, s);
            break;
        }
        case 's':
        case 'S': {
            bool bWideArg = conv.size == Conversion::SIZE_LONG    ? true
                            : conv.size == Conversion::SIZE_SHORT ? false
                                                                  : ((type == 's') == bWideOut);
            std::basic_string<C> s;
            size_t cchMax = conv.precision >= 0 ? (size_t)conv.precision : CCH_WSPRINTF_MAX;
            if (bWideArg)
            {
                LPCWSTR p = va_arg(ap, LPCWSTR);
                if (!p)
                {
                    p = u"(null)";
                }
                size_t n = 0;
                while (n < cchMax && p[n])
                {
                    n++;
                }
                s = FromWide<C>(WStringView(p, n));
            }
            else
            {
                LPCSTR p = va_arg(ap, LPCSTR);
                if (!p)
                {
                    p = "(null)";
                }
                size_t n = 0;
                while (n < cchMax && p[n])
                {
                    n++;
                }
                s = FromNarrow<C>(std::string_view(p, n));
            }
            PutPadded(out, conv, s);
            break;
        }
        case 'd':
        case 'i': {
            long long v = conv.size == Conversion::SIZE_I64 ? va_arg(ap, long long) : (long long)va_arg(ap, int);
            unsigned long long mag = v < 0 ? 0ULL - (unsigned long long)v : (unsigned long long)v;
            PutNumber(out, conv, v < 0, mag, 10, false);
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            // LONG and DWORD are 32 bits: 'l' reads the same int-sized argument.
            unsigned long long v = conv.size == Conversion::SIZE_I64 ? va_arg(ap, unsigned long long)
                                                                     : (unsigned long long)va_arg(ap, unsigned int);
            PutNumber(out, conv, false, v, type == 'u' ? 10 : 16, type == 'X');
            break;
        }
        case 'p': {
            Conversion pc = conv;
            pc.precision = (long)(2 * sizeof(void *));
            pc.bPrefix = false;
            PutNumber(out, pc, false, (unsigned long long)(uintptr_t)va_arg(ap, void *), 16, true);
            break;
        }
        default:
            // An unknown conversion prints its letter and takes no argument.
            out.Put(type);
            break;
        }
    }
    return out.Finish();
}

} // namespace
} // namespace w32emu

using namespace w32emu;

WINBASEAPI int WINAPI wvsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, va_list arglist)
{
    if (!lpOut || !lpFmt)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return Format<WCHAR>(lpOut, lpFmt, arglist);
}

WINBASEAPI int WINAPI wvsprintfA(LPSTR lpOut, LPCSTR lpFmt, va_list arglist)
{
    if (!lpOut || !lpFmt)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return Format<char>(lpOut, lpFmt, arglist);
}

WINBASEAPI int WINAPIV wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...)
{
    va_list ap;
    va_start(ap, lpFmt);
    int n = wvsprintfW(lpOut, lpFmt, ap);
    va_end(ap);
    return n;
}

WINBASEAPI int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...)
{
    va_list ap;
    va_start(ap, lpFmt);
    int n = wvsprintfA(lpOut, lpFmt, ap);
    va_end(ap);
    return n;
}
