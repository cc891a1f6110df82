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

#include <atomic>
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

// Whether faultable calls are counted (W32EmuCountCalls). While they are
// not, no failure can be planned and a faultable call costs this one load.
extern std::atomic<bool> g_bCountCalls;
bool CountCallAndFail(const char *pszFunction, uint64_t *pIndex);

// Counts a call of a faultable function. TRUE when this call must fail: the
// last error is then set and the caller returns its failure value at once.
// pszFunction must be a string literal: its address is cached as the name's.
// *pIndex is the call's number, 0 while calls are not counted.
inline bool CallFails(const char *pszFunction, uint64_t *pIndex = nullptr)
{
    if (!g_bCountCalls.load(std::memory_order_relaxed))
    {
        if (pIndex)
        {
            *pIndex = 0;
        }
        return false;
    }
    return CountCallAndFail(pszFunction, pIndex);
}
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

// The calls that every buffer of a job passes through (ReadFile, WriteFile,
// SetFilePointer, OutputDebugStringW, WritePrinter): their code is kept
// together, so that a call touches few pages of the layer's code.
#define W32EMU_HOT __attribute__((hot))

enum class HandleKind : uint8_t
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

// The handle table (handles.cpp says how it works). A handle names a slot and
// the slot's generation; the slot's state word holds the generation, whether
// the handle is open, and how many references pin the object.
const uint64_t kHandleOpen = uint64_t(1) << 31;
const uint64_t kHandleRefMask = kHandleOpen - 1;
const uint32_t kHandleSlotsPerChunk = 1024;
const uint32_t kHandleChunks = 256; // 256 Ki handles, beyond the host's descriptor limits

struct alignas(64) HandleSlot
{
    std::atomic<uint64_t> state{uint64_t(1) << 32}; // generation 1, closed, no reference
    // Set while the slot is free by the thread that opens it, before the
    // release store of the state; read only under a pin. The transfer calls
    // need no more than this line: kind, descriptor and access are copied
    // from the object.
    KernelObject *pObj = nullptr;
    uint32_t index = 0; // set when the slot's chunk is made
    HandleKind kind = HandleKind::File;
    bool bDirectory = false;
    unsigned access = 0;
    int fd = -1;
};

// Chunks of slots, made on demand and never freed.
extern std::atomic<HandleSlot *> g_apHandleChunks[kHandleChunks];

// The last reference to a closed handle's object is gone: the object goes
// and the slot waits for its next generation.
void FreeHandleSlot(HandleSlot *pSlot);

// The slot of an open handle of the kind, with one more reference; NULL
// (the last error untouched) for anything else. No lock: one compare-and-
// swap on the slot's line.
inline HandleSlot *PinHandle(HANDLE h, HandleKind kind)
{
    uintptr_t v = (uintptr_t)h;
    uint32_t index = (uint32_t)(v >> 2) & 0x3FFFFFFF;
    uint32_t generation = (uint32_t)(v >> 32);
    if ((v & 3) != 0 || index / kHandleSlotsPerChunk >= kHandleChunks)
    {
        return nullptr;
    }
    HandleSlot *pChunk = g_apHandleChunks[index / kHandleSlotsPerChunk].load(std::memory_order_acquire);
    if (!pChunk)
    {
        return nullptr;
    }
    HandleSlot *pSlot = &pChunk[index % kHandleSlotsPerChunk];
    uint64_t s = pSlot->state.load(std::memory_order_relaxed);
    for (;;)
    {
        // A free slot (closed) and any other generation fail here, before
        // anything else of the slot is read.
        if ((uint32_t)(s >> 32) != generation || !(s & kHandleOpen))
        {
            return nullptr;
        }
        // Acquire: what the opening thread stored in the slot is seen whole.
        if (pSlot->state.compare_exchange_weak(s, s + 1, std::memory_order_acquire, std::memory_order_relaxed))
        {
            break;
        }
    }
    if (pSlot->kind != kind)
    {
        uint64_t before = pSlot->state.fetch_sub(1, std::memory_order_acq_rel);
        if ((before & kHandleRefMask) == 1 && !(before & kHandleOpen))
        {
            FreeHandleSlot(pSlot);
        }
        return nullptr;
    }
    return pSlot;
}

inline void UnpinHandle(HandleSlot *pSlot)
{
    // Release: this thread's use of the object happens before its
    // destruction; acquire: the destroying thread sees every other use.
    uint64_t before = pSlot->state.fetch_sub(1, std::memory_order_acq_rel);
    if ((before & kHandleRefMask) == 1 && !(before & kHandleOpen))
    {
        FreeHandleSlot(pSlot);
    }
}

// A kernel object pinned through its handle: it stays alive, and its handle
// value is not reused, until the last ObjectRef to it goes, even when the
// handle is closed meanwhile on another thread (as Windows keeps an object
// until the calls that use it return).
class ObjectRef
{
  public:
    ObjectRef() = default;
    explicit ObjectRef(HandleSlot *pSlot) : m_pSlot(pSlot)
    {
    }
    ObjectRef(ObjectRef &&o) noexcept : m_pSlot(o.m_pSlot)
    {
        o.m_pSlot = nullptr;
    }
    ObjectRef &operator=(ObjectRef &&o) noexcept
    {
        if (this != &o)
        {
            Release();
            m_pSlot = o.m_pSlot;
            o.m_pSlot = nullptr;
        }
        return *this;
    }
    ObjectRef(const ObjectRef &) = delete;
    ObjectRef &operator=(const ObjectRef &) = delete;
    ~ObjectRef()
    {
        Release();
    }
    explicit operator bool() const
    {
        return m_pSlot != nullptr;
    }
    // The slot's copies of the object's fixed facts.
    const HandleSlot &Slot() const
    {
        return *m_pSlot;
    }
    template <typename T>
    T *As() const
    {
        return static_cast<T *>(m_pSlot->pObj);
    }

  private:
    void Release()
    {
        if (m_pSlot)
        {
            UnpinHandle(m_pSlot);
            m_pSlot = nullptr;
        }
    }
    HandleSlot *m_pSlot = nullptr;
};

// The table takes the object; NULL (and ERROR_TOO_MANY_OPEN_FILES) when it
// is full.
HANDLE InsertHandle(std::unique_ptr<KernelObject> obj);
// Empty (and ERROR_INVALID_HANDLE) for a wrong, stale or wrong-kind handle.
inline ObjectRef LookupHandle(HANDLE h, HandleKind kind)
{
    HandleSlot *pSlot = PinHandle(h, kind);
    if (!pSlot)
    {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return ObjectRef(pSlot);
}
// FALSE (and ERROR_INVALID_HANDLE) for a wrong, stale or wrong-kind handle.
// The object goes when the last ObjectRef to it goes.
bool RemoveHandle(HANDLE h, HandleKind kind);
std::vector<ObjectRef> HandlesOfKind(HandleKind kind);

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
    bool bPathOnly = false; // no data access, and the host gave only an O_PATH descriptor
    DWORD dwShare = 0;
    FileId id;
    // The file pointer is the descriptor's own offset: the host kernel keeps
    // it per open, moves it with each read and write, and serialises the
    // calls of several threads on one handle, as Windows does for a
    // synchronous handle. A directory's or an O_PATH descriptor's cannot be
    // set, and no data moves through them: SetFilePointer keeps theirs here.
    std::atomic<uint64_t> ownPosition{0};
    bool HasOwnPosition() const
    {
        return bDirectory || bPathOnly;
    }
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
