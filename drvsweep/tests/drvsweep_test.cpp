// drvsweep.dll on the Win32 layer: loaded as the setup program loads it and
// called on files of an emulated machine, for every Windows version the
// library tells apart, with the platform's failures made on purpose.
#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <w32emu.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "drvsweep.h"

namespace
{

enum Where
{
    DRIVER_ONLY, // the 9x family, Win32s and unknown systems: the driver directory only
    VERSION_2,   // NT 4.0 and older: also the version directory 2
    VERSION_3,   // 2000, XP and later: also the version directory 3
};

struct OsVersion
{
    const char *pszName;
    DWORD dwPlatformId;
    DWORD dwMajor;
    DWORD dwMinor;
    BOOL bExtended; // whether the 156-byte record is accepted
    Where where;
};

const OsVersion aVersions[] = {
    {"Win32s", VER_PLATFORM_WIN32s, 3, 10, FALSE, DRIVER_ONLY},
    {"Windows 95", VER_PLATFORM_WIN32_WINDOWS, 4, 0, FALSE, DRIVER_ONLY},
    {"Windows 98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, TRUE, DRIVER_ONLY},
    {"Windows Me", VER_PLATFORM_WIN32_WINDOWS, 4, 90, TRUE, DRIVER_ONLY},
    {"unknown 9x minor", VER_PLATFORM_WIN32_WINDOWS, 4, 50, TRUE, DRIVER_ONLY},
    {"NT 3.51", VER_PLATFORM_WIN32_NT, 3, 51, FALSE, VERSION_2},
    {"NT 4.0 before SP4", VER_PLATFORM_WIN32_NT, 4, 0, FALSE, VERSION_2},
    {"NT 4.0 SP6", VER_PLATFORM_WIN32_NT, 4, 0, TRUE, VERSION_2},
    {"Windows 2000", VER_PLATFORM_WIN32_NT, 5, 0, TRUE, VERSION_3},
    {"Windows XP", VER_PLATFORM_WIN32_NT, 5, 1, TRUE, VERSION_3},
    {"NT 6.0", VER_PLATFORM_WIN32_NT, 6, 0, TRUE, VERSION_3},
    {"NT 6.1", VER_PLATFORM_WIN32_NT, 6, 1, TRUE, VERSION_3},
    {"unknown platform", 3, 5, 1, TRUE, DRIVER_ONLY},
};

const OsVersion &Version(const char *pszName)
{
    for (const OsVersion &v : aVersions)
    {
        if (std::string(v.pszName) == pszName)
        {
            return v;
        }
    }
    throw std::runtime_error(pszName);
}

void SetVersion(const OsVersion &v)
{
    W32EmuSetVersion(v.dwPlatformId, v.dwMajor, v.dwMinor, 1000, v.bExtended);
}

class DrvSweepTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        std::string strTemplate = (std::filesystem::temp_directory_path() / "drvsweep-XXXXXX").string();
        ASSERT_NE(mkdtemp(&strTemplate[0]), nullptr);
        m_strRoot = strTemplate;
        W32EmuSetRoot(m_strRoot.c_str());
        W32EmuResetFaults();
        W32EmuPendingRenameClear();
        W32EmuSetDriverDirectoryError(0);
        SetVersion(Version("Windows XP"));

        char szDir[MAX_PATH];
        DWORD cbNeeded = 0;
        ASSERT_TRUE(GetPrinterDriverDirectoryA(NULL, NULL, 1, (LPBYTE)szDir, sizeof(szDir), &cbNeeded));
        m_strDriverDir = szDir;
        ASSERT_NE(GetSystemDirectoryA(szDir, MAX_PATH), 0u);
        m_strSystemDir = szDir;
        MakeDirs(V2());
        MakeDirs(V3());

        std::string strDll = DRVSWEEP_DLL;
        std::u16string wstrDll = u"Z:" + std::u16string(strDll.begin(), strDll.end());
        m_hDll = LoadLibraryW((LPCWSTR)wstrDll.c_str());
        ASSERT_NE(m_hDll, nullptr) << "LoadLibraryW failed with " << GetLastError();
        m_pfnDeleteOldFiles = (PFN_DELETEOLDFILES)(void *)GetProcAddress(m_hDll, "DeleteOldFiles");
        ASSERT_NE(m_pfnDeleteOldFiles, nullptr);
    }

