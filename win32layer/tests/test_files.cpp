// Files: dispositions, sharing, access, seeking, deletion, renaming,
// directories, attributes, temporary names.
#include "support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

namespace
{

class Files : public LayerTest
{
  protected:
    DWORD SizeOf(HANDLE h)
    {
        return GetFileSize(h, nullptr);
    }
};

struct DispositionCase
{
    DWORD dwDisposition;
    bool bExists;
    bool bOpens;
    DWORD dwError;   // the last error after the call, success included
    bool bTruncated; // an existing file's content is gone
};

// CreateFile sets the last error on success too: ERROR_ALREADY_EXISTS when
// CREATE_ALWAYS or OPEN_ALWAYS found the file, otherwise 0.
const DispositionCase g_aDispositions[] = {
    {CREATE_NEW, false, true, 0, false},
    {CREATE_NEW, true, false, ERROR_FILE_EXISTS, false},
    {CREATE_ALWAYS, false, true, 0, false},
    {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, true},
    {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, false},
    {OPEN_EXISTING, true, true, 0, false},
    {OPEN_ALWAYS, false, true, 0, false},
    {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, false},
    {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, false},
    {TRUNCATE_EXISTING, true, true, 0, true},
};

TEST_F(Files, Dispositions)
{
    for (const DispositionCase &c : g_aDispositions)
    {
        SCOPED_TRACE(testing::Message() << "disposition " << c.dwDisposition << (c.bExists ? " existing" : " new"));
        DeleteFileA("C:\\f.txt");
        if (c.bExists)
        {
            Put("C:\\f.txt", "hello");
        }
        auto [h, err] = Probe([&] { return Open("C:\\f.txt", GENERIC_READ | GENERIC_WRITE, 0, c.dwDisposition); });
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.bOpens);
        EXPECT_EQ(err, c.dwError);
        if (h != INVALID_HANDLE_VALUE)
        {
            EXPECT_EQ(SizeOf(h), c.bExists && !c.bTruncated ? 5u : 0u);
            EXPECT_TRUE(CloseHandle(h));
        }
        EXPECT_EQ(HostExists("C:\\f.txt"), c.bExists || c.bOpens);
    }
}

