// The files the twins move data through. Win32File makes the Win32 API's
// calls: on Windows they are kernel32's, so it is the raw twin's file; on
// Linux they go through our Win32 layer, so it is the layer twin's, and
// PosixFile, with plain system calls, is the raw twin's. Each call is the
// one system call the hook's own call comes down to, with nothing around it.
#pragma once

#include <windows.h>

#include <string>

#include "spoolsim.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <w32emu.h>
#endif

namespace bench
{

enum class FileMode
{
    New,           // created empty (or emptied), for reading and writing
    ExistingWrite, // opened as it is, for writing (a device such as the null device)
};

class Win32File
{
  public:
    Win32File(const spoolsim::WString &path, FileMode mode) : m_path(path)
    {
        m_h = mode == FileMode::New ? CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr)
                                    : CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ~Win32File()
    {
        Close();
    }
    Win32File(const Win32File &) = delete;
    Win32File &operator=(const Win32File &) = delete;

    bool IsOpen() const
    {
        return m_h != INVALID_HANDLE_VALUE;
    }
    bool Write(const void *pv, size_t cb)
    {
        DWORD cbDone = 0;
        return WriteFile(m_h, pv, static_cast<DWORD>(cb), &cbDone, nullptr) && cbDone == cb;
    }
    size_t Read(void *pv, size_t cb)
    {
        DWORD cbDone = 0;
        return ReadFile(m_h, pv, static_cast<DWORD>(cb), &cbDone, nullptr) ? cbDone : 0;
    }
    // As the hook seeks its spool file: a 32-bit offset with a high part of 0.
    bool Seek(DWORD dwOffset)
    {
        LONG lHigh = 0;
        SetLastError(NO_ERROR);
        return SetFilePointer(m_h, static_cast<LONG>(dwOffset), &lHigh, FILE_BEGIN) != INVALID_SET_FILE_POINTER ||
               GetLastError() == NO_ERROR;
    }
    void Close()
    {
        if (m_h != INVALID_HANDLE_VALUE)
        {
            CloseHandle(m_h);
            m_h = INVALID_HANDLE_VALUE;
        }
    }
    void Delete()
    {
        Close();
        DeleteFileW(m_path.c_str());
    }

  private:
    spoolsim::WString m_path;
    HANDLE m_h = INVALID_HANDLE_VALUE;
};

#ifndef _WIN32
class PosixFile
{
  public:
    // The Windows path is mapped to the host's once, before anything is timed.
    PosixFile(const spoolsim::WString &path, FileMode mode)
    {
        char szHost[4096];
        if (W32EmuToHostPath(path.c_str(), szHost, sizeof(szHost)))
        {
            m_host = szHost;
            m_fd = mode == FileMode::New ? open(szHost, O_CREAT | O_TRUNC | O_RDWR | O_CLOEXEC, 0600)
                                         : open(szHost, O_WRONLY | O_CLOEXEC);
        }
    }
    ~PosixFile()
    {
        Close();
    }
    PosixFile(const PosixFile &) = delete;
    PosixFile &operator=(const PosixFile &) = delete;

    bool IsOpen() const
    {
        return m_fd >= 0;
    }
    bool Write(const void *pv, size_t cb)
    {
        return write(m_fd, pv, cb) == static_cast<ssize_t>(cb);
    }
    size_t Read(void *pv, size_t cb)
    {
        ssize_t n = read(m_fd, pv, cb);
        return n > 0 ? static_cast<size_t>(n) : 0;
    }
    bool Seek(DWORD dwOffset)
    {
        return lseek(m_fd, static_cast<off_t>(dwOffset), SEEK_SET) >= 0;
    }
    void Close()
    {
        if (m_fd >= 0)
        {
            close(m_fd);
            m_fd = -1;
        }
    }
    void Delete()
    {
        Close();
        unlink(m_host.c_str());
    }

  private:
    std::string m_host;
    int m_fd = -1;
};
#endif

// The raw twin's file, what its calls are called, and whether there is a
// layer between the Win32 API and the system to measure apart.
#ifdef _WIN32
using RawFile = Win32File;
const char kRawWrite[] = "WriteFile";
const char kRawRead[] = "ReadFile";
constexpr bool kLayerTwin = false;
#else
using RawFile = PosixFile;
const char kRawWrite[] = "write()";
const char kRawRead[] = "read()";
constexpr bool kLayerTwin = true;
#endif

} // namespace bench
