// The redirect table, and planned failures.
#include "support.h"

#include <set>
#include <string>

namespace
{

class Redirect : public LayerTest
{
};

class Faults : public LayerTest
{
};

std::string g_written;

BOOL WINAPI FakeWritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten)
{
    if (hPrinter != (HANDLE)0x42)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    g_written.append((const char *)pBuf, cbBuf);
    *pcWritten = cbBuf;
    return TRUE;
}

int WINAPI FakeMessageBoxW(HWND, LPCWSTR lpText, LPCWSTR, UINT uType)
{
    return lpText[0] == u'?' && (uType & MB_OKCANCEL) ? IDCANCEL : IDOK;
}

TEST_F(Redirect, UnregisteredCallsFailLoudly)
{
    DWORD n = 99;
    HDC hdc = (HDC)(uintptr_t)1;
    EXPECT_EQ(Probe([&] { return WritePrinter((HANDLE)1, (LPVOID) "x", 1, &n); }),
              std::make_pair(FALSE, (DWORD)ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(Probe([&] { return StartDocPrinterW((HANDLE)1, 1, nullptr); }),
              std::make_pair((DWORD)0, (DWORD)ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(Probe([&] { return MessageBoxW(nullptr, u"t", nullptr, MB_OK); }),
              std::make_pair(0, (DWORD)ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(Probe([&] { return CreateDCW(u"WINSPOOL", u"P", nullptr, nullptr); }),
              std::make_pair((HDC) nullptr, (DWORD)ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(Probe([&] { return SetTextColor(hdc, 0); }),
              std::make_pair((COLORREF)CLR_INVALID, (DWORD)ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(Probe([&] { return SetTextAlign(hdc, TA_LEFT); }),
              std::make_pair((UINT)GDI_ERROR, (DWORD)ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(Probe([&] { return StartDocW(hdc, nullptr); }),
              std::make_pair(SP_ERROR, (DWORD)ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(Probe([&] { return GetPath(hdc, nullptr, nullptr, 0); }),
              std::make_pair(-1, (DWORD)ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(Probe([&] { return TextOutW(hdc, 0, 0, u"x", 1); }),
              std::make_pair(FALSE, (DWORD)ERROR_CALL_NOT_IMPLEMENTED));
}

TEST_F(Redirect, RegisteredFunctionsAreCalled)
{
    g_written.clear();
    EXPECT_TRUE(W32EmuRedirect("WINSPOOL.DRV", "WritePrinter", (void *)&FakeWritePrinter));
    EXPECT_TRUE(W32EmuRedirect("user32.dll", "MessageBoxW", (void *)&FakeMessageBoxW));
    DWORD n = 0;
    EXPECT_EQ(Probe([&] { return WritePrinter((HANDLE)0x42, (LPVOID) "abc", 3, &n); }), std::make_pair(TRUE, PROBE));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(Probe([&] { return WritePrinter((HANDLE)7, (LPVOID) "d", 1, &n); }),
              std::make_pair(FALSE, (DWORD)ERROR_INVALID_HANDLE));
    EXPECT_EQ(g_written, "abc");
    EXPECT_EQ(MessageBoxW(nullptr, u"?", u"c", MB_OKCANCEL), IDCANCEL);
    // NULL removes one entry; clearing removes all.
    EXPECT_TRUE(W32EmuRedirect("winspool.drv", "WritePrinter", nullptr));
    EXPECT_EQ(Probe([&] { return WritePrinter((HANDLE)0x42, (LPVOID) "x", 1, &n); }).second,
              (DWORD)ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_EQ(MessageBoxW(nullptr, u"!", u"c", MB_OK), IDOK);
    W32EmuRedirectClear();
    EXPECT_EQ(MessageBoxW(nullptr, u"!", u"c", MB_OK), 0);
}

TEST_F(Redirect, OnlyKnownNames)
{
    auto fn = (void *)&FakeWritePrinter;
    EXPECT_EQ(Probe([&] { return W32EmuRedirect("winspool.drv", "OpenPrinterW", fn); }),
              std::make_pair(FALSE, (DWORD)ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(Probe([&] { return W32EmuRedirect("gdi32.dll", "MessageBoxW", fn); }),
              std::make_pair(FALSE, (DWORD)ERROR_PROC_NOT_FOUND)); // right name, wrong DLL
    EXPECT_EQ(Probe([&] { return W32EmuRedirect("winspool.drv", "writeprinter", fn); }),
              std::make_pair(FALSE, (DWORD)ERROR_PROC_NOT_FOUND)); // export names keep their case
    EXPECT_EQ(Probe([&] { return W32EmuRedirect("winspool", "WritePrinter", fn); }),
              std::make_pair(FALSE, (DWORD)ERROR_MOD_NOT_FOUND));
    EXPECT_TRUE(W32EmuRedirect("Gdi32.DLL", "TranslateCharsetInfo", fn));
}

TEST_F(Faults, NthCallAndCount)
{
    // The 2nd call from now fails, and 2 in all; then calls succeed again.
    W32EmuFailCall("GlobalAlloc", 2, ERROR_OUTOFMEMORY, 2);
    std::vector<HGLOBAL> results;
    std::vector<DWORD> errors;
    for (int i = 0; i < 5; i++)
    {
        auto [p, err] = Probe([] { return GlobalAlloc(GMEM_FIXED, 4); });
        results.push_back(p);
        errors.push_back(err);
    }
    EXPECT_NE(results[0], nullptr);
    EXPECT_EQ(results[1], nullptr);
    EXPECT_EQ(results[2], nullptr);
    EXPECT_NE(results[3], nullptr);
    EXPECT_NE(results[4], nullptr);
    EXPECT_EQ(errors, (std::vector<DWORD>{PROBE, ERROR_OUTOFMEMORY, ERROR_OUTOFMEMORY, PROBE, PROBE}));
    EXPECT_EQ(W32EmuCallCount("GlobalAlloc"), 5u);
    for (HGLOBAL p : results)
    {
        GlobalFree(p);
    }
    // 0: every call from the nth on.
    W32EmuFailCall("GlobalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY, 0);
    for (int i = 0; i < 3; i++)
    {
        EXPECT_EQ(Probe([] { return GlobalAlloc(GMEM_FIXED, 4); }),
                  std::make_pair((HGLOBAL) nullptr, (DWORD)ERROR_NOT_ENOUGH_MEMORY));
    }
    W32EmuResetFaults();
    EXPECT_EQ(W32EmuCallCount("GlobalAlloc"), 0u);
    HGLOBAL p = GlobalAlloc(GMEM_FIXED, 4);
    EXPECT_NE(p, nullptr);
    GlobalFree(p);
}

TEST_F(Faults, FailureValues)
{
    Put("C:\\f.txt", "abc");
    HANDLE h = CreateFileA("C:\\f.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const DWORD E = 0x2000DEAD;
    for (DWORD i = 0; const char *psz = W32EmuFaultableAt(i); i++)
    {
        W32EmuFailCall(psz, 1, E, 0);
    }
    char buf[MAX_PATH];
    WCHAR wbuf[MAX_PATH];
    DWORD n = 99;
    EXPECT_EQ(Probe([&] { return CreateFileW(u"C:\\f.txt", GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr); }),
              std::make_pair(INVALID_HANDLE_VALUE, E));
    EXPECT_EQ(Probe([&] { return ReadFile(h, buf, 1, &n, nullptr); }), std::make_pair(FALSE, E));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(Probe([&] { return WriteFile(h, "xyz", 3, &n, nullptr); }), std::make_pair(FALSE, E));
    EXPECT_EQ(Probe([&] { return SetFilePointer(h, 0, nullptr, FILE_BEGIN); }),
              std::make_pair(INVALID_SET_FILE_POINTER, E));
    EXPECT_EQ(Probe([&] { return GetFileSize(h, nullptr); }), std::make_pair(INVALID_FILE_SIZE, E));
    EXPECT_EQ(Probe([&] { return CloseHandle(h); }), std::make_pair(FALSE, E));
    EXPECT_EQ(Probe([&] { return DeleteFileW(u"C:\\f.txt"); }), std::make_pair(FALSE, E));
    EXPECT_EQ(Probe([&] { return MoveFileExA("C:\\f.txt", "C:\\g.txt", 0); }), std::make_pair(FALSE, E));
    EXPECT_EQ(Probe([&] { return GetTempPathW(MAX_PATH, wbuf); }), std::make_pair((DWORD)0, E));
    EXPECT_EQ(Probe([&] { return GetTempFileNameW(u"C:\\", u"x", 0, wbuf); }), std::make_pair(0u, E));
    EXPECT_EQ(Probe([&] { return GetWindowsDirectoryW(wbuf, MAX_PATH); }), std::make_pair(0u, E));
    EXPECT_EQ(Probe([&] { return GetPrivateProfileStringW(u"s", u"k", u"d", wbuf, MAX_PATH, u"C:\\p.ini"); }),
              std::make_pair((DWORD)0, E));
    EXPECT_EQ(wbuf[0], 0);
    EXPECT_EQ(Probe([&] { return WritePrivateProfileStringW(u"s", u"k", u"v", u"C:\\p.ini"); }),
              std::make_pair(FALSE, E));
    EXPECT_EQ(Probe([&] { return MultiByteToWideChar(CP_ACP, 0, "a", -1, wbuf, MAX_PATH); }), std::make_pair(0, E));
    EXPECT_EQ(Probe([&] { return LoadLibraryW(u"C:\\x.dll"); }), std::make_pair((HMODULE) nullptr, E));
    EXPECT_EQ(Probe([&] { return SearchPathA("C:\\", "f.txt", nullptr, MAX_PATH, buf, nullptr); }),
              std::make_pair((DWORD)0, E));
    WIN32_FIND_DATAA fd;
    EXPECT_EQ(Probe([&] { return FindFirstFileA("C:\\*", &fd); }), std::make_pair(INVALID_HANDLE_VALUE, E));
    EXPECT_EQ(Probe([&] { return RemoveDirectoryA("C:\\d"); }), std::make_pair(FALSE, E));
    OSVERSIONINFOA v;
    v.dwOSVersionInfoSize = sizeof v;
    EXPECT_EQ(Probe([&] { return GetVersionExA(&v); }), std::make_pair(FALSE, E));
    DWORD needed;
    EXPECT_EQ(Probe([&] { return GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (LPBYTE)buf, MAX_PATH, &needed); }),
              std::make_pair(FALSE, E));
    EXPECT_EQ(Probe([&] { return WritePrinter((HANDLE)1, buf, 1, &n); }), std::make_pair(FALSE, E));
    // Nothing happened.
    W32EmuResetFaults();
    EXPECT_EQ(Get("C:\\f.txt"), "abc");
    EXPECT_FALSE(HostExists("C:\\p.ini"));
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Faults, RequiredNamesAreFaultable)
{
    std::set<std::string> names;
    for (DWORD i = 0; const char *psz = W32EmuFaultableAt(i); i++)
    {
        EXPECT_TRUE(names.insert(psz).second) << psz;
    }
    for (const char *psz : {"GlobalAlloc",
                            "CreateFileW",
                            "CreateFileA",
                            "ReadFile",
                            "WriteFile",
                            "SetFilePointer",
                            "GetFileSize",
                            "CloseHandle",
                            "DeleteFileW",
                            "DeleteFileA",
                            "MoveFileExA",
                            "LoadLibraryW",
                            "GetProcAddress",
                            "GetTempPathW",
                            "GetTempFileNameW",
                            "GetPrivateProfileStringW",
                            "WritePrivateProfileStringW",
                            "MultiByteToWideChar",
                            "GetWindowsDirectoryW",
                            "FindFirstFileA",
                            "RemoveDirectoryA",
                            "SearchPathA",
                            "GetVersionExA",
                            "GetPrinterDriverDirectoryA"})
    {
        EXPECT_TRUE(names.count(psz)) << psz;
    }
}

TEST_F(Faults, UnknownNamesAreReported)
{
    testing::internal::CaptureStderr();
    W32EmuFailCall("GlobalAloc", 1, ERROR_OUTOFMEMORY, 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("GlobalAloc"), std::string::npos);
    HGLOBAL p = GlobalAlloc(GMEM_FIXED, 1);
    EXPECT_NE(p, nullptr);
    GlobalFree(p);
}

TEST_F(Faults, LayerInternalCallsAreNotCounted)
{
    // Profile files and temporary names open files inside the layer, as
    // kernel32 does, not through the faultable entry points.
    W32EmuFailCall("CreateFileW", 1, ERROR_ACCESS_DENIED, 0);
    W32EmuFailCall("WriteFile", 1, ERROR_ACCESS_DENIED, 0);
    EXPECT_TRUE(WritePrivateProfileStringW(u"s", u"k", u"v", u"C:\\p.ini"));
    WCHAR sz[MAX_PATH];
    EXPECT_NE(GetTempFileNameW(u"C:\\", u"t", 0, sz), 0u);
    EXPECT_EQ(W32EmuCallCount("CreateFileW"), 0u);
    EXPECT_EQ(W32EmuCallCount("WriteFile"), 0u);
    EXPECT_EQ(W32EmuCallCount("WritePrivateProfileStringW"), 1u);
}

TEST_F(Faults, ShortWrites)
{
    HANDLE h = CreateFileA("C:\\f.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD n = 99;
    // The 2nd write from now writes 2 bytes and fails with a full disk.
    W32EmuShortWrite(2, 2, FALSE);
    EXPECT_EQ(Probe([&] { return WriteFile(h, "aaaa", 4, &n, nullptr); }), std::make_pair(TRUE, PROBE));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(Probe([&] { return WriteFile(h, "bbbb", 4, &n, nullptr); }),
              std::make_pair(FALSE, (DWORD)ERROR_DISK_FULL));
    EXPECT_EQ(n, 2u);
    // Or succeeds with the short count.
    W32EmuShortWrite(1, 1, TRUE);
    EXPECT_EQ(Probe([&] { return WriteFile(h, "cccc", 4, &n, nullptr); }), std::make_pair(TRUE, PROBE));
    EXPECT_EQ(n, 1u);
    EXPECT_TRUE(WriteFile(h, "dd", 2, &n, nullptr));
    CloseHandle(h);
    EXPECT_EQ(Get("C:\\f.bin"), "aaaabbcdd");
}

TEST_F(Faults, HeldFiles)
{
    Put("C:\\in use.dll", "x");
    EXPECT_EQ(Probe([] { return W32EmuHoldFileA("C:\\missing.dll"); }),
              std::make_pair(FALSE, (DWORD)ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(W32EmuHoldFileA("C:\\IN USE.DLL"));
    // As Windows treats a mapped program image: no deletion, but renaming.
    EXPECT_EQ(Probe([] { return DeleteFileA("C:\\in use.dll"); }), std::make_pair(FALSE, (DWORD)ERROR_ACCESS_DENIED));
    EXPECT_EQ(Probe([] { return MoveFileExA("C:\\in use.dll", "C:\\old.dll", 0); }), std::make_pair(TRUE, PROBE));
    // The hold follows the file to its new name; it cannot be replaced either.
    EXPECT_EQ(Probe([] { return DeleteFileA("C:\\old.dll"); }), std::make_pair(FALSE, (DWORD)ERROR_ACCESS_DENIED));
    Put("C:\\new.dll", "y");
    EXPECT_EQ(Probe([] { return MoveFileExA("C:\\new.dll", "C:\\old.dll", MOVEFILE_REPLACE_EXISTING); }),
              std::make_pair(FALSE, (DWORD)ERROR_ACCESS_DENIED));
    W32EmuReleaseFileA("C:\\old.dll");
    EXPECT_TRUE(DeleteFileA("C:\\old.dll"));
    // Reset releases holds.
    EXPECT_TRUE(W32EmuHoldFileA("C:\\new.dll"));
    W32EmuResetFaults();
    EXPECT_TRUE(DeleteFileA("C:\\new.dll"));
}

// With counting off, as a benchmark runs, calls are neither counted nor
// failed; planning a fault turns counting back on from where it stopped.
TEST_F(Faults, CountingOff)
{
    struct Restore
    {
        ~Restore()
        {
            W32EmuCountCalls(TRUE);
        }
    } restore;
    W32EmuFailCall("WriteFile", 1, ERROR_DISK_FULL, 0);
    W32EmuShortWrite(1, 1, FALSE);
    W32EmuCountCalls(FALSE);
    W32EmuResetFaults(); // leaves counting off
    HANDLE h = CreateFileA("C:\\f.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD n = 0;
    EXPECT_EQ(Probe([&] { return WriteFile(h, "aaaa", 4, &n, nullptr); }), std::make_pair(TRUE, PROBE));
    EXPECT_EQ(n, 4u);
    GlobalFree(GlobalAlloc(GMEM_FIXED, 4));
    EXPECT_EQ(W32EmuCallCount("WriteFile"), 0u);
    EXPECT_EQ(W32EmuCallCount("GlobalAlloc"), 0u);
    EXPECT_EQ(W32EmuCallCount("CreateFileA"), 0u);

    // A failure planned while off: counted from here, and it comes due.
    W32EmuFailCall("WriteFile", 2, ERROR_DISK_FULL, 1);
    EXPECT_EQ(Probe([&] { return WriteFile(h, "bb", 2, &n, nullptr); }), std::make_pair(TRUE, PROBE));
    EXPECT_EQ(Probe([&] { return WriteFile(h, "cc", 2, &n, nullptr); }), std::make_pair(FALSE, (DWORD)ERROR_DISK_FULL));
    EXPECT_EQ(W32EmuCallCount("WriteFile"), 2u);

    // Off with a short write planned: it waits until counting is on again.
    W32EmuShortWrite(1, 1, TRUE);
    W32EmuCountCalls(FALSE);
    EXPECT_EQ(Probe([&] { return WriteFile(h, "dd", 2, &n, nullptr); }), std::make_pair(TRUE, PROBE));
    EXPECT_EQ(n, 2u);
    W32EmuCountCalls(TRUE);
    EXPECT_EQ(Probe([&] { return WriteFile(h, "ee", 2, &n, nullptr); }), std::make_pair(TRUE, PROBE));
    EXPECT_EQ(n, 1u);
    CloseHandle(h);
    EXPECT_EQ(Get("C:\\f.bin"), "aaaabbdde");
}

} // namespace
