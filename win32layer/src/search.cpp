// Finding files: FindFirstFileA/FindNextFileA over a directory listing taken
// when the search starts, and SearchPathA along a given search path.
#include "internal.h"

#include <dirent.h>

#include <algorithm>

namespace w32emu
{
namespace
{

struct FindEntry
{
    WString name;
    struct stat st;
};

struct FindObject : KernelObject
{
    FindObject() : KernelObject(HandleKind::Find)
    {
    }
    std::vector<FindEntry> entries;
    size_t next = 0;
};

// '*' matches any run, '?' one character; ASCII letters match either case.
// "*.*" matches every name, as on Windows.
bool Matches(const WString &pattern, const WString &name)
{
    if (pattern == u"*.*")
    {
        return true;
    }
    size_t p = 0, n = 0, star = WString::npos, mark = 0;
    while (n < name.size())
    {
        if (p < pattern.size() && (pattern[p] == u'?' || FoldCase(pattern[p]) == FoldCase(name[n])))
        {
            p++;
            n++;
        }
        else if (p < pattern.size() && pattern[p] == u'*')
        {
            star = p++;
            mark = n;
        }
        else if (star != WString::npos)
        {
            p = star + 1;
            n = ++mark;
        }
        else
        {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
    {
        p++;
    }
    return p == pattern.size();
}

bool IsDotName(const WString &s)
{
    return s == u"." || s == u"..";
}

// "." and ".." first, then by name without regard to case, as NTFS lists.
bool ListOrder(const FindEntry &a, const FindEntry &b)
{
    bool da = IsDotName(a.name), db = IsDotName(b.name);
    if (da != db)
    {
        return da;
    }
    int c = CompareOrdinal(a.name, b.name, true);
    return c ? c < 0 : a.name < b.name;
}

void Fill(const FindEntry &e, LPWIN32_FIND_DATAA pData)
{
    memset(pData, 0, sizeof *pData);
    pData->dwFileAttributes = AttributesOf(e.st);
    pData->ftCreationTime = FileTimeOf(e.st.st_ctim);
    pData->ftLastAccessTime = FileTimeOf(e.st.st_atim);
    pData->ftLastWriteTime = FileTimeOf(e.st.st_mtim);
    uint64_t size = S_ISDIR(e.st.st_mode) ? 0 : (uint64_t)e.st.st_size;
    pData->nFileSizeHigh = (DWORD)(size >> 32);
    pData->nFileSizeLow = (DWORD)size;
    std::string a = WideToAnsi(e.name);
    // No short (8.3) names are made: cAlternateFileName stays empty.
    snprintf(pData->cFileName, sizeof pData->cFileName, "%s", a.c_str());
}

HANDLE FindFirstImpl(LPCWSTR pszPattern, LPWIN32_FIND_DATAA pData)
{
    WinPath win;
    DWORD dwError = ParseWinPath(pszPattern, PATH_WILDCARDS_IN_LAST, win);
    if (!dwError && (win.components.empty() || win.bTrailingSeparator))
    {
        dwError = ERROR_FILE_NOT_FOUND; // "C:\dir\" names no entry
    }
    if (dwError)
    {
        SetLastError(dwError);
        return INVALID_HANDLE_VALUE;
    }
    WString pattern = win.components.back();
    WinPath dirWin = win;
    dirWin.components.pop_back();
    HostPath dir;
    ResolveWinPath(dirWin, dir);
    if (!dir.IsDir())
    {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    DIR *d = opendir(dir.host.c_str());
    if (!d)
    {
        SetLastError(ErrnoToError(errno));
        return INVALID_HANDLE_VALUE;
    }
    auto obj = std::make_unique<FindObject>();
    while (struct dirent *e = readdir(d))
    {
        WString name = Utf8ToWide(e->d_name);
        // A drive's root has no "." and "..".
        if (IsDotName(name) && dir.IsRoot())
        {
            continue;
        }
        if (!Matches(pattern, name))
        {
            continue;
        }
        FindEntry fe;
        fe.name = name;
        std::string full = dir.host + (dir.host == "/" ? "" : "/") + e->d_name;
        if (stat(full.c_str(), &fe.st) != 0)
        {
            continue; // vanished, or a dangling link
        }
        obj->entries.push_back(fe);
    }
    closedir(d);
    if (obj->entries.empty())
    {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::sort(obj->entries.begin(), obj->entries.end(), ListOrder);
    Fill(obj->entries[0], pData);
    obj->next = 1;
    HANDLE h = InsertHandle(std::move(obj));
    return h ? h : INVALID_HANDLE_VALUE;
}

} // namespace
} // namespace w32emu

using namespace w32emu;

WINBASEAPI HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData)
{
    if (CallFails("FindFirstFileA"))
    {
        return INVALID_HANDLE_VALUE;
    }
    WString pattern;
    if (!PathArgToWide(lpFileName, pattern))
    {
        return INVALID_HANDLE_VALUE;
    }
    if (!lpFindFileData)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return FindFirstImpl(pattern.c_str(), lpFindFileData);
}

WINBASEAPI BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData)
{
    if (CallFails("FindNextFileA"))
    {
        return FALSE;
    }
    ObjectRef ref = LookupHandle(hFindFile, HandleKind::Find);
    if (!ref)
    {
        return FALSE;
    }
    // The lock serialises the searches that go on one handle.
    StateLock lock(StateMutex());
    FindObject *obj = ref.As<FindObject>();
    if (!lpFindFileData)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (obj->next >= obj->entries.size())
    {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    Fill(obj->entries[obj->next++], lpFindFileData);
    return TRUE;
}

WINBASEAPI BOOL WINAPI FindClose(HANDLE hFindFile)
{
    return RemoveHandle(hFindFile, HandleKind::Find) ? TRUE : FALSE;
}

WINBASEAPI DWORD WINAPI SearchPathA(LPCSTR lpPath, LPCSTR lpFileName, LPCSTR lpExtension, DWORD nBufferLength,
                                    LPSTR lpBuffer, LPSTR *lpFilePart)
{
    if (CallFails("SearchPathA"))
    {
        return 0;
    }
    if (!lpFileName || !*lpFileName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!lpPath)
    {
        // The system's default search order is not emulated.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    WString name = AnsiToWide(lpFileName);
    // The extension is added only when the file name has none.
    size_t lastSep = name.find_last_of(u"\\/");
    size_t nameStart = lastSep == WString::npos ? 0 : lastSep + 1;
    if (lpExtension && name.find(u'.', nameStart) == WString::npos)
    {
        name += AnsiToWide(lpExtension);
    }
    std::vector<WString> candidates;
    bool bRooted = (name.size() >= 2 && name[1] == u':') || name[0] == u'\\' || name[0] == u'/';
    bool bDotRelative = name.rfind(u".\\", 0) == 0 || name.rfind(u"./", 0) == 0 || name.rfind(u"..\\", 0) == 0 ||
                        name.rfind(u"../", 0) == 0;
    if (bRooted || bDotRelative)
    {
        candidates.push_back(name); // looked up where it says, not along the path
    }
    else
    {
        WString path = AnsiToWide(lpPath);
        size_t start = 0;
        while (start <= path.size())
        {
            size_t end = path.find(u';', start);
            if (end == WString::npos)
            {
                end = path.size();
            }
            WString dir = path.substr(start, end - start);
            if (!dir.empty())
            {
                candidates.push_back(dir + u"\\" + name);
            }
            start = end + 1;
        }
    }
    for (const WString &c : candidates)
    {
        HostPath hp;
        if (ResolvePath(c.c_str(), 0, hp) || !hp.bExists || hp.bTrailingOnFile)
        {
            continue;
        }
        std::string full = WideToAnsi(hp.win.Full());
        if (!lpBuffer || nBufferLength <= full.size())
        {
            return (DWORD)full.size() + 1;
        }
        memcpy(lpBuffer, full.c_str(), full.size() + 1);
        if (lpFilePart)
        {
            size_t sep = full.find_last_of('\\');
            *lpFilePart = lpBuffer + (sep == std::string::npos ? 0 : sep + 1);
        }
        return (DWORD)full.size();
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
}
