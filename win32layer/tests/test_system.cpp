// Version, debug output, MulDiv, time, critical sections, the last error per
// thread, and the printer-driver directory.
#include "support.h"

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace
{

class System : public LayerTest
{
};

TEST_F(System, VersionSizes)
{
    OSVERSIONINFOEXA v;
    memset(&v, 0xCC, sizeof v);
    v.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    EXPECT_EQ(Probe([&] { return GetVersionExA((LPOSVERSIONINFOA)&v); }), std::make_pair(TRUE, PROBE));
    EXPECT_EQ(v.dwMajorVersion, 5u);
    EXPECT_EQ(v.dwMinorVersion, 1u);
    EXPECT_EQ(v.dwBuildNumber, 2600u);
    EXPECT_EQ(v.dwPlatformId, (DWORD)VER_PLATFORM_WIN32_NT);
    EXPECT_STREQ(v.szCSDVersion, "");
    EXPECT_EQ(v.wServicePackMajor, 0xCCCC); // the short structure ends before it
    v.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    EXPECT_EQ(Probe([&] { return GetVersionExA((LPOSVERSIONINFOA)&v); }), std::make_pair(TRUE, PROBE));
    EXPECT_EQ(v.wServicePackMajor, 0);
    EXPECT_EQ(v.wProductType, 1); // VER_NT_WORKSTATION
    for (DWORD cb : {0u, 147u, 149u, 150u, 155u, 157u})
    {
        v.dwOSVersionInfoSize = cb;
        EXPECT_EQ(Probe([&] { return GetVersionExA((LPOSVERSIONINFOA)&v); }),
                  std::make_pair(FALSE, (DWORD)ERROR_INSUFFICIENT_BUFFER))
            << cb;
    }
    // NT 4.0 before Service Pack 4 knows only the short structure.
    W32EmuSetVersion(VER_PLATFORM_WIN32_NT, 4, 0, 1381, FALSE);
    v.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    EXPECT_EQ(Probe([&] { return GetVersionExA((LPOSVERSIONINFOA)&v); }),
              std::make_pair(FALSE, (DWORD)ERROR_INSUFFICIENT_BUFFER));
    v.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    EXPECT_TRUE(GetVersionExA((LPOSVERSIONINFOA)&v));
    EXPECT_EQ(v.dwMajorVersion, 4u);
    EXPECT_EQ(v.dwBuildNumber, 1381u);
}

TEST_F(System, DebugJournal)
{
    OutputDebugStringW(u"wide \u3042\n");
    OutputDebugStringA("ansi \x80\n");
    OutputDebugStringA(nullptr);
    ASSERT_EQ(W32EmuDebugCount(), 2u);
    EXPECT_EQ(std::u16string(W32EmuDebugAt(0)), u"wide \u3042\n");
    EXPECT_EQ(std::u16string(W32EmuDebugAt(1)), u"ansi \u20ac\n");
    EXPECT_EQ(W32EmuDebugAt(2), nullptr);
    // Earlier strings stay where they are as the journal grows.
    LPCWSTR pFirst = W32EmuDebugAt(0);
    for (int i = 0; i < 1000; i++)
    {
        OutputDebugStringW(u"more");
    }
    EXPECT_EQ(W32EmuDebugAt(0), pFirst);
    W32EmuDebugClear();
    EXPECT_EQ(W32EmuDebugCount(), 0u);
}

TEST_F(System, DebugSinks)
{
    W32EmuDebugSinks(TRUE, TRUE);
    testing::internal::CaptureStderr();
    OutputDebugStringW(u"to stderr \u00e9\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "to stderr \xC3\xA9\n");
    EXPECT_EQ(W32EmuDebugCount(), 1u);

    W32EmuDebugSinks(FALSE, FALSE);
    testing::internal::CaptureStderr();
    OutputDebugStringW(u"nowhere");
    OutputDebugStringA("nowhere");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(W32EmuDebugCount(), 1u);

    W32EmuDebugSinks(TRUE, FALSE);
    testing::internal::CaptureStderr();
    OutputDebugStringW(u"quiet");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(W32EmuDebugCount(), 2u);
    EXPECT_EQ(std::u16string(W32EmuDebugAt(1)), u"quiet");
    W32EmuDebugClear();
}

TEST_F(System, MulDiv)
{
    struct
    {
        int a, b, c, result;
    } cases[] = {
        {6, 4, 3, 8},
        {1, 1, 2, 1},
        {-1, 1, 2, -1},
        {1, 1, -2, -1},
        {3, 1, -2, -2},
        {-3, 1, -2, 2},
        {5, 1, 3, 2},
        {4, 1, 3, 1},
        {0x7FFFFFFF, 2, 2, 0x7FFFFFFF},
        {0x40000000, 4, 2, -1},
        {0x7FFFFFFF, 2, 1, -1},
        {1, 1, 0, -1},
        {-0x7FFFFFFF, 1, 1, -0x7FFFFFFF},
        {2, 3, -1, -6},
    };
    for (auto &c : cases)
    {
        EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.result) << c.a << " * " << c.b << " / " << c.c;
    }
    // The intermediate product is 64 bits.
    EXPECT_EQ(MulDiv(0x10000, 0x10000, 0x10000), 0x10000);
    // INT_MIN is out of range, as the Windows test platform shows.
    EXPECT_EQ(MulDiv(-0x7FFFFFFF - 1, 1, 1), -1);
}

TEST_F(System, TickCountAdvances)
{
    DWORD t0 = GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    DWORD t1 = GetTickCount();
    EXPECT_GE(t1 - t0, 15u);
    EXPECT_LT(t1 - t0, 5000u);
}

TEST_F(System, SleepWaitsAndThreadIdsDiffer)
{
    DWORD t0 = GetTickCount();
    Sleep(20);
    EXPECT_GE(GetTickCount() - t0, 15u);
    DWORD dwMain = GetCurrentThreadId();
    DWORD dwOther = 0;
    std::thread([&] { dwOther = GetCurrentThreadId(); }).join();
    EXPECT_NE(dwMain, 0u);
    EXPECT_NE(dwOther, 0u);
    EXPECT_NE(dwMain, dwOther);
    EXPECT_EQ(GetCurrentThreadId(), dwMain);
}

TEST_F(System, LastErrorIsPerThread)
{
    SetLastError(111);
    DWORD dwOther = 0;
    std::thread([&] {
        dwOther = GetLastError();
        SetLastError(222);
    }).join();
    EXPECT_EQ(dwOther, 0u);
    EXPECT_EQ(GetLastError(), 111u);
}

TEST_F(System, CriticalSections)
{
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs); // recursive
    EXPECT_EQ(cs.RecursionCount, 2);
    std::atomic<int> counter{0};
    std::thread t([&] {
        // Not the owner: this leave must not release the section.
        LeaveCriticalSection(&cs);
        EnterCriticalSection(&cs);
        counter = 1;
        LeaveCriticalSection(&cs);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(counter.load(), 0);
    LeaveCriticalSection(&cs);
    EXPECT_EQ(counter.load(), 0);
    LeaveCriticalSection(&cs);
    t.join();
    EXPECT_EQ(counter.load(), 1);
    EXPECT_EQ(cs.RecursionCount, 0);
    DeleteCriticalSection(&cs);
}

TEST_F(System, ThreadsShareTheTablesSafely)
{
    Put("C:\\shared.txt", "x");
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; t++)
    {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; i++)
            {
                HANDLE h =
                    CreateFileA("C:\\shared.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
                HGLOBAL p = GlobalAlloc(GMEM_FIXED, 16);
                if (h == INVALID_HANDLE_VALUE || !p || !CloseHandle(h) || GlobalFree(p))
                {
                    failures++;
                }
            }
        });
    }
    for (auto &t : threads)
    {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(System, PrinterDriverDirectory)
{
    const std::string dir = "C:\\WINDOWS\\system32\\spool\\drivers\\w32x86";
    const DWORD cbNeeded = (DWORD)dir.size() + 1;
    for (DWORD cb : {0u, cbNeeded - 1, cbNeeded, cbNeeded + 1})
    {
        char buf[64];
        memset(buf, '#', sizeof buf);
        DWORD needed = 0;
        auto [ok, err] =
            Probe([&] { return GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (LPBYTE)buf, cb, &needed); });
        EXPECT_EQ(needed, cbNeeded) << cb;
        if (cb >= cbNeeded)
        {
            EXPECT_TRUE(ok);
            EXPECT_EQ(err, PROBE);
            EXPECT_EQ(std::string(buf), dir);
        }
        else
        {
            EXPECT_FALSE(ok);
            EXPECT_EQ(err, (DWORD)ERROR_INSUFFICIENT_BUFFER);
            EXPECT_EQ(buf[0], '#');
        }
    }
    char buf[64];
    DWORD needed;
    EXPECT_EQ(Probe([&] { return GetPrinterDriverDirectoryA(nullptr, nullptr, 2, (LPBYTE)buf, 64, &needed); }),
              std::make_pair(FALSE, (DWORD)ERROR_INVALID_LEVEL));
    EXPECT_EQ(Probe([&] { return GetPrinterDriverDirectoryA(nullptr, (LPSTR) "Bogus", 1, (LPBYTE)buf, 64, &needed); }),
              std::make_pair(FALSE, (DWORD)ERROR_INVALID_ENVIRONMENT));
    EXPECT_EQ(Probe([&] {
                  return GetPrinterDriverDirectoryA(nullptr, (LPSTR) "windows nt x86", 1, (LPBYTE)buf, 64, &needed);
              }),
              std::make_pair(TRUE, PROBE));
    // The spooler's RPC interface refuses a null reference pointer (the
    // Windows test platform lets it pass).
    EXPECT_EQ(Probe([&] { return GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (LPBYTE)buf, 64, nullptr); }),
              std::make_pair(FALSE, (DWORD)RPC_X_NULL_REF_POINTER));
    EXPECT_EQ(Probe([&] { return GetPrinterDriverDirectoryA(nullptr, nullptr, 1, nullptr, 64, &needed); }),
              std::make_pair(FALSE, (DWORD)ERROR_INVALID_USER_BUFFER));
    // It follows the Windows directory.
    W32EmuSetWindowsDir(u"C:\\WINNT");
    EXPECT_TRUE(GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (LPBYTE)buf, 64, &needed));
    EXPECT_STREQ(buf, "C:\\WINNT\\system32\\spool\\drivers\\w32x86");
    // Made to fail by the test control, until told otherwise.
    W32EmuSetDriverDirectoryError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(Probe([&] { return GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (LPBYTE)buf, 64, &needed); }),
              std::make_pair(FALSE, (DWORD)ERROR_ACCESS_DENIED));
    W32EmuSetDriverDirectoryError(0);
    EXPECT_TRUE(GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (LPBYTE)buf, 64, &needed));
}

} // namespace
