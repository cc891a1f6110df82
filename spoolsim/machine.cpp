// The machine a test runs on: the Windows and driver directories, the
// package's files in them, and file access through kernel32 (the Win32 layer
// on Linux, the real one under Wine).
#include "simstate.h"

namespace spoolsim
{

#ifndef SPOOLSIM_BIN_DIR
#error "SPOOLSIM_BIN_DIR names the build's bin folder as a Windows path"
#endif

WString WindowsDir()
{
    WCHAR sz[MAX_PATH];
    UINT cch = GetWindowsDirectoryW(sz, MAX_PATH);
    return cch > 0 && cch < MAX_PATH ? WString(sz) : WString();
}

WString DriverDir()
{
    return WindowsDir() + W("\\system32\\spool\\drivers\\w32x86\\2");
}

WString DriverFile(const WString &name)
{
    return DriverDir() + W("\\") + name;
}

WString BuildBinDir()
{
    return Widen(SPOOLSIM_BIN_DIR);
}

// Makes every directory of a path.
static void MakeDirectories(const WString &path)
{
    for (size_t i = 3; i <= path.size(); i++)
    {
        if (i == path.size() || path[i] == '\\')
        {
            CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
        }
    }
}

Machine::Machine(OverlayLibrary overlay)
{
    m_hostRoot = platform::NewMachineRoot(&m_problem);
    if (!m_problem.empty())
    {
        return; // no C:\ to make folders in
    }
    MakeDirectories(DriverDir());
    MakeDirectories(WindowsDir() + W("\\system32\\spool\\drivers\\w32x86\\3"));
    WCHAR szTemp[MAX_PATH];
    if (GetTempPathW(MAX_PATH, szTemp) > 0)
    {
        MakeDirectories(WString(szTemp).substr(0, WString(szTemp).size() - 1));
    }
    platform::CleanDriverDirectory();
    static const WCHAR *const apszFolders[] = {W(""), nullptr, W("\\noread"), W("\\huge")};
    const WCHAR *pszFolder = apszFolders[static_cast<int>(overlay)];
    if (pszFolder != nullptr)
    {
        CopyFileBytes(BuildBinDir() + pszFolder + W("\\kd7720o.dll"), DriverFile(W("kd7720o.dll")));
    }
}

Machine::~Machine()
{
    if (m_problem.empty())
    {
        CleanUp(m_hostRoot);
    }
}

void Machine::CleanUp(const std::string &hostRoot)
{
    platform::CleanDriverDirectory();
    platform::DropMachineRoot(hostRoot);
}

bool Machine::WriteFileBytes(const WString &path, const Bytes &data)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
    {
        return false;
    }
    bool ok = true;
    size_t ib = 0;
    while (ok && ib < data.size())
    {
        DWORD cb = static_cast<DWORD>(std::min<size_t>(data.size() - ib, 1 << 20));
        DWORD cbWritten = 0;
        ok = WriteFile(h, data.data() + ib, cb, &cbWritten, nullptr) && cbWritten == cb;
        ib += cb;
    }
    CloseHandle(h);
    return ok;
}

std::optional<Bytes> Machine::ReadFileBytes(const WString &path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
    {
        return std::nullopt;
    }
    Bytes data;
    BYTE chunk[65536];
    DWORD cbRead = 0;
    bool ok = true;
    while ((ok = ReadFile(h, chunk, sizeof(chunk), &cbRead, nullptr) != FALSE) && cbRead > 0)
    {
        data.insert(data.end(), chunk, chunk + cbRead);
    }
    CloseHandle(h);
    if (!ok)
    {
        return std::nullopt;
    }
    return data;
}

bool Machine::Exists(const WString &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Machine::Remove(const WString &path)
{
    return DeleteFileW(path.c_str()) != FALSE;
}

bool Machine::CopyFileBytes(const WString &from, const WString &to)
{
    std::optional<Bytes> data = ReadFileBytes(from);
    return data && WriteFileBytes(to, *data);
}

bool Machine::WriteIni(const std::string &text)
{
    std::string crlf;
    for (char c : text)
    {
        if (c == '\n')
        {
            crlf += '\r';
        }
        crlf += c;
    }
    return WriteFileBytes(DriverFile(W("kd7720u.ini")), ToBytes(crlf));
}

std::string Machine::ReadIniValue(const std::string &section, const std::string &key)
{
    WCHAR sz[1024];
    GetPrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), W("<missing>"), sz, 1024,
                             DriverFile(W("kd7720u.ini")).c_str());
    return Narrow(sz);
}

int Machine::SpoolFilesLeft()
{
    CHAR szTemp[MAX_PATH];
    WIN32_FIND_DATAA fd;
    int count = 0;
    if (GetTempPathA(MAX_PATH, szTemp) == 0)
    {
        return -1;
    }
    std::string pattern = std::string(szTemp) + "VNT*.tmp";
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
    {
        return 0;
    }
    do
    {
        count++;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return count;
}

DWORD OpenHandleCount()
{
    return platform::OpenHandleCount();
}

} // namespace spoolsim
