// Windows paths on the host: C:\ is a host directory, Z:\ is the host's /.
// Names are matched case-insensitively (ASCII), as on a Windows volume; new
// files keep the case they are given.
#include "internal.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace w32emu
{
namespace
{

struct PathState
{
    std::string root; // empty: not yet chosen
    WString windowsDir = u"C:\\WINDOWS";
};

PathState &Paths()
{
    static PathState &s = *new PathState;
    return s;
}

std::string CurrentDirectory()
{
    std::string s(PATH_MAX, '\0');
    if (!getcwd(&s[0], s.size()))
    {
        return "/";
    }
    s.resize(strlen(s.c_str()));
    return s;
}

// An absolute host directory without a trailing slash ("/" stays "/").
std::string NormaliseHostDir(const char *psz)
{
    std::string s = psz;
    if (s.empty() || s[0] != '/')
    {
        std::string cwd = CurrentDirectory();
        s = cwd + (cwd == "/" ? "" : "/") + s;
    }
    s = std::filesystem::path(s).lexically_normal().string();
    while (s.size() > 1 && s.back() == '/')
    {
        s.pop_back();
    }
    return s;
}

std::string DefaultRoot()
{
    const char *psz = getenv("W32EMU_ROOT");
    return NormaliseHostDir(psz && *psz ? psz : ".");
}

bool IsSeparator(WCHAR c)
{
    return c == u'\\' || c == u'/';
}

bool IsInvalidNameChar(WCHAR c, bool bWildcardsAllowed)
{
    if (c < 0x20)
    {
        return true;
    }
    switch (c)
    {
    case u'<':
    case u'>':
    case u':':
    case u'"':
    case u'|':
        return true;
    case u'*':
    case u'?':
        return !bWildcardsAllowed;
    default:
        return false;
    }
}

bool AsciiEqualNoCase(const std::string &a, const char *b)
{
    size_t n = strlen(b);
    if (a.size() != n)
    {
        return false;
    }
    for (size_t i = 0; i < n; i++)
    {
        unsigned char x = (unsigned char)a[i];
        unsigned char y = (unsigned char)b[i];
        if (x >= 'a' && x <= 'z')
        {
            x -= 0x20;
        }
        if (y >= 'a' && y <= 'z')
        {
            y -= 0x20;
        }
        if (x != y)
        {
            return false;
        }
    }
    return true;
}

std::string Join(const std::string &dir, const std::string &name)
{
    return dir == "/" ? "/" + name : dir + "/" + name;
}

// The entry of a directory whose name matches case-insensitively; the first
// in byte order when several differ only in case, so the choice is stable.
bool FindNoCase(const std::string &dir, const std::string &name, std::string &found)
{
    DIR *d = opendir(dir.c_str());
    if (!d)
    {
        return false;
    }
    bool bFound = false;
    while (struct dirent *e = readdir(d))
    {
        if (AsciiEqualNoCase(name, e->d_name) && (!bFound || strcmp(e->d_name, found.c_str()) < 0))
        {
            found = e->d_name;
            bFound = true;
        }
    }
    closedir(d);
    return bFound;
}

} // namespace

std::string Root()
{
    StateLock lock(StateMutex());
    PathState &p = Paths();
    if (p.root.empty())
    {
        p.root = DefaultRoot();
    }
    return p.root;
}

WString WindowsDir()
{
    StateLock lock(StateMutex());
    return Paths().windowsDir;
}

WString WinPath::Full() const
{
    WString s;
    s += chDrive;
    s += u":\\";
    for (size_t i = 0; i < components.size(); i++)
    {
        if (i)
        {
            s += u'\\';
        }
        s += components[i];
    }
    return s;
}

DWORD ParseWinPath(LPCWSTR psz, unsigned flags, WinPath &out)
{
    out = WinPath();
    if (!psz || !*psz)
    {
        return ERROR_PATH_NOT_FOUND;
    }
    const WCHAR *p = psz;
    if (IsSeparator(p[0]) && IsSeparator(p[1]))
    {
        // \\server\share, \\?\ and \\.\ are not emulated.
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    if (p[0] && p[1] == u':')
    {
        WCHAR d = FoldCase(p[0]);
        if (d < u'A' || d > u'Z')
        {
            return ERROR_INVALID_NAME;
        }
        out.chDrive = d;
        if (d != u'C' && d != u'Z')
        {
            return ERROR_PATH_NOT_FOUND; // no such drive
        }
        p += 2;
    }
    // Without a drive, or with "C:" and no separator: relative to the
    // current directory, which is C:\ here.
    WString comp;
    std::vector<WString> raw;
    for (;; p++)
    {
        if (!*p || IsSeparator(*p))
        {
            if (!comp.empty())
            {
                raw.push_back(comp);
                comp.clear();
            }
            if (!*p)
            {
                break;
            }
            continue;
        }
        comp += *p;
    }
    size_t len = WLen(psz);
    out.bTrailingSeparator = len > 0 && IsSeparator(psz[len - 1]) && !raw.empty();
    for (size_t i = 0; i < raw.size(); i++)
    {
        WString &c = raw[i];
        bool bLast = i + 1 == raw.size();
        if (c == u".")
        {
            continue;
        }
        if (c == u"..")
        {
            if (!out.components.empty())
            {
                out.components.pop_back();
            }
            continue;
        }
        if (bLast && !out.bTrailingSeparator)
        {
            // Windows drops trailing dots and spaces of the last component:
            // "file.txt." is "file.txt".
            while (!c.empty() && (c.back() == u'.' || c.back() == u' '))
            {
                c.pop_back();
            }
            if (c.empty())
            {
                continue;
            }
        }
        bool bWild = bLast && (flags & PATH_WILDCARDS_IN_LAST);
        for (WCHAR ch : c)
        {
            if (IsInvalidNameChar(ch, bWild))
            {
                return ERROR_INVALID_NAME;
            }
        }
        out.components.push_back(c);
    }
    return 0;
}

DWORD HostPath::MissingError() const
{
    return bParentIsDir ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

DWORD ResolveWinPath(const WinPath &win, HostPath &out)
{
    out = HostPath();
    out.win = win;
    std::string cur = win.chDrive == u'Z' ? std::string("/") : Root();
    struct stat st = {};
    bool bCurExists = stat(cur.c_str(), &st) == 0;
    bool bCurIsDir = bCurExists && S_ISDIR(st.st_mode);
    size_t n = win.components.size();
    size_t i = 0;
    for (; i < n; i++)
    {
        std::string name = WideToUtf8(win.components[i]);
        if (!bCurIsDir)
        {
            break;
        }
        std::string next = Join(cur, name);
        if (stat(next.c_str(), &st) != 0)
        {
            std::string found;
            if (!FindNoCase(cur, name, found))
            {
                break;
            }
            next = Join(cur, found);
            if (stat(next.c_str(), &st) != 0)
            {
                break;
            }
        }
        cur = next;
        bCurIsDir = S_ISDIR(st.st_mode);
    }
    if (i == n)
    {
        out.bExists = n > 0 || bCurExists;
        out.bParentIsDir = true;
        out.st = st;
        out.host = cur;
        if (out.bExists && win.bTrailingSeparator && !S_ISDIR(st.st_mode))
        {
            out.bTrailingOnFile = true;
            out.bParentIsDir = false;
        }
        return 0;
    }
    out.bParentIsDir = i + 1 == n && bCurIsDir;
    for (; i < n; i++)
    {
        cur = Join(cur, WideToUtf8(win.components[i]));
    }
    out.host = cur;
    return 0;
}

DWORD ResolvePath(LPCWSTR psz, unsigned flags, HostPath &out)
{
    WinPath win;
    DWORD dwError = ParseWinPath(psz, flags, win);
    if (dwError)
    {
        out = HostPath();
        return dwError;
    }
    return ResolveWinPath(win, out);
}

bool IsReadOnly(const struct stat &st)
{
    return !S_ISDIR(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

DWORD AttributesOf(const struct stat &st)
{
    if (S_ISDIR(st.st_mode))
    {
        return FILE_ATTRIBUTE_DIRECTORY;
    }
    return FILE_ATTRIBUTE_ARCHIVE | (IsReadOnly(st) ? FILE_ATTRIBUTE_READONLY : 0);
}

FILETIME FileTimeOf(const struct timespec &ts)
{
    // 100-nanosecond intervals since 1601-01-01.
    uint64_t t = ((uint64_t)ts.tv_sec + 11644473600ULL) * 10000000ULL + (uint64_t)ts.tv_nsec / 100;
    FILETIME ft;
    ft.dwLowDateTime = (DWORD)t;
    ft.dwHighDateTime = (DWORD)(t >> 32);
    return ft;
}

DWORD ErrnoToError(int err)
{
    switch (err)
    {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY:
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    case EXDEV:
        return ERROR_NOT_SAME_DEVICE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// Copies a string under the Windows rules for directory queries: the length
// without terminator when it fits, else the size needed with terminator and
// nothing written.
template <typename C>
static UINT CopyOut(const std::basic_string<C> &s, C *pBuffer, UINT cch)
{
    if (!pBuffer || cch <= s.size())
    {
        return (UINT)s.size() + 1;
    }
    memcpy(pBuffer, s.c_str(), (s.size() + 1) * sizeof(C));
    return (UINT)s.size();
}

static UINT CopyOutW(const WString &s, LPWSTR pBuffer, UINT cch)
{
    return CopyOut(s, pBuffer, cch);
}

static UINT CopyOutA(const WString &s, LPSTR pBuffer, UINT cch)
{
    return CopyOut(WideToAnsi(s), pBuffer, cch);
}

} // namespace w32emu

using namespace w32emu;

W32EMU_API void W32EmuSetRoot(const char *pszHostDir)
{
    StateLock lock(StateMutex());
    Paths().root = pszHostDir && *pszHostDir ? NormaliseHostDir(pszHostDir) : DefaultRoot();
}

W32EMU_API const char *W32EmuGetRoot(void)
{
    StateLock lock(StateMutex());
    Root();
    return Paths().root.c_str();
}

W32EMU_API void W32EmuSetWindowsDir(LPCWSTR pszWinPath)
{
    StateLock lock(StateMutex());
    WinPath win;
    if (!pszWinPath)
    {
        Paths().windowsDir = u"C:\\WINDOWS";
    }
    else if (ParseWinPath(pszWinPath, 0, win) == 0)
    {
        Paths().windowsDir = win.Full();
    }
    else
    {
        SetLastError(ERROR_INVALID_NAME);
    }
}

W32EMU_API BOOL W32EmuToHostPath(LPCWSTR pszWinPath, char *pszHost, size_t cbHost)
{
    HostPath hp;
    DWORD dwError = ResolvePath(pszWinPath, 0, hp);
    if (dwError)
    {
        // Another drive, or a form the layer does not map.
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    if (!pszHost || cbHost <= hp.host.size())
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(pszHost, hp.host.c_str(), hp.host.size() + 1);
    return TRUE;
}

W32EMU_API BOOL W32EmuToHostPathA(LPCSTR pszWinPath, char *pszHost, size_t cbHost)
{
    if (!pszWinPath)
    {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    return W32EmuToHostPath(AnsiToWide(pszWinPath).c_str(), pszHost, cbHost);
}

WINBASEAPI UINT WINAPI GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize)
{
    if (CallFails("GetWindowsDirectoryW"))
    {
        return 0;
    }
    return CopyOutW(WindowsDir(), lpBuffer, uSize);
}

WINBASEAPI UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    if (CallFails("GetWindowsDirectoryA"))
    {
        return 0;
    }
    return CopyOutA(WindowsDir(), lpBuffer, uSize);
}

WINBASEAPI UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize)
{
    if (CallFails("GetSystemDirectoryW"))
    {
        return 0;
    }
    return CopyOutW(WindowsDir() + u"\\system32", lpBuffer, uSize);
}

WINBASEAPI UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    if (CallFails("GetSystemDirectoryA"))
    {
        return 0;
    }
    return CopyOutA(WindowsDir() + u"\\system32", lpBuffer, uSize);
}

// C:\TEMP\, made on the host when missing, as a real system always has it.
static WString TempPath()
{
    const WString path = u"C:\\TEMP\\";
    HostPath hp;
    if (ResolvePath(path.c_str(), 0, hp) == 0 && !hp.bExists && hp.bParentIsDir)
    {
        mkdir(hp.host.c_str(), 0777);
    }
    return path;
}

WINBASEAPI DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer)
{
    if (CallFails("GetTempPathW"))
    {
        return 0;
    }
    return CopyOutW(TempPath(), lpBuffer, nBufferLength);
}

WINBASEAPI DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer)
{
    if (CallFails("GetTempPathA"))
    {
        return 0;
    }
    return CopyOutA(TempPath(), lpBuffer, nBufferLength);
}