TEST_F(Files, BadDispositionsAndPaths)
{
    Put("C:\\f.txt", "x");
    for (DWORD d : {0u, 6u})
    {
        auto [h, err] = Probe([&] { return Open("C:\\f.txt", GENERIC_READ, 0, d); });
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(err, (DWORD)ERROR_INVALID_PARAMETER);
    }
    // TRUNCATE_EXISTING needs write access.
    auto [h1, e1] = Probe([&] { return Open("C:\\f.txt", GENERIC_READ, 0, TRUNCATE_EXISTING); });
    EXPECT_EQ(h1, INVALID_HANDLE_VALUE);
    EXPECT_EQ(e1, (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Get("C:\\f.txt"), "x");

    for (DWORD d : {CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS})
    {
        auto [h, err] = Probe([&] { return Open("C:\\nodir\\f.txt", GENERIC_WRITE, 0, d); });
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(err, (DWORD)ERROR_PATH_NOT_FOUND) << d;
    }
    // A file used as a directory is a missing path; a file named with a
    // trailing separator is an invalid name.
    auto [h2, e2] = Probe([&] { return Open("C:\\f.txt\\x", GENERIC_READ, 0); });
    EXPECT_EQ(h2, INVALID_HANDLE_VALUE);
    EXPECT_EQ(e2, (DWORD)ERROR_PATH_NOT_FOUND);
    auto [h3, e3] = Probe([&] { return Open("C:\\f.txt\\", GENERIC_READ, 0); });
    EXPECT_EQ(h3, INVALID_HANDLE_VALUE);
    EXPECT_EQ(e3, (DWORD)ERROR_INVALID_NAME);
    auto [h4, e4] = Probe([&] { return Open("C:\\x*y", GENERIC_READ, 0); });
    EXPECT_EQ(h4, INVALID_HANDLE_VALUE);
    EXPECT_EQ(e4, (DWORD)ERROR_INVALID_NAME);
    // Flags the layer does not emulate fail loudly.
    auto [h5, e5] =
        Probe([&] { return CreateFileA("C:\\f.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0x40000000, nullptr); });
    EXPECT_EQ(h5, INVALID_HANDLE_VALUE);
    EXPECT_EQ(e5, (DWORD)ERROR_CALL_NOT_IMPLEMENTED);
    // So do attributes the host cannot keep.
    auto [h6, e6] = Probe([&] {
        return CreateFileA("C:\\h.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    });
    EXPECT_EQ(h6, INVALID_HANDLE_VALUE);
    EXPECT_EQ(e6, (DWORD)ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_FALSE(HostExists("C:\\h.txt"));
}

TEST_F(Files, Directories)
{
    MakeDir("C:\\d");
    auto [h1, e1] = Probe([&] { return Open("C:\\d", GENERIC_READ, FILE_SHARE_READ); });
    EXPECT_EQ(h1, INVALID_HANDLE_VALUE);
    EXPECT_EQ(e1, (DWORD)ERROR_ACCESS_DENIED);
    auto [h2, e2] = Probe([&] { return Open("C:\\d", GENERIC_READ, 0, CREATE_NEW); });
    EXPECT_EQ(h2, INVALID_HANDLE_VALUE);
    EXPECT_EQ(e2, (DWORD)ERROR_FILE_EXISTS);
    auto [h3, e3] = Probe([&] {
        return CreateFileA("C:\\d", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr);
    });
    ASSERT_NE(h3, INVALID_HANDLE_VALUE);
    EXPECT_EQ(e3, (DWORD)ERROR_ALREADY_EXISTS);
    char buf[4];
    DWORD n = 7;
    HANDLE hDir = h3; // a structured binding cannot be captured before C++20
    auto [ok, err] = Probe([&] { return ReadFile(hDir, buf, sizeof buf, &n, nullptr); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, (DWORD)ERROR_INVALID_FUNCTION);
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(CloseHandle(hDir));
}

struct SharingCase
{
    DWORD dwAccess1, dwShare1, dwAccess2, dwShare2;
    bool bSecondOpens;
};

const DWORD R = GENERIC_READ, W = GENERIC_WRITE;
const DWORD SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE, SD = FILE_SHARE_DELETE;

// The check goes both ways: the second open's access against the first's
// share mode, and the first's access against the second's share mode.
const SharingCase g_aSharing[] = {
    {R, SR, R, SR, true},
    {R, SR, W, SR | SW, false},     // second wants write, first does not share it
    {R, SR | SW, W, SR | SW, true}, //
    {W, SR | SW, R, SR, false},     // first writes, second does not share write
    {R | W, SR | SW, R | W, SR | SW, true},
    {R, 0, R, SR, false},                 // first shares nothing
    {R, SR, R, 0, false},                 // second shares nothing, first reads
    {R, 0, 0, 0, true},                   // no data access: no sharing check
    {0, 0, R, 0, true},                   //
    {DELETE, SR | SW, R, SR | SW, false}, // first deletes, second does not share delete
    {R, SR | SW | SD, DELETE, SR, true},
};

TEST_F(Files, SharingBothWays)
{
    Put("C:\\s.txt", "data");
    for (const SharingCase &c : g_aSharing)
    {
        SCOPED_TRACE(testing::Message() << std::hex << c.dwAccess1 << "/" << c.dwShare1 << " then " << c.dwAccess2
                                        << "/" << c.dwShare2);
        HANDLE h1 = Open("C:\\s.txt", c.dwAccess1, c.dwShare1);
        ASSERT_NE(h1, INVALID_HANDLE_VALUE);
        auto [h2, err] = Probe([&] { return Open("C:\\s.txt", c.dwAccess2, c.dwShare2); });
        EXPECT_EQ(h2 != INVALID_HANDLE_VALUE, c.bSecondOpens);
        EXPECT_EQ(err, c.bSecondOpens ? 0u : (DWORD)ERROR_SHARING_VIOLATION);
        if (h2 != INVALID_HANDLE_VALUE)
        {
            CloseHandle(h2);
        }
        CloseHandle(h1);
        // Once the first handle is closed, nothing stands in the way.
        HANDLE h3 = Open("C:\\s.txt", c.dwAccess2, c.dwShare2);
        EXPECT_NE(h3, INVALID_HANDLE_VALUE);
        CloseHandle(h3);
    }
}

TEST_F(Files, SharingAcrossNameSpellings)
{
    Put("C:\\Dir\\File.TXT", "");
    HANDLE h1 = Open("c:/dir//FILE.txt", R, 0);
    ASSERT_NE(h1, INVALID_HANDLE_VALUE);
    auto [h2, err] = Probe([&] { return Open("C:\\DIR\\file.txt", R, SR); });
    EXPECT_EQ(h2, INVALID_HANDLE_VALUE);
    EXPECT_EQ(err, (DWORD)ERROR_SHARING_VIOLATION);
    CloseHandle(h1);
}

TEST_F(Files, DeleteAndRenameAgainstOpenHandles)
{
    Put("C:\\a.txt", "a");
    HANDLE h = Open("C:\\a.txt", R, SR | SW);
    auto [d1, e1] = Probe([&] { return DeleteFileA("C:\\a.txt"); });
    EXPECT_FALSE(d1);
    EXPECT_EQ(e1, (DWORD)ERROR_SHARING_VIOLATION);
    auto [m1, e2] = Probe([&] { return MoveFileExA("C:\\a.txt", "C:\\b.txt", 0); });
    EXPECT_FALSE(m1);
    EXPECT_EQ(e2, (DWORD)ERROR_SHARING_VIOLATION);
    auto [d2, e3] = Probe([&] { return DeleteFileW(u"C:\\a.txt"); });
    EXPECT_FALSE(d2);
    EXPECT_EQ(e3, (DWORD)ERROR_SHARING_VIOLATION);
    CloseHandle(h);

    // Shared for deletion, the file goes at once (a documented gap: Windows
    // keeps the name until the last handle closes).
    h = Open("C:\\a.txt", R, SR | SD);
    auto [d3, e4] = Probe([&] { return DeleteFileA("C:\\a.txt"); });
    EXPECT_TRUE(d3);
    EXPECT_EQ(e4, PROBE);
    EXPECT_FALSE(HostExists("C:\\a.txt"));
    CloseHandle(h);
}

TEST_F(Files, ReadWriteNeedTheirAccess)
{
    Put("C:\\f.txt", "abc");
    char buf[8];
    DWORD n;
    HANDLE hr = Open("C:\\f.txt", R, SR | SW);
    HANDLE hw = Open("C:\\f.txt", W, SR | SW);
    HANDLE h0 = Open("C:\\f.txt", 0, 0);
    for (HANDLE h : {hw, h0})
    {
        n = 99;
        auto [ok, err] = Probe([&] { return ReadFile(h, buf, sizeof buf, &n, nullptr); });
        EXPECT_FALSE(ok);
        EXPECT_EQ(err, (DWORD)ERROR_ACCESS_DENIED);
        EXPECT_EQ(n, 0u);
    }
    for (HANDLE h : {hr, h0})
    {
        n = 99;
        auto [ok, err] = Probe([&] { return WriteFile(h, "x", 1, &n, nullptr); });
        EXPECT_FALSE(ok);
        EXPECT_EQ(err, (DWORD)ERROR_ACCESS_DENIED);
        EXPECT_EQ(n, 0u);
    }
    EXPECT_EQ(Get("C:\\f.txt"), "abc");
    auto [ok, err] = Probe([&] { return WriteFile(hw, "XY", 2, &n, nullptr); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(err, PROBE);
    EXPECT_EQ(n, 2u);
    // Each handle has its own position.
    auto [ok2, err2] = Probe([&] { return ReadFile(hr, buf, sizeof buf, &n, nullptr); });
    EXPECT_TRUE(ok2);
    EXPECT_EQ(err2, PROBE);
    EXPECT_EQ(std::string(buf, n), "XYc");
    // At the end of the file a read succeeds with nothing.
    n = 99;
    auto [ok3, err3] = Probe([&] { return ReadFile(hr, buf, sizeof buf, &n, nullptr); });
    EXPECT_TRUE(ok3);
    EXPECT_EQ(err3, PROBE);
    EXPECT_EQ(n, 0u);
    for (HANDLE h : {hr, hw, h0})
    {
        CloseHandle(h);
    }
}

TEST_F(Files, SeekEdges)
{
    Put("C:\\f.txt", "0123456789");
    HANDLE h = Open("C:\\f.txt", R | W, 0);
    auto seek = [&](LONG d, PLONG pHigh, DWORD m) { return Probe([&] { return SetFilePointer(h, d, pHigh, m); }); };
    EXPECT_EQ(seek(3, nullptr, FILE_BEGIN), std::make_pair((DWORD)3, PROBE));
    EXPECT_EQ(seek(2, nullptr, FILE_CURRENT), std::make_pair((DWORD)5, PROBE));
    EXPECT_EQ(seek(-1, nullptr, FILE_END), std::make_pair((DWORD)9, PROBE));
    EXPECT_EQ(seek(0, nullptr, FILE_END), std::make_pair((DWORD)10, PROBE));
    // Before the start: refused, and the position stays.
    EXPECT_EQ(seek(-11, nullptr, FILE_END), std::make_pair(INVALID_SET_FILE_POINTER, (DWORD)ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(seek(-1, nullptr, FILE_BEGIN), std::make_pair(INVALID_SET_FILE_POINTER, (DWORD)ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(seek(0, nullptr, FILE_CURRENT), std::make_pair((DWORD)10, PROBE));
    EXPECT_EQ(seek(0, nullptr, 3), std::make_pair(INVALID_SET_FILE_POINTER, (DWORD)ERROR_INVALID_PARAMETER));
    // With a high part the distance is 64 bits: -2 is high -1, low -2.
    LONG high = -1;
    EXPECT_EQ(seek(-2, &high, FILE_END), std::make_pair((DWORD)8, PROBE));
    EXPECT_EQ(high, 0);
    // High 0 makes the low part unsigned: 0xFFFFFFFE is a position under 4 GiB.
    high = 0;
    EXPECT_EQ(seek(-2, &high, FILE_BEGIN), std::make_pair((DWORD)0xFFFFFFFE, PROBE));
    // From 4 GiB on is a documented gap.
    high = 1;
    EXPECT_EQ(seek(0, &high, FILE_BEGIN), std::make_pair(INVALID_SET_FILE_POINTER, (DWORD)ERROR_CALL_NOT_IMPLEMENTED));
    // Writing past the end fills the gap with zeros.
    EXPECT_EQ(seek(12, nullptr, FILE_BEGIN).first, 12u);
    DWORD n;
    EXPECT_TRUE(WriteFile(h, "!", 1, &n, nullptr));
    DWORD high2 = 77;
    EXPECT_EQ(Probe([&] { return GetFileSize(h, &high2); }), std::make_pair((DWORD)13, PROBE));
    EXPECT_EQ(high2, 0u);
    EXPECT_EQ(Get("C:\\f.txt"), std::string("0123456789\0\0!", 13));
    CloseHandle(h);
}

TEST_F(Files, InvalidHandles)
{
    Put("C:\\f.txt", "x");
    HANDLE h = Open("C:\\f.txt", R, 0);
    ASSERT_TRUE(CloseHandle(h));
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA("C:\\*", &fd);
    ASSERT_NE(hFind, INVALID_HANDLE_VALUE);
    char buf[4];
    DWORD n;
    // Stale, null, INVALID_HANDLE_VALUE and a handle of the wrong kind.
    for (HANDLE bad : {h, (HANDLE) nullptr, INVALID_HANDLE_VALUE, hFind, (HANDLE)(uintptr_t)0x12345678})
    {
        EXPECT_EQ(Probe([&] { return CloseHandle(bad); }), std::make_pair(FALSE, (DWORD)ERROR_INVALID_HANDLE));
        EXPECT_EQ(Probe([&] { return ReadFile(bad, buf, 1, &n, nullptr); }),
                  std::make_pair(FALSE, (DWORD)ERROR_INVALID_HANDLE));
        EXPECT_EQ(Probe([&] { return WriteFile(bad, buf, 1, &n, nullptr); }),
                  std::make_pair(FALSE, (DWORD)ERROR_INVALID_HANDLE));
        EXPECT_EQ(Probe([&] { return GetFileSize(bad, nullptr); }),
                  std::make_pair(INVALID_FILE_SIZE, (DWORD)ERROR_INVALID_HANDLE));
        EXPECT_EQ(Probe([&] { return SetFilePointer(bad, 0, nullptr, FILE_BEGIN); }),
                  std::make_pair(INVALID_SET_FILE_POINTER, (DWORD)ERROR_INVALID_HANDLE));
    }
    // A find handle is not closed by CloseHandle, nor a file one by FindClose.
    HANDLE h2 = Open("C:\\f.txt", R, 0);
    EXPECT_EQ(Probe([&] { return FindClose(h2); }), std::make_pair(FALSE, (DWORD)ERROR_INVALID_HANDLE));
    EXPECT_TRUE(FindClose(hFind));
    EXPECT_TRUE(CloseHandle(h2));
    // Handles are never reused.
    std::set<HANDLE> seen;
    for (int i = 0; i < 20; i++)
    {
        HANDLE x = Open("C:\\f.txt", R, SR);
        EXPECT_TRUE(seen.insert(x).second);
        CloseHandle(x);
    }
}

TEST_F(Files, DeleteFileErrors)
{
    MakeDir("C:\\d");
    Put("C:\\ro.txt", "");
    chmod(Host("C:\\ro.txt").c_str(), 0444);
    EXPECT_EQ(Probe([&] { return DeleteFileA("C:\\missing"); }), std::make_pair(FALSE, (DWORD)ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Probe([&] { return DeleteFileA("C:\\nodir\\x"); }), std::make_pair(FALSE, (DWORD)ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Probe([&] { return DeleteFileA("C:\\d"); }), std::make_pair(FALSE, (DWORD)ERROR_ACCESS_DENIED));
    EXPECT_EQ(Probe([&] { return DeleteFileA("C:\\RO.TXT"); }), std::make_pair(FALSE, (DWORD)ERROR_ACCESS_DENIED));
    EXPECT_EQ(GetFileAttributesA("C:\\ro.txt"), (DWORD)(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
    // Read-only also refuses opening for write, even to a process that the
    // host would let through.
    EXPECT_EQ(Probe([&] { return Open("C:\\ro.txt", W, 0); }),
              std::make_pair(INVALID_HANDLE_VALUE, (DWORD)ERROR_ACCESS_DENIED));
}

TEST_F(Files, MoveFileEx)
{
    Put("C:\\a.txt", "A");
    Put("C:\\b.txt", "B");
    EXPECT_EQ(Probe([&] { return MoveFileExA("C:\\a.txt", "C:\\b.txt", 0); }),
              std::make_pair(FALSE, (DWORD)ERROR_ALREADY_EXISTS));
    EXPECT_EQ(Probe([&] { return MoveFileExA("C:\\a.txt", nullptr, 0); }),
              std::make_pair(FALSE, (DWORD)ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Probe([&] { return MoveFileExA("C:\\missing", "C:\\c.txt", 0); }),
              std::make_pair(FALSE, (DWORD)ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Probe([&] { return MoveFileExA("C:\\a.txt", "C:\\nodir\\c.txt", 0); }),
              std::make_pair(FALSE, (DWORD)ERROR_PATH_NOT_FOUND));
    // An open target cannot be replaced, whatever it shares.
    HANDLE h = Open("C:\\b.txt", R, SR | SW | SD);
    EXPECT_EQ(Probe([&] { return MoveFileExA("C:\\a.txt", "C:\\b.txt", MOVEFILE_REPLACE_EXISTING); }),
              std::make_pair(FALSE, (DWORD)ERROR_ACCESS_DENIED));
    CloseHandle(h);
    EXPECT_EQ(Probe([&] { return MoveFileExA("C:\\a.txt", "C:\\B.TXT", MOVEFILE_REPLACE_EXISTING); }),
              std::make_pair(TRUE, PROBE));
    EXPECT_FALSE(HostExists("C:\\a.txt"));
    EXPECT_EQ(Get("C:\\b.txt"), "A");
    // A change of case only renames.
    EXPECT_TRUE(MoveFileExA("C:\\b.txt", "C:\\Bee.txt", 0));
    EXPECT_TRUE(MoveFileExA("C:\\bee.txt", "C:\\BEE.txt", 0));
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA("C:\\bee.txt", &fd);
    ASSERT_NE(hFind, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(fd.cFileName, "BEE.txt");
    FindClose(hFind);
}

TEST_F(Files, MoveAtRestartIsOnlyRecorded)
{
    Put("C:\\old.dll", "x");
    EXPECT_EQ(Probe([&] { return MoveFileExA("C:\\old.dll", "C:\\new.dll", MOVEFILE_DELAY_UNTIL_REBOOT); }),
              std::make_pair(TRUE, PROBE));
    // A NULL new name records a deletion; the file need not exist now.
    EXPECT_EQ(Probe([&] { return MoveFileExA("c:\\sub\\..\\GONE.dll", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT); }),
              std::make_pair(TRUE, PROBE));
    EXPECT_EQ(
        Probe([&] { return MoveFileExA("C:\\old.dll", "C:\\x", MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED); }),
        std::make_pair(FALSE, (DWORD)ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(HostExists("C:\\old.dll"));
    EXPECT_FALSE(HostExists("C:\\new.dll"));
    ASSERT_EQ(W32EmuPendingRenameCount(), 2u);
    char szOld[MAX_PATH], szNew[MAX_PATH];
    ASSERT_TRUE(W32EmuPendingRenameAt(0, szOld, sizeof szOld, szNew, sizeof szNew));
    EXPECT_STREQ(szOld, "C:\\old.dll");
    EXPECT_STREQ(szNew, "C:\\new.dll");
    ASSERT_TRUE(W32EmuPendingRenameAt(1, szOld, sizeof szOld, szNew, sizeof szNew));
    EXPECT_STREQ(szOld, "C:\\GONE.dll");
    EXPECT_STREQ(szNew, "");
    // Buffer edges: the name and its terminator must fit.
    EXPECT_FALSE(W32EmuPendingRenameAt(0, szOld, 10, szNew, sizeof szNew));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(W32EmuPendingRenameAt(0, szOld, 11, szNew, sizeof szNew));
    EXPECT_FALSE(W32EmuPendingRenameAt(2, szOld, sizeof szOld, szNew, sizeof szNew));
    W32EmuPendingRenameClear();
    EXPECT_EQ(W32EmuPendingRenameCount(), 0u);
}

TEST_F(Files, CreateAndRemoveDirectory)
{
    EXPECT_EQ(Probe([&] { return CreateDirectoryA("C:\\d", nullptr); }), std::make_pair(TRUE, PROBE));
    EXPECT_EQ(Probe([&] { return CreateDirectoryW(u"C:\\D", nullptr); }),
              std::make_pair(FALSE, (DWORD)ERROR_ALREADY_EXISTS));
    EXPECT_EQ(Probe([&] { return CreateDirectoryA("C:\\nodir\\x", nullptr); }),
              std::make_pair(FALSE, (DWORD)ERROR_PATH_NOT_FOUND));
    Put("C:\\d\\f", "");
    Put("C:\\file", "");
    EXPECT_EQ(Probe([&] { return CreateDirectoryA("C:\\file", nullptr); }),
              std::make_pair(FALSE, (DWORD)ERROR_ALREADY_EXISTS));
    EXPECT_EQ(Probe([&] { return RemoveDirectoryA("C:\\d"); }), std::make_pair(FALSE, (DWORD)ERROR_DIR_NOT_EMPTY));
    EXPECT_EQ(Probe([&] { return RemoveDirectoryA("C:\\file"); }), std::make_pair(FALSE, (DWORD)ERROR_DIRECTORY));
    EXPECT_EQ(Probe([&] { return RemoveDirectoryA("C:\\missing"); }),
              std::make_pair(FALSE, (DWORD)ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Probe([&] { return RemoveDirectoryA("C:\\nodir\\x"); }),
              std::make_pair(FALSE, (DWORD)ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Probe([&] { return RemoveDirectoryA("C:\\"); }), std::make_pair(FALSE, (DWORD)ERROR_ACCESS_DENIED));
    EXPECT_TRUE(DeleteFileA("C:\\d\\f"));
    EXPECT_EQ(Probe([&] { return RemoveDirectoryA("C:\\D\\"); }), std::make_pair(TRUE, PROBE));
    EXPECT_FALSE(HostExists("C:\\d"));
    EXPECT_TRUE(CreateDirectoryW(u"C:\\w", nullptr));
    EXPECT_TRUE(RemoveDirectoryW(u"C:\\w"));
}

TEST_F(Files, Attributes)
{
    MakeDir("C:\\d");
    Put("C:\\f.txt", "");
    EXPECT_EQ(Probe([&] { return GetFileAttributesA("C:\\"); }),
              std::make_pair((DWORD)FILE_ATTRIBUTE_DIRECTORY, PROBE));
    EXPECT_EQ(Probe([&] { return GetFileAttributesA("C:\\d\\"); }),
              std::make_pair((DWORD)FILE_ATTRIBUTE_DIRECTORY, PROBE));
    EXPECT_EQ(Probe([&] { return GetFileAttributesW(u"C:\\F.TXT"); }),
              std::make_pair((DWORD)FILE_ATTRIBUTE_ARCHIVE, PROBE));
    // Trailing dots and spaces of the last component are dropped.
    EXPECT_EQ(GetFileAttributesA("C:\\f.txt."), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesA("C:\\f.txt  "), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(Probe([&] { return GetFileAttributesA("C:\\f.txt\\"); }),
              std::make_pair(INVALID_FILE_ATTRIBUTES, (DWORD)ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Probe([&] { return GetFileAttributesA("C:\\nofile"); }),
              std::make_pair(INVALID_FILE_ATTRIBUTES, (DWORD)ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Probe([&] { return GetFileAttributesA("C:\\nodir\\x"); }),
              std::make_pair(INVALID_FILE_ATTRIBUTES, (DWORD)ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Probe([&] { return GetFileAttributesA("C:\\f*.txt"); }),
              std::make_pair(INVALID_FILE_ATTRIBUTES, (DWORD)ERROR_INVALID_NAME));
    EXPECT_EQ(Probe([&] { return GetFileAttributesA(""); }),
              std::make_pair(INVALID_FILE_ATTRIBUTES, (DWORD)ERROR_PATH_NOT_FOUND));
    // A new file made read-only by its attribute.
    HANDLE h = CreateFileA("C:\\ro", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n;
    EXPECT_TRUE(WriteFile(h, "x", 1, &n, nullptr)); // the creating handle still writes
    CloseHandle(h);
    EXPECT_EQ(GetFileAttributesA("C:\\ro"), (DWORD)(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
}

TEST_F(Files, TempFileNames)
{
    MakeDir("C:\\t");
    WCHAR sz[MAX_PATH];
    auto [n, err] = Probe([&] { return GetTempFileNameW(u"C:\\t", u"abcd", 0, sz); });
    ASSERT_NE(n, 0u);
    EXPECT_EQ(err, PROBE);
    EXPECT_LE(n, 0xFFFFu);
    char hex[16];
    snprintf(hex, sizeof hex, "%x", n);
    EXPECT_EQ(Narrow(sz), std::string("C:\\t\\abc") + hex + ".tmp");
    EXPECT_EQ(Get(Narrow(sz).c_str()), ""); // made, empty
    // A given number only names the file.
    auto [n2, err2] = Probe([&] { return GetTempFileNameW(u"C:\\t\\", u"x", 0x1a, sz); });
    EXPECT_EQ(n2, 0x1au);
    EXPECT_EQ(err2, PROBE);
    EXPECT_EQ(std::u16string(sz), u"C:\\t\\x1a.tmp");
    EXPECT_FALSE(HostExists("C:\\t\\x1a.tmp"));
    // The directory must exist, whether or not a number is given.
    for (UINT u : {0u, 5u})
    {
        EXPECT_EQ(Probe([&] { return GetTempFileNameW(u"C:\\nodir", u"x", u, sz); }),
                  std::make_pair(0u, (DWORD)ERROR_DIRECTORY));
    }
    char szA[MAX_PATH];
    EXPECT_EQ(Probe([&] { return GetTempFileNameA("C:\\t", nullptr, 0xbeef, szA); }), std::make_pair(0xbeefu, PROBE));
    EXPECT_STREQ(szA, "C:\\t\\beef.tmp");
}

TEST_F(Files, TempFileNameTooLong)
{
    std::string dir = "C:\\" + std::string(250, 'd');
    MakeDir(dir.c_str());
    char sz[MAX_PATH];
    // "C:\" + 250 + "\" + 3 + up to 4 hex digits + ".tmp" passes MAX_PATH.
    EXPECT_EQ(Probe([&] { return GetTempFileNameA(dir.c_str(), "pre", 0, sz); }),
              std::make_pair(0u, (DWORD)ERROR_BUFFER_OVERFLOW));
}

TEST_F(Files, TempFileNameSkipsTakenNumbers)
{
    MakeDir("C:\\t");
    std::string dir = Host("C:\\t");
    // The search starts from the tick count. Take the numbers of a window
    // that the tick reaches a little later, wait for it, and call: the call
    // has to step over them. A call that comes too late for the window (a
    // busy machine) tries a new one.
    const UINT cTaken = 200;
    const UINT msLead = 800; // more than making cTaken files takes
    for (int attempt = 0; attempt < 5; attempt++)
    {
        UINT first = (GetTickCount() + msLead) & 0xFFFF;
        for (UINT i = 0; i < cTaken; i++)
        {
            char name[64];
            snprintf(name, sizeof name, "/tmp%x.tmp", (first + i) & 0xFFFF);
            close(open((dir + name).c_str(), O_CREAT | O_WRONLY, 0666));
        }
        while (((GetTickCount() - first) & 0xFFFF) > 0x8000) // the tick is before the window
        {
            usleep(1000);
        }
        UINT tick = GetTickCount() & 0xFFFF;
        char sz[MAX_PATH];
        auto [n, err] = Probe([&] { return GetTempFileNameA("C:\\t", "tmp", 0, sz); });
        ASSERT_NE(n, 0u);
        EXPECT_EQ(err, PROBE);
        EXPECT_EQ(Get(sz), "");
        if (((tick - first) & 0xFFFF) < cTaken - 1)
        {
            UINT expected = (first + cTaken) & 0xFFFF;
            EXPECT_EQ(n, expected ? expected : 1u) << "the window was " << first << " + " << cTaken;
            return;
        }
    }
    GTEST_SKIP() << "every call came after its window: the machine is too busy";
}

TEST_F(Files, ALongPathIsRefusedByTheAFunctions)
{
    // The A functions convert through a MAX_PATH buffer, as Windows does.
    std::string name = "C:\\" + std::string(MAX_PATH, 'n');
    EXPECT_EQ(Probe([&] { return Open(name.c_str(), R, 0, CREATE_ALWAYS); }),
              std::make_pair(INVALID_HANDLE_VALUE, (DWORD)ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(Probe([&] { return DeleteFileA(name.c_str()); }),
              std::make_pair(FALSE, (DWORD)ERROR_FILENAME_EXCED_RANGE));
}

} // namespace
