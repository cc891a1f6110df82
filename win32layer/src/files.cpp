// Files and directories: CreateFile with the Windows sharing check between
// the handles of this process, reads, writes, seeks, deletion, renaming
// (with the restart-time renames recorded, not done), directories,
// attributes and temporary names.
#include "internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace w32emu
{

FileObject::~FileObject()
{
    if (fd >= 0)
    {
        close(fd);
    }
}

namespace
{

const DWORD FILE_READ_DATA_ = 0x0001;
const DWORD FILE_WRITE_DATA_ = 0x0002;
const DWORD FILE_APPEND_DATA_ = 0x0004;
const DWORD FILE_EXECUTE_ = 0x0020;
const DWORD FILE_FLAGS_MASK = 0xFFFF0000; // FILE_FLAG_* and SECURITY_* bits
// Attributes a new file could be given that the host cannot keep (read-only
// is kept in the mode bits; archive, normal and temporary need nothing).
const DWORD FILE_ATTRIBUTES_NOT_KEPT =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | 0x1000 /* offline */ | 0x4000 /* encrypted */;

unsigned AccessBits(DWORD dwAccess)
{
    unsigned a = 0;
    if (dwAccess & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA_))
    {
        a |= ACC_READ;
    }
    if (dwAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA_ | FILE_APPEND_DATA_))
    {
        a |= ACC_WRITE;
    }
    if (dwAccess & (DELETE | GENERIC_ALL))
    {
        a |= ACC_DELETE;
    }
    if (dwAccess & (GENERIC_EXECUTE | FILE_EXECUTE_))
    {
        a |= ACC_EXECUTE;
    }
    return a;
}

std::vector<FileObject *> OpenFilesOf(const FileId &id, std::vector<ObjectRef> &keep)
{
    keep = HandlesOfKind(HandleKind::File);
    std::vector<FileObject *> v;
    for (ObjectRef &o : keep)
    {
        FileObject *f = o.As<FileObject>();
        if (f->id == id)
        {
            v.push_back(f);
        }
    }
    return v;
}

// The Windows sharing check, both ways: the new open's access against the
// share modes of the handles already open, and their access against the
// new share mode. An open without data access takes no part, as on Windows.
bool SharingConflict(const FileId &id, unsigned access, DWORD dwShare)
{
    if (!access)
    {
        return false;
    }
    std::vector<ObjectRef> keep;
    for (FileObject *f : OpenFilesOf(id, keep))
    {
        if (!f->access)
        {
            continue;
        }
        if (((access & (ACC_READ | ACC_EXECUTE)) && !(f->dwShare & FILE_SHARE_READ)) ||
            ((access & ACC_WRITE) && !(f->dwShare & FILE_SHARE_WRITE)) ||
            ((access & ACC_DELETE) && !(f->dwShare & FILE_SHARE_DELETE)) ||
            ((f->access & (ACC_READ | ACC_EXECUTE)) && !(dwShare & FILE_SHARE_READ)) ||
            ((f->access & ACC_WRITE) && !(dwShare & FILE_SHARE_WRITE)) ||
            ((f->access & ACC_DELETE) && !(dwShare & FILE_SHARE_DELETE)))
        {
            return true;
        }
    }
    return false;
}

bool IsOpen(const FileId &id)
{
    std::vector<ObjectRef> keep;
    return !OpenFilesOf(id, keep).empty();
}

