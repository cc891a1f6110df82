// Profile (.ini) files: read on every call, rewritten line by line so that
// lines the call does not touch stay byte for byte as they were. New lines
// end in CRLF; files are ANSI (1252) text, or UTF-16LE when they begin with
// its byte-order mark, as Windows reads and writes them.
#include "internal.h"

namespace w32emu
{
namespace
{

struct Line
{
    WString text; // without the line end
    WString eol;  // "\r\n", "\n", "\r" or "" (last line)
};

struct Profile
{
    bool bUnicode = false;
    std::vector<Line> lines;
};

bool IsBlank(WCHAR c)
{
    return c == u' ' || c == u'\t';
}

WString Trim(WStringView s)
{
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
    {
        b++;
    }
    while (e > b && IsBlank(s[e - 1]))
    {
        e--;
    }
    return WString(s.substr(b, e - b));
}

Profile Parse(const std::string &bytes)
{
    Profile p;
    WString text;
    if (bytes.size() >= 2 && (unsigned char)bytes[0] == 0xFF && (unsigned char)bytes[1] == 0xFE)
    {
        p.bUnicode = true;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        {
            text += (WCHAR)((unsigned char)bytes[i] | ((unsigned char)bytes[i + 1] << 8));
        }
    }
    else
    {
        text = AnsiToWide(bytes);
    }
    size_t i = 0;
    while (i < text.size())
    {
        size_t e = text.find_first_of(u"\r\n", i);
        Line l;
        if (e == WString::npos)
        {
            l.text = text.substr(i);
            i = text.size();
        }
        else
        {
            l.text = text.substr(i, e - i);
            size_t cEol = (text[e] == u'\r' && e + 1 < text.size() && text[e + 1] == u'\n') ? 2 : 1;
            l.eol = text.substr(e, cEol);
            i = e + cEol;
        }
        p.lines.push_back(l);
    }
    return p;
}

std::string Serialise(const Profile &p)
{
    WString text;
    for (const Line &l : p.lines)
    {
        text += l.text;
        text += l.eol;
    }
    if (!p.bUnicode)
    {
        return WideToAnsi(text);
    }
    std::string bytes = "\xFF\xFE";
    for (WCHAR c : text)
    {
        bytes += (char)(c & 0xFF);
        bytes += (char)(c >> 8);
    }
    return bytes;
}

// The section name of a "[name]" line.
bool SectionOf(const Line &l, WString &name)
{
    WString t = Trim(l.text);
    if (t.empty() || t[0] != u'[')
    {
        return false;
    }
    size_t e = t.find(u']');
    name = Trim(WStringView(t).substr(1, e == WString::npos ? WString::npos : e - 1));
    return true;
}

// The key and value of a "key=value" line.
bool EntryOf(const Line &l, WString &key, WString &value)
{
    size_t eq = l.text.find(u'=');
    if (eq == WString::npos)
    {
        return false;
    }
    key = Trim(WStringView(l.text).substr(0, eq));
    value = Trim(WStringView(l.text).substr(eq + 1));
    return true;
}

// The line of the section's header (the first section of that name) and
// the end of its body, or false.
bool FindSection(const Profile &p, WStringView section, size_t *pHeader, size_t *pEnd)
{
    WString name;
    for (size_t i = 0; i < p.lines.size(); i++)
    {
        if (SectionOf(p.lines[i], name) && EqualNoCase(name, section))
        {
            size_t e = i + 1;
            while (e < p.lines.size() && !SectionOf(p.lines[e], name))
            {
                e++;
            }
            *pHeader = i;
            *pEnd = e;
            return true;
        }
    }
    return false;
}

bool FindKey(const Profile &p, size_t begin, size_t end, WStringView key, size_t *pLine, WString *pValue)
{
    WString k, v;
    for (size_t i = begin; i < end; i++)
    {
        if (EntryOf(p.lines[i], k, v) && EqualNoCase(k, key))
        {
            *pLine = i;
            if (pValue)
            {
                *pValue = v;
            }
            return true;
        }
    }
    return false;
}

// A name without a directory is a file of the Windows directory.
WString ProfilePath(LPCWSTR pszFile)
{
    WString file = pszFile ? WString(pszFile) : WString(u"win.ini");
    if (file.find_first_of(u"\\/") == WString::npos)
    {
        return WindowsDir() + u"\\" + file;
    }
    return file;
}

// Reads and parses a profile file. FALSE with the error of the open when
// it cannot be read.
bool Load(const WString &path, Profile &p)
{
    HANDLE h = CreateFileInternal(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
    {
        return false;
    }
    std::string bytes;
    bool bOk = ReadWholeFile(h, bytes);
    CloseInternal(h);
    if (bOk)
    {
        p = Parse(bytes);
    }
    return bOk;
}

// The value (blanks around it and one pair of enclosing quotes removed), or
// the default (trailing blanks removed). Sets ERROR_FILE_NOT_FOUND when the
// default is taken.
void GetValue(LPCWSTR pszSection, LPCWSTR pszKey, LPCWSTR pszDefault, LPCWSTR pszFile, WString &out)
{
    ErrorKeeper keep;
    Profile p;
    size_t header, end, line;
    WString value;
    bool bLoaded = Load(ProfilePath(pszFile), p);
    if (bLoaded && FindSection(p, pszSection, &header, &end) && FindKey(p, header + 1, end, pszKey, &line, &value))
    {
        if (value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') && value.back() == value[0])
        {
            value = value.substr(1, value.size() - 2);
        }
        out = value;
        keep.Restore();
        return;
    }
    out = pszDefault ? WString(pszDefault) : WString();
    while (!out.empty() && IsBlank(out.back()))
    {
        out.pop_back();
    }
    if (bLoaded)
    {
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
}

BOOL WriteValue(LPCWSTR pszSection, LPCWSTR pszKey, LPCWSTR pszString, LPCWSTR pszFile)
{
    if (!pszSection)
    {
        // All NULL asks to flush the cache, which this layer does not keep.
        if (!pszKey && !pszString)
        {
            return TRUE;
        }
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ErrorKeeper keep;
    WString path = ProfilePath(pszFile);
    Profile p;
    if (!Load(path, p) && GetLastError() != ERROR_FILE_NOT_FOUND)
    {
        return FALSE;
    }
    const WString crlf = u"\r\n";
    size_t header, end, line;
    bool bSection = FindSection(p, pszSection, &header, &end);
    if (!pszKey)
    {
        if (!bSection)
        {
            keep.Restore();
            return TRUE;
        }
        p.lines.erase(p.lines.begin() + (ptrdiff_t)header, p.lines.begin() + (ptrdiff_t)end);
    }
    else if (!pszString)
    {
        if (!bSection || !FindKey(p, header + 1, end, pszKey, &line, nullptr))
        {
            keep.Restore();
            return TRUE;
        }
        p.lines.erase(p.lines.begin() + (ptrdiff_t)line);
    }
    else if (bSection && FindKey(p, header + 1, end, pszKey, &line, nullptr))
    {
        WString key, value;
        EntryOf(p.lines[line], key, value);
        p.lines[line].text = key + u"=" + pszString;
    }
    else
    {
        Line entry{WString(pszKey) + u"=" + pszString, crlf};
        size_t at;
        if (bSection)
        {
            // After the section's last non-blank line.
            at = end;
            while (at > header + 1 && Trim(p.lines[at - 1].text).empty())
            {
                at--;
            }
        }
        else
        {
            at = p.lines.size();
            p.lines.push_back(Line{u"[" + WString(pszSection) + u"]", crlf});
            at++;
        }
        if (at > 0 && p.lines[at - 1].eol.empty())
        {
            p.lines[at - 1].eol = crlf;
        }
        if (!bSection && at >= 2 && p.lines[at - 2].eol.empty())
        {
            p.lines[at - 2].eol = crlf;
        }
        p.lines.insert(p.lines.begin() + (ptrdiff_t)at, entry);
    }
    std::string bytes = Serialise(p);
    HANDLE h = CreateFileInternal(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
    {
        return FALSE;
    }
    bool bOk = WriteAllInternal(h, bytes.data(), bytes.size());
    CloseInternal(h);
    if (bOk)
    {
        keep.Restore();
    }
    return bOk ? TRUE : FALSE;
}

template <typename C>
DWORD CopyTruncated(const std::basic_string<C> &s, C *pOut, DWORD nSize)
{
    size_t n = s.size() < (size_t)nSize - 1 ? s.size() : (size_t)nSize - 1;
    memcpy(pOut, s.data(), n * sizeof(C));
    pOut[n] = 0;
    return (DWORD)n;
}

} // namespace
} // namespace w32emu

using namespace w32emu;

WINBASEAPI DWORD WINAPI GetPrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpDefault,
                                                 LPWSTR lpReturnedString, DWORD nSize, LPCWSTR lpFileName)
{
    if (CallFails("GetPrivateProfileStringW"))
    {
        if (lpReturnedString && nSize)
        {
            lpReturnedString[0] = 0;
        }
        return 0;
    }
    if (!lpReturnedString || !nSize)
    {
        return 0;
    }
    if (!lpAppName || !lpKeyName)
    {
        // Enumerating sections or keys is not emulated.
        lpReturnedString[0] = 0;
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    WString value;
    GetValue(lpAppName, lpKeyName, lpDefault, lpFileName, value);
    return CopyTruncated(value, lpReturnedString, nSize);
}

WINBASEAPI DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                                 LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName)
{
    if (CallFails("GetPrivateProfileStringA"))
    {
        if (lpReturnedString && nSize)
        {
            lpReturnedString[0] = 0;
        }
        return 0;
    }
    if (!lpReturnedString || !nSize)
    {
        return 0;
    }
    if (!lpAppName || !lpKeyName)
    {
        lpReturnedString[0] = 0;
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    WString app = AnsiToWide(lpAppName), key = AnsiToWide(lpKeyName);
    WString def = lpDefault ? AnsiToWide(lpDefault) : WString();
    WString file = lpFileName ? AnsiToWide(lpFileName) : WString();
    WString value;
    GetValue(app.c_str(), key.c_str(), lpDefault ? def.c_str() : nullptr, lpFileName ? file.c_str() : nullptr, value);
    return CopyTruncated(WideToAnsi(value), lpReturnedString, nSize);
}

WINBASEAPI BOOL WINAPI WritePrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpString,
                                                  LPCWSTR lpFileName)
{
    if (CallFails("WritePrivateProfileStringW"))
    {
        return FALSE;
    }
    return WriteValue(lpAppName, lpKeyName, lpString, lpFileName);
}

WINBASEAPI BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                                  LPCSTR lpFileName)
{
    if (CallFails("WritePrivateProfileStringA"))
    {
        return FALSE;
    }
    WString app, key, str, file;
    if (lpAppName)
    {
        app = AnsiToWide(lpAppName);
    }
    if (lpKeyName)
    {
        key = AnsiToWide(lpKeyName);
    }
    if (lpString)
    {
        str = AnsiToWide(lpString);
    }
    if (lpFileName)
    {
        file = AnsiToWide(lpFileName);
    }
    return WriteValue(lpAppName ? app.c_str() : nullptr, lpKeyName ? key.c_str() : nullptr,
                      lpString ? str.c_str() : nullptr, lpFileName ? file.c_str() : nullptr);
}
