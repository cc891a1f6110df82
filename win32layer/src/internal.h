// What the parts of the layer share. Not part of the API: product code and
// tests see only <windows.h>, <winspool.h> and <w32emu.h>.
#pragma once

// The layer is built with hidden visibility; the declarations of the API take
// the default one here, so that exactly the API is exported.
#pragma GCC visibility push(default)
#include <w32emu.h>
#include <windows.h>
#include <winspool.h>
#pragma GCC visibility pop

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace w32emu
{

// ---- locking ------------------------------------------------------------------

// Guards every table of the layer. Recursive, because an API call may use
// another one inside (profile files open files, temporary names create them).
// Never held while calling out of the layer (DllMain, redirected functions).
std::recursive_mutex &StateMutex();
using StateLock = std::lock_guard<std::recursive_mutex>;

// Keeps a function from disturbing the caller's last error when it succeeds
// through inner calls that set it (CreateFile sets ERROR_ALREADY_EXISTS...).
class ErrorKeeper
{
  public:
    ErrorKeeper() : m_dwSaved(GetLastError())
    {
    }
    void Restore() const
    {
        SetLastError(m_dwSaved);
    }

  private:
    DWORD m_dwSaved;
};

// ---- faults -------------------------------------------------------------------

// Counts a call of a faultable function. TRUE when this call must fail: the
// last error is then set and the caller returns its failure value at once.
// pszFunction must be a string literal: its address is cached as the name's.
bool CallFails(const char *pszFunction, uint64_t *pIndex = nullptr);
// A short write planned for the given WriteFile call index.
bool TakeShortWrite(uint64_t index, DWORD *pcbAllowed, bool *pbSucceed);

// ---- text ---------------------------------------------------------------------

typedef std::u16string WString;
typedef std::u16string_view WStringView;

size_t WLen(LPCWSTR psz);
WString AnsiToWide(std::string_view s);
// Unmappable characters become '?'; *pbUsedDefault tells whether any did.
std::string WideToAnsi(WStringView s, bool *pbUsedDefault = nullptr);
std::string WideToUtf8(WStringView s);
WString Utf8ToWide(std::string_view s);
WCHAR FoldCase(WCHAR c);
bool EqualNoCase(WStringView a, WStringView b);
int CompareOrdinal(WStringView a, WStringView b, bool bIgnoreCase);
// Copies an 8-bit path argument of an A function to wide characters. FALSE
// (and the error) for NULL, and for MAX_PATH characters or more, as Windows
// refuses them.
bool PathArgToWide(LPCSTR psz, WString &out);

// ---- paths --------------------------------------------------------------------

// A Windows path, parsed and normalised: drive, components without ".", ".."
// and empty ones.
struct WinPath
{
    WCHAR chDrive = u'C';
    std::vector<WString> components;
    bool bTrailingSeparator = false;
    WString Full() const; // "C:\a\b", "C:\" for the root
};

enum
{
    PATH_WILDCARDS_IN_LAST = 1, // '*' and '?' allowed in the last component
};

// 0, or the error Windows gives for the path's form: ERROR_PATH_NOT_FOUND
// (empty, unknown drive), ERROR_INVALID_NAME (characters Windows refuses),
// ERROR_CALL_NOT_IMPLEMENTED (UNC and device paths).
DWORD ParseWinPath(LPCWSTR psz, unsigned flags, WinPath &out);

struct FileId
{
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const FileId &o) const
    {
        return dev == o.dev && ino == o.ino;
    }
    bool operator<(const FileId &o) const
    {
        return dev < o.dev || (dev == o.dev && ino < o.ino);
    }
};

// A Windows path resolved on the host. Existing components are matched
// case-insensitively; missing ones are kept as given.
struct HostPath
{
    WinPath win;
    std::string host;
    bool bExists = false;         // the whole path exists
    bool bParentIsDir = false;    // every component but the last exists as a directory
    bool bTrailingOnFile = false; // "file\": a separator after a non-directory
    struct stat st = {};          // when bExists
    bool IsDir() const
    {
        return bExists && S_ISDIR(st.st_mode);
    }
    bool IsRoot() const
    {
        return win.components.empty();
    }
    FileId Id() const
    {
        return FileId{st.st_dev, st.st_ino};
    }
    // The error for a missing path: ERROR_FILE_NOT_FOUND when only the last
    // component is missing, ERROR_PATH_NOT_FOUND otherwise.
    DWORD MissingError() const;
};

DWORD ResolvePath(LPCWSTR psz, unsigned flags, HostPath &out);
DWORD ResolveWinPath(const WinPath &win, HostPath &out);
std::string Root();
WString WindowsDir();
// The attribute word of a host file.
DWORD AttributesOf(const struct stat &st);
bool IsReadOnly(const struct stat &st);
FILETIME FileTimeOf(const struct timespec &ts);
DWORD ErrnoToError(int err);

// ---- handles ------------------------------------------------------------------

enum class HandleKind
{
    File,
    Find,
};

struct KernelObject
{
    explicit KernelObject(HandleKind k) : kind(k)
    {
    }
    virtual ~KernelObject() = default;
    const HandleKind kind;
};

HANDLE InsertHandle(std::shared_ptr<KernelObject> obj);
// NULL (and ERROR_INVALID_HANDLE) for a wrong, stale or wrong-kind handle.
std::shared_ptr<KernelObject> LookupHandle(HANDLE h, HandleKind kind);
std::shared_ptr<KernelObject> RemoveHandle(HANDLE h, HandleKind kind);
std::vector<std::shared_ptr<KernelObject>> HandlesOfKind(HandleKind kind);

// ---- files ------------------------------------------------------------------

// Access as the sharing check sees it.
enum
{
    ACC_READ = 1,
    ACC_WRITE = 2,
    ACC_DELETE = 4,
    ACC_EXECUTE = 8,
};

struct FileObject : KernelObject
{
    FileObject() : KernelObject(HandleKind::File)
    {
    }
    ~FileObject() override;
    int fd = -1;
    bool bDirectory = false;
    unsigned access = 0;
    DWORD dwShare = 0;
    FileId id;
    uint64_t pos = 0;
};

// CreateFileW without counting a call: the profile and temporary-name code
// open files through it, as kernel32 does without going through its own
// import table.
HANDLE CreateFileInternal(LPCWSTR pszName, DWORD dwAccess, DWORD dwShare, LPSECURITY_ATTRIBUTES psa,
                          DWORD dwDisposition, DWORD dwFlags, HANDLE hTemplate);
bool ReadWholeFile(HANDLE h, std::string &out);
bool WriteAllInternal(HANDLE h, const void *pv, size_t cb);
bool CloseInternal(HANDLE h);

// Whether a file is in use as a program image (a loaded module, or held by
// W32EmuHoldFileA): it cannot be deleted, but it can be renamed.
bool IsImageInUse(const FileId &id);
bool IsModuleImage(const FileId &id);

} // namespace w32emu