// Deleting and renaming open the file for DELETE, sharing everything.
bool DeleteConflict(const FileId &id)
{
    return SharingConflict(id, ACC_DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

int OpenFlags(unsigned access)
{
    int flags = O_CLOEXEC;
    if (access & ACC_WRITE)
    {
        flags |= (access & ACC_READ) ? O_RDWR : O_WRONLY;
    }
    else
    {
        flags |= O_RDONLY;
    }
    return flags;
}

HANDLE Fail(DWORD dwError)
{
    SetLastError(dwError);
    return INVALID_HANDLE_VALUE;
}

BOOL FailBool(DWORD dwError)
{
    SetLastError(dwError);
    return FALSE;
}

// The file of a handle, pinned while the returned reference lives; empty
// (and ERROR_INVALID_HANDLE) for anything else.
ObjectRef LookupFile(HANDLE h)
{
    return LookupHandle(h, HandleKind::File);
}

// Restart-time renames, as Windows keeps them for the next start.
struct PendingRename
{
    std::string strOld;
    std::string strNew;
};

std::vector<PendingRename> &PendingRenames()
{
    static std::vector<PendingRename> &v = *new std::vector<PendingRename>;
    return v;
}

BOOL DeleteFileImpl(LPCWSTR pszName)
{
    HostPath hp;
    DWORD dwError = ResolvePath(pszName, 0, hp);
    if (dwError)
    {
        return FailBool(dwError);
    }
    StateLock lock(StateMutex());
    if (!hp.bExists || hp.bTrailingOnFile)
    {
        return FailBool(hp.MissingError());
    }
    if (hp.IsDir())
    {
        return FailBool(ERROR_ACCESS_DENIED);
    }
    if (DeleteConflict(hp.Id()))
    {
        return FailBool(ERROR_SHARING_VIOLATION);
    }
    if (IsReadOnly(hp.st) || IsImageInUse(hp.Id()))
    {
        return FailBool(ERROR_ACCESS_DENIED);
    }
    if (unlink(hp.host.c_str()) != 0)
    {
        return FailBool(ErrnoToError(errno));
    }
    return TRUE;
}

BOOL CreateDirectoryImpl(LPCWSTR pszName, LPSECURITY_ATTRIBUTES psa)
{
    if (psa && psa->lpSecurityDescriptor)
    {
        return FailBool(ERROR_CALL_NOT_IMPLEMENTED);
    }
    HostPath hp;
    DWORD dwError = ResolvePath(pszName, 0, hp);
    if (dwError)
    {
        return FailBool(dwError);
    }
    if (hp.bExists)
    {
        return FailBool(ERROR_ALREADY_EXISTS);
    }
    if (!hp.bParentIsDir)
    {
        return FailBool(ERROR_PATH_NOT_FOUND);
    }
    if (mkdir(hp.host.c_str(), 0777) != 0)
    {
        return FailBool(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrnoToError(errno));
    }
    return TRUE;
}

BOOL RemoveDirectoryImpl(LPCWSTR pszName)
{
    HostPath hp;
    DWORD dwError = ResolvePath(pszName, 0, hp);
    if (dwError)
    {
        return FailBool(dwError);
    }
    StateLock lock(StateMutex());
    if (!hp.bExists)
    {
        return FailBool(hp.MissingError());
    }
    if (hp.bTrailingOnFile || !hp.IsDir())
    {
        return FailBool(ERROR_DIRECTORY);
    }
    if (hp.IsRoot())
    {
        // A drive's root cannot go; here it would take the emulated disk.
        return FailBool(ERROR_ACCESS_DENIED);
    }
    if (DeleteConflict(hp.Id()))
    {
        return FailBool(ERROR_SHARING_VIOLATION);
    }
    if (rmdir(hp.host.c_str()) != 0)
    {
        return FailBool(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrnoToError(errno));
    }
    return TRUE;
}

DWORD GetFileAttributesImpl(LPCWSTR pszName)
{
    HostPath hp;
    DWORD dwError = ResolvePath(pszName, 0, hp);
    if (!dwError && (!hp.bExists || hp.bTrailingOnFile))
    {
        dwError = hp.MissingError();
    }
    if (dwError)
    {
        SetLastError(dwError);
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(hp.st);
}

// The temporary name "<path>\<prefix up to 3><hex>.tmp". uUnique 0: the
// first free number from a time-based start, the file made empty; otherwise
// only the name. The result must fit MAX_PATH characters, which is the
// buffer size the caller is required to give.
UINT GetTempFileNameImpl(LPCWSTR pszPath, LPCWSTR pszPrefix, UINT uUnique, WString &out)
{
    if (!pszPath)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    HostPath hp;
    DWORD dwError = ResolvePath(pszPath, 0, hp);
    if (dwError || !hp.IsDir())
    {
        SetLastError(dwError == ERROR_INVALID_NAME ? dwError : ERROR_DIRECTORY);
        return 0;
    }
    WString base = pszPath;
    if (base.empty() || (base.back() != u'\\' && base.back() != u'/'))
    {
        base += u'\\';
    }
    for (size_t i = 0; pszPrefix && i < 3 && pszPrefix[i]; i++)
    {
        base += pszPrefix[i];
    }
    auto nameOf = [&](UINT n) {
        char hex[16];
        snprintf(hex, sizeof hex, "%x.tmp", n);
        return base + AnsiToWide(hex);
    };
    if (nameOf(0xFFFF).size() >= MAX_PATH)
    {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    }
    uUnique &= 0xFFFF;
    if (uUnique)
    {
        out = nameOf(uUnique);
        return uUnique;
    }
    UINT start = GetTickCount() & 0xFFFF;
    if (!start)
    {
        start = 1;
    }
    UINT n = start;
    do
    {
        WString name = nameOf(n);
        HANDLE h =
            CreateFileInternal(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE)
        {
            CloseInternal(h);
            out = name;
            return n;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_SHARING_VIOLATION)
        {
            return 0;
        }
        n = n == 0xFFFF ? 1 : n + 1;
    } while (n != start);
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}

BOOL MoveFileImpl(LPCWSTR pszOld, LPCWSTR pszNew, DWORD dwFlags)
{
    const DWORD dwKnown =
        MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_WRITE_THROUGH;
    if (dwFlags & ~dwKnown)
    {
        return FailBool(ERROR_INVALID_PARAMETER);
    }
    WinPath winOld;
    DWORD dwError = ParseWinPath(pszOld, 0, winOld);
    if (dwError)
    {
        return FailBool(dwError);
    }
    if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT)
    {
        if (dwFlags & MOVEFILE_COPY_ALLOWED)
        {
            return FailBool(ERROR_INVALID_PARAMETER);
        }
        // Only recorded: Windows performs it at the next start, and neither
        // name needs to exist now.
        PendingRename r;
        r.strOld = WideToAnsi(winOld.Full());
        if (pszNew)
        {
            WinPath winNew;
            dwError = ParseWinPath(pszNew, 0, winNew);
            if (dwError)
            {
                return FailBool(dwError);
            }
            r.strNew = WideToAnsi(winNew.Full());
        }
        StateLock lock(StateMutex());
        PendingRenames().push_back(r);
        return TRUE;
    }
    if (!pszNew)
    {
        return FailBool(ERROR_INVALID_PARAMETER);
    }
    HostPath hpOld, hpNew;
    dwError = ResolveWinPath(winOld, hpOld);
    if (!dwError)
    {
        dwError = ResolvePath(pszNew, 0, hpNew);
    }
    if (dwError)
    {
        return FailBool(dwError);
    }
    StateLock lock(StateMutex());
    if (!hpOld.bExists || hpOld.bTrailingOnFile)
    {
        return FailBool(hpOld.MissingError());
    }
    if (!hpNew.bExists && !hpNew.bParentIsDir)
    {
        return FailBool(ERROR_PATH_NOT_FOUND);
    }
    bool bSameFile = hpNew.bExists && hpNew.Id() == hpOld.Id();
    if (hpNew.bExists && !bSameFile)
    {
        if (!(dwFlags & MOVEFILE_REPLACE_EXISTING))
        {
            return FailBool(ERROR_ALREADY_EXISTS);
        }
        // A directory, an open file, an image in use or a read-only file
        // cannot be replaced.
        if (hpNew.IsDir() || hpOld.IsDir() || IsOpen(hpNew.Id()) || IsImageInUse(hpNew.Id()) || IsReadOnly(hpNew.st))
        {
            return FailBool(ERROR_ACCESS_DENIED);
        }
    }
    if (DeleteConflict(hpOld.Id()))
    {
        return FailBool(ERROR_SHARING_VIOLATION);
    }
    std::string target = hpNew.host;
    if (bSameFile)
    {
        // A change of case only: the name as given.
        target = hpNew.host.substr(0, hpNew.host.rfind('/') + 1) + WideToUtf8(hpNew.win.components.back());
    }
    if (rename(hpOld.host.c_str(), target.c_str()) != 0)
    {
        if (errno == EXDEV && (dwFlags & MOVEFILE_COPY_ALLOWED))
        {
            return FailBool(ERROR_CALL_NOT_IMPLEMENTED); // copying between drives is not emulated
        }
        return FailBool(ErrnoToError(errno));
    }
    return TRUE;
}

} // namespace

HANDLE CreateFileInternal(LPCWSTR pszName, DWORD dwAccess, DWORD dwShare, LPSECURITY_ATTRIBUTES psa,
                          DWORD dwDisposition, DWORD dwFlags, HANDLE hTemplate)
{
    if (!pszName)
    {
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    if (hTemplate || (psa && psa->lpSecurityDescriptor) ||
        (dwFlags & FILE_FLAGS_MASK & ~(DWORD)FILE_FLAG_BACKUP_SEMANTICS) || (dwFlags & FILE_ATTRIBUTES_NOT_KEPT))
    {
        return Fail(ERROR_CALL_NOT_IMPLEMENTED);
    }
    if (dwDisposition < CREATE_NEW || dwDisposition > TRUNCATE_EXISTING ||
        (dwShare & ~(DWORD)(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)))
    {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    HostPath hp;
    DWORD dwError = ResolvePath(pszName, 0, hp);
    if (dwError)
    {
        return Fail(dwError);
    }
    if (hp.bTrailingOnFile || (hp.win.bTrailingSeparator && !hp.bExists))
    {
        // "name\" cannot be a file.
        return Fail(hp.bTrailingOnFile || hp.bParentIsDir ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND);
    }
    if (!hp.bExists && !hp.bParentIsDir)
    {
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    unsigned access = AccessBits(dwAccess);
    StateLock lock(StateMutex());
    auto obj = std::make_unique<FileObject>();
    obj->access = access;
    obj->dwShare = dwShare;
    bool bExisted = hp.bExists;
    if (hp.IsDir())
    {
        if (dwDisposition == CREATE_NEW)
        {
            return Fail(ERROR_FILE_EXISTS);
        }
        if (!(dwFlags & FILE_FLAG_BACKUP_SEMANTICS) || dwDisposition == CREATE_ALWAYS ||
            dwDisposition == TRUNCATE_EXISTING)
        {
            return Fail(ERROR_ACCESS_DENIED);
        }
        if (SharingConflict(hp.Id(), access, dwShare))
        {
            return Fail(ERROR_SHARING_VIOLATION);
        }
        obj->fd = open(hp.host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        obj->bDirectory = true;
    }
    else if (hp.bExists)
    {
        if (dwDisposition == CREATE_NEW)
        {
            return Fail(ERROR_FILE_EXISTS);
        }
        bool bTruncate = dwDisposition == CREATE_ALWAYS || dwDisposition == TRUNCATE_EXISTING;
        if (dwDisposition == TRUNCATE_EXISTING && !(access & ACC_WRITE))
        {
            return Fail(ERROR_INVALID_PARAMETER);
        }
        if (IsReadOnly(hp.st) && ((access & ACC_WRITE) || bTruncate))
        {
            return Fail(ERROR_ACCESS_DENIED);
        }
        if (SharingConflict(hp.Id(), access, dwShare))
        {
            return Fail(ERROR_SHARING_VIOLATION);
        }
        obj->fd = open(hp.host.c_str(), OpenFlags(access));
        if (obj->fd < 0 && errno == EACCES && !(access & (ACC_READ | ACC_WRITE)))
        {
            obj->fd = open(hp.host.c_str(), O_PATH | O_CLOEXEC);
            obj->bPathOnly = true;
        }
        if (obj->fd >= 0 && bTruncate && truncate(hp.host.c_str(), 0) != 0)
        {
            return Fail(ErrnoToError(errno)); // obj closes the descriptor
        }
    }
    else
    {
        if (dwDisposition == OPEN_EXISTING || dwDisposition == TRUNCATE_EXISTING)
        {
            return Fail(ERROR_FILE_NOT_FOUND);
        }
        mode_t mode = (dwFlags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
        obj->fd = open(hp.host.c_str(), OpenFlags(access) | O_CREAT | O_EXCL, mode);
    }
    if (obj->fd < 0)
    {
        return Fail(ErrnoToError(errno));
    }
    struct stat st;
    if (fstat(obj->fd, &st) != 0)
    {
        return Fail(ErrnoToError(errno));
    }
    obj->id = FileId{st.st_dev, st.st_ino};
    HANDLE h = InsertHandle(std::move(obj));
    if (!h)
    {
        return INVALID_HANDLE_VALUE;
    }
    // Windows sets the last error on success too: ERROR_ALREADY_EXISTS when
    // CREATE_ALWAYS or OPEN_ALWAYS found the file, else 0.
    SetLastError(bExisted && (dwDisposition == CREATE_ALWAYS || dwDisposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                              : ERROR_SUCCESS);
    return h;
}

bool ReadWholeFile(HANDLE h, std::string &out)
{
    ObjectRef ref = LookupFile(h);
    if (!ref)
    {
        return false;
    }
    out.clear();
    char buf[8192];
    for (;;)
    {
        ssize_t n = pread(ref.Slot().fd, buf, sizeof buf, (off_t)out.size());
        if (n < 0 && errno == EINTR)
        {
            continue;
        }
        if (n < 0)
        {
            SetLastError(ErrnoToError(errno));
            return false;
        }
        if (n == 0)
        {
            return true;
        }
        out.append(buf, (size_t)n);
    }
}

namespace
{

// Writes all cb bytes at the file pointer; *pcbDone says how many went.
inline __attribute__((always_inline)) bool WriteAll(int fd, const void *pv, size_t cb, size_t *pcbDone)
{
    const char *p = (const char *)pv;
    *pcbDone = 0;
    while (cb)
    {
        ssize_t n = write(fd, p, cb);
        if (n < 0 && errno == EINTR)
        {
            continue;
        }
        if (n <= 0)
        {
            SetLastError(n < 0 ? ErrnoToError(errno) : ERROR_DISK_FULL);
            return false;
        }
        p += n;
        cb -= (size_t)n;
        *pcbDone += (size_t)n;
    }
    return true;
}

} // namespace

bool WriteAllInternal(HANDLE h, const void *pv, size_t cb)
{
    ObjectRef ref = LookupFile(h);
    size_t cbDone = 0;
    return ref && WriteAll(ref.Slot().fd, pv, cb, &cbDone);
}

bool CloseInternal(HANDLE h)
{
    return RemoveHandle(h, HandleKind::File);
}

} // namespace w32emu

using namespace w32emu;

WINBASEAPI HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                     DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    if (CallFails("CreateFileW"))
    {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileInternal(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes, dwCreationDisposition,
                              dwFlagsAndAttributes, hTemplateFile);
}

WINBASEAPI HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                     DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    if (CallFails("CreateFileA"))
    {
        return INVALID_HANDLE_VALUE;
    }
    WString name;
    if (!PathArgToWide(lpFileName, name))
    {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileInternal(name.c_str(), dwDesiredAccess, dwShareMode, lpSecurityAttributes, dwCreationDisposition,
                              dwFlagsAndAttributes, hTemplateFile);
}

namespace w32emu
{
namespace
{

// What ReadFile and WriteFile check, in Windows' order, once the fault check
// is past: the file of the handle, opened for this access, pinned while the
// returned reference lives; or an empty reference with the last error set.
// Everything it reads is on the handle's slot; it is part of each transfer's
// own code.
inline __attribute__((always_inline)) ObjectRef FileForTransfer(HANDLE hFile, unsigned access, LPCVOID pv, DWORD cb,
                                                                LPDWORD pcbDone, LPOVERLAPPED pOverlapped)
{
    if (pOverlapped)
    {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return ObjectRef();
    }
    if (!pcbDone)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ObjectRef();
    }
    ObjectRef ref = LookupFile(hFile);
    if (!ref)
    {
        return ref;
    }
    const HandleSlot &f = ref.Slot();
    DWORD dwError = f.bDirectory           ? (DWORD)ERROR_INVALID_FUNCTION
                    : !(f.access & access) ? (DWORD)ERROR_ACCESS_DENIED
                    : !pv && cb            ? (DWORD)ERROR_NOACCESS
                                           : (DWORD)ERROR_SUCCESS;
    if (dwError != ERROR_SUCCESS)
    {
        SetLastError(dwError);
        return ObjectRef();
    }
    return ref;
}

} // namespace
} // namespace w32emu

// The transfers and seeks take no lock of the layer's: the handle's file is
// pinned, its access fixed since it was opened, and the file pointer is the
// descriptor's.
WINBASEAPI W32EMU_HOT BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                           LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped)
{
    if (lpNumberOfBytesRead)
    {
        *lpNumberOfBytesRead = 0;
    }
    if (CallFails("ReadFile"))
    {
        return FALSE;
    }
    ObjectRef ref = FileForTransfer(hFile, ACC_READ, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
    if (!ref)
    {
        return FALSE;
    }
    int fd = ref.Slot().fd;
    char *p = (char *)lpBuffer;
    DWORD cbDone = 0;
    while (cbDone < nNumberOfBytesToRead)
    {
        ssize_t n = read(fd, p + cbDone, nNumberOfBytesToRead - cbDone);
        if (n < 0 && errno == EINTR)
        {
            continue;
        }
        if (n < 0)
        {
            *lpNumberOfBytesRead = cbDone;
            return FailBool(ErrnoToError(errno));
        }
        if (n == 0)
        {
            break; // end of file: success with what there was
        }
        cbDone += (DWORD)n;
    }
    *lpNumberOfBytesRead = cbDone;
    return TRUE;
}

WINBASEAPI W32EMU_HOT BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                            LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped)
{
    if (lpNumberOfBytesWritten)
    {
        *lpNumberOfBytesWritten = 0;
    }
    uint64_t index = 0;
    if (CallFails("WriteFile", &index))
    {
        return FALSE;
    }
    ObjectRef ref =
        FileForTransfer(hFile, ACC_WRITE, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
    if (!ref)
    {
        return FALSE;
    }
    DWORD cbAllowed = 0;
    bool bSucceed = false;
    // Index 0: calls are not counted, so no short write can be due.
    bool bShort = index != 0 && TakeShortWrite(index, &cbAllowed, &bSucceed);
    DWORD cb = bShort && cbAllowed < nNumberOfBytesToWrite ? cbAllowed : nNumberOfBytesToWrite;
    size_t cbDone = 0;
    bool bOk = WriteAll(ref.Slot().fd, lpBuffer, cb, &cbDone);
    *lpNumberOfBytesWritten = (DWORD)cbDone;
    if (!bOk)
    {
        return FALSE;
    }
    if (bShort && !bSucceed)
    {
        return FailBool(ERROR_DISK_FULL);
    }
    return TRUE;
}

WINBASEAPI W32EMU_HOT DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                                                  DWORD dwMoveMethod)
{
    if (CallFails("SetFilePointer"))
    {
        return INVALID_SET_FILE_POINTER;
    }
    ObjectRef ref = LookupFile(hFile);
    if (!ref)
    {
        return INVALID_SET_FILE_POINTER;
    }
    FileObject *f = ref.As<FileObject>();
    // With a high part the distance is 64 bits; without, the 32-bit one is
    // signed.
    int64_t distance = lpDistanceToMoveHigh
                           ? (int64_t)(((uint64_t)(uint32_t)*lpDistanceToMoveHigh << 32) | (uint32_t)lDistanceToMove)
                           : (int64_t)lDistanceToMove;
    int64_t base = 0;
    switch (dwMoveMethod)
    {
    case FILE_BEGIN:
        break;
    case FILE_CURRENT: {
        off_t cur =
            f->HasOwnPosition() ? (off_t)f->ownPosition.load(std::memory_order_relaxed) : lseek(f->fd, 0, SEEK_CUR);
        if (cur < 0)
        {
            SetLastError(ErrnoToError(errno));
            return INVALID_SET_FILE_POINTER;
        }
        base = (int64_t)cur;
        break;
    }
    case FILE_END: {
        struct stat st;
        if (fstat(f->fd, &st) != 0)
        {
            SetLastError(ErrnoToError(errno));
            return INVALID_SET_FILE_POINTER;
        }
        base = f->bDirectory ? 0 : (int64_t)st.st_size;
        break;
    }
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t pos;
    if (__builtin_add_overflow(base, distance, &pos) || pos >= ((int64_t)1 << 32))
    {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED); // positions from 4 GiB on are not emulated
        return INVALID_SET_FILE_POINTER;
    }
    if (pos < 0)
    {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (f->HasOwnPosition())
    {
        f->ownPosition.store((uint64_t)pos, std::memory_order_relaxed);
    }
    else if (lseek(f->fd, (off_t)pos, SEEK_SET) < 0)
    {
        SetLastError(ErrnoToError(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh)
    {
        *lpDistanceToMoveHigh = 0;
    }
    if ((DWORD)pos == INVALID_SET_FILE_POINTER)
    {
        SetLastError(NO_ERROR); // a real position that looks like the failure value
    }
    return (DWORD)pos;
}

WINBASEAPI DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh)
{
    if (CallFails("GetFileSize"))
    {
        return INVALID_FILE_SIZE;
    }
    ObjectRef ref = LookupFile(hFile);
    if (!ref)
    {
        return INVALID_FILE_SIZE;
    }
    const FileObject *f = ref.As<FileObject>();
    struct stat st;
    if (fstat(f->fd, &st) != 0)
    {
        SetLastError(ErrnoToError(errno));
        return INVALID_FILE_SIZE;
    }
    uint64_t size = f->bDirectory ? 0 : (uint64_t)st.st_size;
    if (lpFileSizeHigh)
    {
        *lpFileSizeHigh = (DWORD)(size >> 32);
    }
    if ((DWORD)size == INVALID_FILE_SIZE)
    {
        SetLastError(NO_ERROR);
    }
    return (DWORD)size;
}

WINBASEAPI BOOL WINAPI CloseHandle(HANDLE hObject)
{
    if (CallFails("CloseHandle"))
    {
        return FALSE;
    }
    return CloseInternal(hObject) ? TRUE : FALSE;
}

WINBASEAPI BOOL WINAPI DeleteFileW(LPCWSTR lpFileName)
{
    if (CallFails("DeleteFileW"))
    {
        return FALSE;
    }
    return DeleteFileImpl(lpFileName);
}

WINBASEAPI BOOL WINAPI DeleteFileA(LPCSTR lpFileName)
{
    if (CallFails("DeleteFileA"))
    {
        return FALSE;
    }
    WString name;
    return PathArgToWide(lpFileName, name) ? DeleteFileImpl(name.c_str()) : FALSE;
}

WINBASEAPI BOOL WINAPI MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags)
{
    if (CallFails("MoveFileExW"))
    {
        return FALSE;
    }
    if (!lpExistingFileName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return MoveFileImpl(lpExistingFileName, lpNewFileName, dwFlags);
}

WINBASEAPI BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags)
{
    if (CallFails("MoveFileExA"))
    {
        return FALSE;
    }
    WString oldName, newName;
    if (!PathArgToWide(lpExistingFileName, oldName) || (lpNewFileName && !PathArgToWide(lpNewFileName, newName)))
    {
        return FALSE;
    }
    return MoveFileImpl(oldName.c_str(), lpNewFileName ? newName.c_str() : nullptr, dwFlags);
}

WINBASEAPI BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    if (CallFails("CreateDirectoryW"))
    {
        return FALSE;
    }
    return CreateDirectoryImpl(lpPathName, lpSecurityAttributes);
}

WINBASEAPI BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    if (CallFails("CreateDirectoryA"))
    {
        return FALSE;
    }
    WString name;
    return PathArgToWide(lpPathName, name) ? CreateDirectoryImpl(name.c_str(), lpSecurityAttributes) : FALSE;
}

WINBASEAPI BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName)
{
    if (CallFails("RemoveDirectoryW"))
    {
        return FALSE;
    }
    return RemoveDirectoryImpl(lpPathName);
}

WINBASEAPI BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName)
{
    if (CallFails("RemoveDirectoryA"))
    {
        return FALSE;
    }
    WString name;
    return PathArgToWide(lpPathName, name) ? RemoveDirectoryImpl(name.c_str()) : FALSE;
}

WINBASEAPI DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName)
{
    if (CallFails("GetFileAttributesW"))
    {
        return INVALID_FILE_ATTRIBUTES;
    }
    return GetFileAttributesImpl(lpFileName);
}