    void TearDown() override
    {
        if (m_hDll != NULL)
        {
            FreeLibrary(m_hDll);
        }
        W32EmuResetFaults();
        W32EmuPendingRenameClear();
        W32EmuSetDriverDirectoryError(0);
        W32EmuSetWindowsDir(u"C:\\WINDOWS");
        std::error_code ec;
        std::filesystem::remove_all(m_strRoot, ec);
    }

    static void MakeDirs(const std::string &strPath)
    {
        for (size_t i = strPath.find('\\', 3);; i = strPath.find('\\', i + 1))
        {
            CreateDirectoryA(strPath.substr(0, i).c_str(), NULL);
            if (i == std::string::npos)
            {
                break;
            }
        }
    }

    static void MakeFile(const std::string &strPath)
    {
        HANDLE hFile = CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        ASSERT_NE(hFile, INVALID_HANDLE_VALUE) << strPath;
        CloseHandle(hFile);
    }

    static bool Exists(const std::string &strPath)
    {
        return GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    BOOL Sweep(LPCSTR pszList)
    {
        return m_pfnDeleteOldFiles(0, 0, pszList);
    }

    std::string D(const std::string &strName = "") const
    {
        return strName.empty() ? m_strDriverDir : m_strDriverDir + "\\" + strName;
    }
    std::string V2(const std::string &strName = "") const
    {
        return D("2") + (strName.empty() ? "" : "\\" + strName);
    }
    std::string V3(const std::string &strName = "") const
    {
        return D("3") + (strName.empty() ? "" : "\\" + strName);
    }

    // The names of every rename recorded for the next restart.
    static std::vector<std::pair<std::string, std::string>> Pending()
    {
        std::vector<std::pair<std::string, std::string>> aPending;
        for (DWORD i = 0; i < W32EmuPendingRenameCount(); i++)
        {
            char szOld[1024];
            char szNew[1024];
            EXPECT_TRUE(W32EmuPendingRenameAt(i, szOld, sizeof(szOld), szNew, sizeof(szNew)));
            aPending.emplace_back(szOld, szNew);
        }
        return aPending;
    }

    static bool SamePath(const std::string &strA, const std::string &strB)
    {
        return lstrcmpiA(strA.c_str(), strB.c_str()) == 0;
    }

    std::string m_strRoot;
    std::string m_strDriverDir;
    std::string m_strSystemDir;
    HMODULE m_hDll = NULL;
    PFN_DELETEOLDFILES m_pfnDeleteOldFiles = NULL;
};

// ---- which directories, by Windows version -----------------------------------

TEST_F(DrvSweepTest, EachVersionSweepsItsDirectories)
{
    for (const OsVersion &v : aVersions)
    {
        SCOPED_TRACE(v.pszName);
        SetVersion(v);
        for (const std::string &strPath : {D("a.dll"), V2("a.dll"), V3("a.dll")})
        {
            MakeFile(strPath);
        }

        EXPECT_EQ(Sweep("a.dll"), TRUE);

        EXPECT_FALSE(Exists(D("a.dll")));
        EXPECT_EQ(Exists(V2("a.dll")), v.where != VERSION_2);
        EXPECT_EQ(Exists(V3("a.dll")), v.where != VERSION_3);
        DeleteFileA(V2("a.dll").c_str());
        DeleteFileA(V3("a.dll").c_str());
    }
}

TEST_F(DrvSweepTest, FailedVersionQueryTouchesOnlyTheDriverDirectory)
{
    // Both the extended and the basic query fail: the system is unknown.
    W32EmuFailCall("GetVersionExA", 1, ERROR_INVALID_PARAMETER, 2);
    for (const std::string &strPath : {D("a.dll"), V2("a.dll"), V3("a.dll")})
    {
        MakeFile(strPath);
    }

    EXPECT_EQ(Sweep("a.dll"), TRUE);

    EXPECT_FALSE(Exists(D("a.dll")));
    EXPECT_TRUE(Exists(V2("a.dll")));
    EXPECT_TRUE(Exists(V3("a.dll")));
    EXPECT_EQ(W32EmuCallCount("GetVersionExA"), 2u);
}

// ---- without a driver directory ----------------------------------------------

struct FallbackCase
{
    const char *pszVersion;
    const char *pszExpectedDir; // "system", "system spool", or nullptr for none
};

TEST_F(DrvSweepTest, FailedDriverDirectoryFallsBackOnlyOn9x)
{
    const FallbackCase aCases[] = {
        {"Windows 95", "system spool"}, {"Windows 98", "system"},
        {"Windows Me", "system"},       {"Win32s", nullptr},
        {"NT 4.0 SP6", nullptr},        {"Windows 2000", nullptr},
        {"Windows XP", nullptr},        {"unknown platform", nullptr},
    };
    const std::string strSpoolDir = m_strSystemDir + "\\spool\\drivers\\w32x86";
    // What a name taken relative to an empty directory would reach.
    const std::string astrStray[] = {"C:\\a.dll", "C:\\2\\a.dll", "C:\\3\\a.dll"};
    MakeDirs("C:\\2");
    MakeDirs("C:\\3");
    MakeDirs(strSpoolDir);

    W32EmuSetDriverDirectoryError(ERROR_INVALID_ENVIRONMENT);
    for (const FallbackCase &fc : aCases)
    {
        SCOPED_TRACE(fc.pszVersion);
        SetVersion(Version(fc.pszVersion));
        const std::string astrFiles[] = {m_strSystemDir + "\\a.dll", strSpoolDir + "\\a.dll", V2("a.dll"), V3("a.dll")};
        for (const std::string &strPath : astrFiles)
        {
            MakeFile(strPath);
        }
        for (const std::string &strPath : astrStray)
        {
            MakeFile(strPath);
        }

        EXPECT_EQ(Sweep("a.dll"), TRUE);

        const std::string strExpected = fc.pszExpectedDir == nullptr                 ? ""
                                        : std::string(fc.pszExpectedDir) == "system" ? m_strSystemDir + "\\a.dll"
                                                                                     : strSpoolDir + "\\a.dll";
        for (const std::string &strPath : astrFiles)
        {
            EXPECT_EQ(Exists(strPath), strPath != strExpected) << strPath;
        }
        for (const std::string &strPath : astrStray)
        {
            EXPECT_TRUE(Exists(strPath)) << strPath;
        }
    }
    EXPECT_EQ(W32EmuPendingRenameCount(), 0u);
}

TEST_F(DrvSweepTest, NoSystemDirectoryMeansNoFallback)
{
    SetVersion(Version("Windows 98"));
    W32EmuSetDriverDirectoryError(ERROR_INVALID_ENVIRONMENT);
    W32EmuFailCall("GetSystemDirectoryA", 1, ERROR_ACCESS_DENIED, 0);
    MakeFile("C:\\a.dll");
    MakeFile(D("a.dll"));

    EXPECT_EQ(Sweep("a.dll"), TRUE);

    EXPECT_TRUE(Exists("C:\\a.dll"));
    EXPECT_TRUE(Exists(D("a.dll")));
}

// ---- the file list -------------------------------------------------------------

struct ListCase
{
    const char *pszCase;
    std::string strList;
    std::vector<std::string> astrGone;
    std::vector<std::string> astrKept;
};

TEST_F(DrvSweepTest, ListsAreSplitAtCommas)
{
    // The longest list that fits its buffer, and one character more: cut to
    // fit, that one would end in a name it does not hold.
    const std::string strFull = std::string(259 - 5, ',') + "a.dll";
    const std::string strTooLong = std::string(259 - 5, ',') + "a.dllX";
    const ListCase aCases[] = {
        {"two names", "a.dll,b.drv", {"a.dll", "b.drv"}, {"c.dll"}},
        {"stray commas", ",a.dll,,b.drv,", {"a.dll", "b.drv"}, {"c.dll"}},
        {"blank after a comma", "a.dll, b.drv", {"a.dll", " b.drv"}, {"b.drv"}},
        {"empty list", "", {}, {"a.dll"}},
        {"commas only", ",,,", {}, {"a.dll"}},
        {"259 characters", strFull, {"a.dll"}, {"c.dll"}},
        {"260 characters", strTooLong, {}, {"a.dll"}},
    };
    for (const ListCase &lc : aCases)
    {
        SCOPED_TRACE(lc.pszCase);
        std::vector<std::string> astrAll(lc.astrGone);
        astrAll.insert(astrAll.end(), lc.astrKept.begin(), lc.astrKept.end());
        for (const std::string &strName : astrAll)
        {
            MakeFile(D(strName));
            MakeFile(V3(strName));
        }

        EXPECT_EQ(Sweep(lc.strList.c_str()), TRUE);

        for (const std::string &strName : lc.astrGone)
        {
            EXPECT_FALSE(Exists(D(strName))) << strName;
            EXPECT_FALSE(Exists(V3(strName))) << strName;
        }
        for (const std::string &strName : lc.astrKept)
        {
            EXPECT_TRUE(Exists(D(strName))) << strName;
            EXPECT_TRUE(Exists(V3(strName))) << strName;
        }
        for (const std::string &strName : astrAll)
        {
            DeleteFileA(D(strName).c_str());
            DeleteFileA(V3(strName).c_str());
        }
    }
}

TEST_F(DrvSweepTest, NullListDoesNothing)
{
    EXPECT_EQ(Sweep(NULL), TRUE);
    EXPECT_EQ(W32EmuCallCount("DeleteFileA"), 0u);
}

TEST_F(DrvSweepTest, ListIsNotReadPastItsLimit)
{
    // 260 characters and no terminator: the library must stop looking.
    std::vector<char> achList(260, 'x');
    EXPECT_EQ(Sweep(achList.data()), TRUE);
    EXPECT_EQ(W32EmuCallCount("DeleteFileA"), 0u);
}

TEST_F(DrvSweepTest, NameTooLongForAPathIsSkipped)
{
    // D\N does not fit; cut to fit, the paths would name the trap files.
    const std::string strLong(240, 'x');
    const std::string strDriverCut = strLong.substr(0, 259 - (D().size() + 1));
    const std::string strVersionCut = strLong.substr(0, 259 - (V3().size() + 1));
    const std::string astrTraps[] = {D(strDriverCut), D(strVersionCut), V3(strVersionCut)};
    for (const std::string &strPath : astrTraps)
    {
        MakeFile(strPath);
    }
    MakeFile(D("a.dll"));
    MakeFile(V3("a.dll"));

    EXPECT_EQ(Sweep((strLong + ",a.dll").c_str()), TRUE);

    EXPECT_FALSE(Exists(D("a.dll")));
    EXPECT_FALSE(Exists(V3("a.dll")));
    for (const std::string &strPath : astrTraps)
    {
        EXPECT_TRUE(Exists(strPath)) << strPath;
    }
    EXPECT_EQ(W32EmuPendingRenameCount(), 0u);
}

// A driver directory so deep that some paths fit and others do not. The
// Windows directory is chosen so that D has exactly cchDriver characters.
class DeepDriverDirTest : public DrvSweepTest
{
  protected:
    void UseDriverDirLength(size_t cchDriver)
    {
        char szWindows[MAX_PATH];
        ASSERT_NE(GetWindowsDirectoryA(szWindows, MAX_PATH), 0u);
        ASSERT_EQ(m_strDriverDir.rfind(szWindows, 0), 0u) << "the driver directory lies under the Windows directory";
        const size_t cchSuffix = m_strDriverDir.size() - lstrlenA(szWindows);
        // Components of at most 100 characters, as a host file system wants.
        std::string strWindows = "C:\\";
        while (strWindows.size() + cchSuffix < cchDriver)
        {
            strWindows +=
                (strWindows.size() % 101 == 100 && strWindows.size() + cchSuffix + 1 < cchDriver) ? '\\' : 'w';
        }
        W32EmuSetWindowsDir(std::u16string(strWindows.begin(), strWindows.end()).c_str());
        char szDir[MAX_PATH];
        DWORD cbNeeded = 0;
        ASSERT_TRUE(GetPrinterDriverDirectoryA(NULL, NULL, 1, (LPBYTE)szDir, sizeof(szDir), &cbNeeded));
        m_strDriverDir = szDir;
        ASSERT_EQ(m_strDriverDir.size(), cchDriver);
        MakeDirs(V3());
    }
};

TEST_F(DeepDriverDirTest, VersionPathTooLongIsSkipped)
{
    // D has 249 characters: D\abcde.dll has 259 and fits its buffer,
    // D\3\abcde.dll has 261 and does not. Cut to fit, it would name abcde.d.
    UseDriverDirLength(249);
    MakeFile(D("abcde.dll"));
    MakeFile(V3("abcde.d"));

    EXPECT_EQ(Sweep("abcde.dll"), TRUE);

    EXPECT_FALSE(Exists(D("abcde.dll")));
    EXPECT_TRUE(Exists(V3("abcde.d")));
    EXPECT_EQ(W32EmuCallCount("DeleteFileA"), 1u);
    EXPECT_EQ(W32EmuCallCount("MoveFileExA"), 0u);
}

TEST_F(DeepDriverDirTest, TemporaryNameTooLongLeavesFileInPlace)
{
    // D has 251 characters: D\3\a.dll has 259 and fits, the temporary name
    // D\3\000.tmp has 261 and does not. The file in use stays, unmarked.
    UseDriverDirLength(251);
    MakeFile(V3("a.dll"));
    ASSERT_TRUE(W32EmuHoldFileA(V3("a.dll").c_str()));

    EXPECT_EQ(Sweep("a.dll"), TRUE);

    EXPECT_TRUE(Exists(V3("a.dll")));
    EXPECT_EQ(W32EmuCallCount("MoveFileExA"), 0u);
    EXPECT_EQ(W32EmuPendingRenameCount(), 0u);
}

// ---- files in use ----------------------------------------------------------------

struct HeldCase
{
    const char *pszCase;
    const char *pszVersion;
    std::vector<int> anTaken; // temporary names that exist before the call
    int nExpected;            // the temporary name the file must get, -1: none
};

std::string TempName(int n)
{
    char sz[16];
    wsprintfA(sz, "%03d.tmp", n);
    return sz;
}

std::vector<int> Range(int nFirst, int nLast)
{
    std::vector<int> an;
    for (int n = nFirst; n <= nLast; n++)
    {
        an.push_back(n);
    }
    return an;
}

TEST_F(DrvSweepTest, FileInUseIsRenamedAndMarkedForRestart)
{
    std::vector<int> anGap = Range(0, 2);
    anGap.push_back(4);
    const HeldCase aCases[] = {
        {"XP, 000 to 002 taken", "Windows XP", anGap, 3},
        {"XP, all free", "Windows XP", {}, 0},
        {"XP, 000 free", "Windows XP", {1, 2}, 0},
        {"2000, 000 to 099 taken", "Windows 2000", Range(0, 99), 100},
        {"NT 4.0, 000 to 100 taken", "NT 4.0 SP6", Range(0, 100), 100},
        {"Windows 98", "Windows 98", {}, -1},
    };
    for (const HeldCase &hc : aCases)
    {
        SCOPED_TRACE(hc.pszCase);
        const OsVersion &v = Version(hc.pszVersion);
        SetVersion(v);
        W32EmuPendingRenameClear();
        auto VDir = [&](const std::string &strName) { return v.where == VERSION_2 ? V2(strName) : V3(strName); };
        for (int n : hc.anTaken)
        {
            MakeFile(VDir(TempName(n)));
        }
        MakeFile(VDir("held.dll"));
        ASSERT_TRUE(W32EmuHoldFileA(VDir("held.dll").c_str()));

        EXPECT_EQ(Sweep("held.dll"), TRUE);

        auto aPending = Pending();
        if (hc.nExpected < 0)
        {
            EXPECT_TRUE(Exists(VDir("held.dll")));
            EXPECT_TRUE(aPending.empty());
        }
        else
        {
            const std::string strTemp = VDir(TempName(hc.nExpected));
            EXPECT_FALSE(Exists(VDir("held.dll")));
            EXPECT_TRUE(Exists(strTemp));
            ASSERT_EQ(aPending.size(), 1u);
            EXPECT_TRUE(SamePath(aPending[0].first, strTemp)) << aPending[0].first;
            EXPECT_EQ(aPending[0].second, "");
        }
        // No other temporary name appeared.
        for (int n = 0; n <= 100; n++)
        {
            bool bTaken = std::find(hc.anTaken.begin(), hc.anTaken.end(), n) != hc.anTaken.end();
            if (!bTaken && n != hc.nExpected)
            {
                EXPECT_FALSE(Exists(VDir(TempName(n)))) << n;
            }
        }

        W32EmuReleaseFileA(VDir("held.dll").c_str());
        W32EmuReleaseFileA(VDir(TempName(hc.nExpected)).c_str());
        DeleteFileA(VDir("held.dll").c_str());
        for (int n = 0; n <= 100; n++)
        {
            DeleteFileA(VDir(TempName(n)).c_str());
        }
    }
}

TEST_F(DrvSweepTest, MissingFileLeavesNoRestartOperation)
{
    EXPECT_EQ(Sweep("gone.dll"), TRUE);
    EXPECT_EQ(W32EmuCallCount("MoveFileExA"), 0u);
    EXPECT_EQ(W32EmuPendingRenameCount(), 0u);
}

TEST_F(DrvSweepTest, FailedRenameMarksNothing)
{
    MakeFile(V3("held.dll"));
    ASSERT_TRUE(W32EmuHoldFileA(V3("held.dll").c_str()));
    W32EmuFailCall("MoveFileExA", 1, ERROR_SHARING_VIOLATION, 1);

    EXPECT_EQ(Sweep("held.dll"), TRUE);

    EXPECT_TRUE(Exists(V3("held.dll")));
    EXPECT_EQ(W32EmuPendingRenameCount(), 0u);
}

TEST_F(DrvSweepTest, FailedSearchDoesNotFreeATemporaryName)
{
    // The search for 000 fails for another reason than a missing file: 000
    // may exist and must not be overwritten, so 001 is taken.
    MakeFile(V3("held.dll"));
    ASSERT_TRUE(W32EmuHoldFileA(V3("held.dll").c_str()));
    W32EmuFailCall("SearchPathA", 1, ERROR_ACCESS_DENIED, 1);

    EXPECT_EQ(Sweep("held.dll"), TRUE);

    EXPECT_FALSE(Exists(V3("000.tmp")));
    EXPECT_TRUE(Exists(V3("001.tmp")));
    W32EmuReleaseFileA(V3("001.tmp").c_str());
}

TEST_F(DrvSweepTest, EveryNameIsAttemptedWhateverFailed)
{
    // a.dll is held in D and in V; b.dll comes after it and still goes.
    for (const char *pszName : {"a.dll", "b.dll"})
    {
        MakeFile(D(pszName));
        MakeFile(V3(pszName));
    }
    ASSERT_TRUE(W32EmuHoldFileA(D("a.dll").c_str()));
    ASSERT_TRUE(W32EmuHoldFileA(V3("a.dll").c_str()));

    EXPECT_EQ(Sweep("a.dll,b.dll"), TRUE);

    EXPECT_TRUE(Exists(D("a.dll"))); // the driver directory has no restart rule
    EXPECT_FALSE(Exists(V3("a.dll")));
    EXPECT_TRUE(Exists(V3("000.tmp")));
    EXPECT_FALSE(Exists(D("b.dll")));
    EXPECT_FALSE(Exists(V3("b.dll")));
    EXPECT_EQ(W32EmuPendingRenameCount(), 1u);
    W32EmuReleaseFileA(D("a.dll").c_str());
    W32EmuReleaseFileA(V3("000.tmp").c_str());
}

} // namespace