WINBASEAPI DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName)
{
    if (CallFails("GetFileAttributesA"))
    {
        return INVALID_FILE_ATTRIBUTES;
    }
    WString name;
    return PathArgToWide(lpFileName, name) ? GetFileAttributesImpl(name.c_str()) : INVALID_FILE_ATTRIBUTES;
}

WINBASEAPI UINT WINAPI GetTempFileNameW(LPCWSTR lpPathName, LPCWSTR lpPrefixString, UINT uUnique, LPWSTR lpTempFileName)
{
    if (CallFails("GetTempFileNameW"))
    {
        return 0;
    }
    if (!lpTempFileName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ErrorKeeper keep;
    WString name;
    UINT n = GetTempFileNameImpl(lpPathName, lpPrefixString, uUnique, name);
    if (n)
    {
        memcpy(lpTempFileName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
        keep.Restore();
    }
    return n;
}

WINBASEAPI UINT WINAPI GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName)
{
    if (CallFails("GetTempFileNameA"))
    {
        return 0;
    }
    WString path, prefix;
    if (!lpTempFileName || !lpPathName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!PathArgToWide(lpPathName, path))
    {
        return 0;
    }
    if (lpPrefixString)
    {
        prefix = AnsiToWide(lpPrefixString);
    }
    ErrorKeeper keep;
    WString name;
    UINT n = GetTempFileNameImpl(path.c_str(), lpPrefixString ? prefix.c_str() : nullptr, uUnique, name);
    if (n)
    {
        std::string a = WideToAnsi(name);
        memcpy(lpTempFileName, a.c_str(), a.size() + 1);
        keep.Restore();
    }
    return n;
}

W32EMU_API DWORD W32EmuPendingRenameCount(void)
{
    StateLock lock(StateMutex());
    return (DWORD)PendingRenames().size();
}

W32EMU_API BOOL W32EmuPendingRenameAt(DWORD i, char *pszOld, size_t cbOld, char *pszNew, size_t cbNew)
{
    StateLock lock(StateMutex());
    auto &v = PendingRenames();
    if (i >= v.size())
    {
        return FailBool(ERROR_INVALID_PARAMETER);
    }
    if (!pszOld || !pszNew || cbOld <= v[i].strOld.size() || cbNew <= v[i].strNew.size())
    {
        return FailBool(ERROR_INSUFFICIENT_BUFFER);
    }
    memcpy(pszOld, v[i].strOld.c_str(), v[i].strOld.size() + 1);
    memcpy(pszNew, v[i].strNew.c_str(), v[i].strNew.size() + 1);
    return TRUE;
}

W32EMU_API void W32EmuPendingRenameClear(void)
{
    StateLock lock(StateMutex());
    PendingRenames().clear();
}
