// drvsweep.dll on a real Win32 system (Wine): loaded as the setup program
// loads it, called on real files in the printer-driver directory and its
// version directories, with the Windows version that the script set for this
// program's name.
//
//   wine_drvsweep_<version>.exe VERSION DLLPATH
//   VERSION: nt40, win2k, winxp or win98, what GetVersionExA must report.
//
// Exit code 0 when every check passed, 1 otherwise.
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <string>
#include <vector>

#include "drvsweep.h"

static int g_cFailures;
static const char *g_pszCase = "setup";

#define CHECK(cond)                                                                                                    \
    do                                                                                                                 \
    {                                                                                                                  \
        if (!(cond))                                                                                                   \
        {                                                                                                              \
            g_cFailures++;                                                                                             \
            printf("FAIL [%s] line %d: %s\n", g_pszCase, __LINE__, #cond);                                             \
        }                                                                                                              \
    } while (0)

static const char szPendingKey[] = "System\\CurrentControlSet\\Control\\Session Manager";
static const char szPendingValue[] = "PendingFileRenameOperations";

static std::string g_strDriverDir;  // D
static std::string g_strVersionDir; // the version directory DeleteOldFiles must use, "" for none
static std::string g_strOtherDir;   // the version directory it must leave alone
static PFN_DELETEOLDFILES g_pfnDeleteOldFiles;

static bool Exists(const std::string &strPath)
{
    return GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static void MakeFile(const std::string &strPath)
{
    HANDLE hFile = CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    CHECK(hFile != INVALID_HANDLE_VALUE);
    if (hFile != INVALID_HANDLE_VALUE)
    {
        DWORD cbWritten = 0;
        WriteFile(hFile, "old", 3, &cbWritten, NULL);
        CloseHandle(hFile);
    }
}

static std::string InDir(const std::string &strDir, const std::string &strName)
{
    return strDir + "\\" + strName;
}

// Only a path that fits in MAX_PATH can name a file.
static bool Fits(const std::string &strPath)
{
    return strPath.size() < MAX_PATH;
}

static std::string UsedVersionDir()
{
    return g_strVersionDir.empty() ? g_strOtherDir : g_strVersionDir;
}

// The raw PendingFileRenameOperations value; empty when there is none.
static std::vector<char> ReadPending()
{
    std::vector<char> abValue;
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szPendingKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
    {
        return abValue;
    }
    DWORD cbValue = 0;
    DWORD dwType = 0;
    if (RegQueryValueExA(hKey, szPendingValue, NULL, &dwType, NULL, &cbValue) == ERROR_SUCCESS && cbValue > 0)
    {
        abValue.resize(cbValue);
        if (RegQueryValueExA(hKey, szPendingValue, NULL, &dwType, (LPBYTE)abValue.data(), &cbValue) != ERROR_SUCCESS)
        {
            abValue.clear();
        }
        abValue.resize(cbValue);
    }
    RegCloseKey(hKey);
    return abValue;
}

static void RestorePending(const std::vector<char> &abValue)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szPendingKey, 0, KEY_SET_VALUE, &hKey) != ERROR_SUCCESS)
    {
        return;
    }
    if (abValue.empty())
    {
        RegDeleteValueA(hKey, szPendingValue);
    }
    else
    {
        RegSetValueExA(hKey, szPendingValue, 0, REG_MULTI_SZ, (const BYTE *)abValue.data(), (DWORD)abValue.size());
    }
    RegCloseKey(hKey);
}

// The (source, target) pairs of a REG_MULTI_SZ rename list.
static std::vector<std::pair<std::string, std::string>> PendingPairs(const std::vector<char> &abValue)
{
    std::vector<std::string> astr;
    size_t i = 0;
    while (i < abValue.size())
    {
        std::string str(&abValue[i]);
        astr.push_back(str);
        i += str.size() + 1;
    }
    std::vector<std::pair<std::string, std::string>> aPairs;
    for (size_t k = 0; k + 1 < astr.size(); k += 2)
    {
        aPairs.push_back(std::make_pair(astr[k], astr[k + 1]));
    }
    return aPairs;
}

static bool IsPendingDelete(const std::vector<char> &abValue, const std::string &strPath)
{
    for (const auto &pair : PendingPairs(abValue))
    {
        if (lstrcmpiA(pair.first.c_str(), ("\\??\\" + strPath).c_str()) == 0 && pair.second.empty())
        {
            return true;
        }
    }
    return false;
}

// One list against the same names in the driver directory and both version
// directories: pszGone names must vanish from D (and from the version
// directory of this system, on the NT family), pszKept names must stay
// everywhere, and the other version directory is never touched.
struct SweepCase
{
    const char *pszCase;
    std::string strList;
    std::vector<std::string> astrGone;
    std::vector<std::string> astrKept;
};

static void RunSweepCase(const SweepCase &sc)
{
    g_pszCase = sc.pszCase;
    const std::string aDirs[] = {g_strDriverDir, g_strVersionDir, g_strOtherDir};
    std::vector<std::string> astrAll(sc.astrGone);
    astrAll.insert(astrAll.end(), sc.astrKept.begin(), sc.astrKept.end());
    for (const std::string &strDir : aDirs)
    {
        if (strDir.empty())
        {
            continue;
        }
        for (const std::string &strName : astrAll)
        {
            if (Fits(InDir(strDir, strName)))
            {
                MakeFile(InDir(strDir, strName));
            }
        }
    }

    CHECK(g_pfnDeleteOldFiles(0, 0, sc.strList.c_str()) == TRUE);

    for (const std::string &strName : sc.astrGone)
    {
        CHECK(!Exists(InDir(g_strDriverDir, strName)));
        if (!g_strVersionDir.empty())
        {
            CHECK(!Exists(InDir(g_strVersionDir, strName)));
        }
        CHECK(Exists(InDir(g_strOtherDir, strName)));
    }
    for (const std::string &strName : sc.astrKept)
    {
        for (const std::string &strDir : aDirs)
        {
            if (!strDir.empty() && Fits(InDir(strDir, strName)))
            {
                CHECK(Exists(InDir(strDir, strName)));
            }
        }
    }
    for (const std::string &strDir : aDirs)
    {
        for (const std::string &strName : astrAll)
        {
            if (!strDir.empty())
            {
                DeleteFileA(InDir(strDir, strName).c_str());
            }
        }
    }
}

static void TestLists()
{
    const std::string strA = "kdsw_a.dll";
    const std::string strB = "kdsw_b.drv";
    const std::string strC = "kdsw_c.dll";

    // A 259-character list is the longest that fits with its terminator. The
    // list one longer, cut to fit, would end in a name it does not hold.
    std::string strFull = std::string(259 - strA.size(), ',') + strA;
    std::string strTooLong = std::string(259 - strA.size(), ',') + strA + "X";

    // A name whose path does not fit: a cut-off path would name the prefix
    // files, which must survive.
    std::string strLongName = "kdsw_" + std::string(230, 'x');
    size_t cchDriverCut = 259 - (g_strDriverDir.size() + 1);
    size_t cchVersionCut = 259 - (UsedVersionDir().size() + 1);

    const SweepCase aCases[] = {
        {"two names", strA + "," + strB, {strA, strB}, {strC}},
        {"stray commas", "," + strA + ",," + strB + ",", {strA, strB}, {strC}},
        {"blank after comma", strA + ", " + strB, {strA, " " + strB}, {strB}},
        {"empty list", "", {}, {strA}},
        {"list of 259 characters", strFull, {strA}, {strC}},
        {"list of 260 characters", strTooLong, {}, {strA}},
        {"name too long for a path",
         strLongName + "," + strA,
         {strA},
         {strLongName.substr(0, cchDriverCut), strLongName.substr(0, cchVersionCut)}},
    };
    for (const SweepCase &sc : aCases)
    {
        RunSweepCase(sc);
    }

    g_pszCase = "null list";
    CHECK(g_pfnDeleteOldFiles(0, 0, NULL) == TRUE);
}

// A missing file in the version directory leaves no restart operation.
static void TestMissingFile()
{
    g_pszCase = "missing file";
    std::vector<char> abBefore = ReadPending();
    CHECK(g_pfnDeleteOldFiles(0, 0, "kdsw_none.dll") == TRUE);
    CHECK(ReadPending() == abBefore);
}

static std::string TempName(int nTemp)
{
    char szTemp[16];
    sprintf(szTemp, "%03d.tmp", nTemp);
    return szTemp;
}

// A file in use in the version directory. A loaded DLL cannot be deleted but
// can be renamed: it goes to the first free temporary name, which is marked
// for deletion at restart. A file open without delete sharing can be neither
// deleted nor renamed: it stays, and no restart operation names an empty
// temporary file. On the 9x family the version directory is not used.
enum HOLD
{
    HOLD_LOADED,
    HOLD_OPEN,
};

struct HeldCase
{
    const char *pszCase;
    HOLD hold;
    std::vector<int> anTaken; // temporary names that exist before the call
    int nExpected;            // the name the file must end up under, -1: stays
};

static void RunHeldCase(const HeldCase &hc, const char *pszDllPath)
{
    g_pszCase = hc.pszCase;
    const std::string strDir = UsedVersionDir();
    const std::string strHeld = InDir(strDir, "kdsw_held.dll");
    const int cTemp = 6;
    for (int i = 0; i < cTemp; i++)
    {
        DeleteFileA(InDir(strDir, TempName(i)).c_str());
    }
    for (int nTaken : hc.anTaken)
    {
        MakeFile(InDir(strDir, TempName(nTaken)));
    }

    CHECK(CopyFileA(pszDllPath, strHeld.c_str(), FALSE));
    HMODULE hHeld = NULL;
    HANDLE hOpen = INVALID_HANDLE_VALUE;
    if (hc.hold == HOLD_LOADED)
    {
        hHeld = LoadLibraryA(strHeld.c_str());
        CHECK(hHeld != NULL);
    }
    else
    {
        hOpen = CreateFileA(strHeld.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        CHECK(hOpen != INVALID_HANDLE_VALUE);
    }
    CHECK(!DeleteFileA(strHeld.c_str())); // really in use

    std::vector<char> abBefore = ReadPending();
    CHECK(g_pfnDeleteOldFiles(0, 0, "kdsw_held.dll") == TRUE);
    std::vector<char> abAfter = ReadPending();

    if (!g_strVersionDir.empty() && hc.nExpected >= 0)
    {
        const std::string strTemp = InDir(strDir, TempName(hc.nExpected));
        CHECK(!Exists(strHeld));
        CHECK(Exists(strTemp));
        CHECK(IsPendingDelete(abAfter, strTemp));
        CHECK(PendingPairs(abAfter).size() == PendingPairs(abBefore).size() + 1);
    }
    else
    {
        CHECK(Exists(strHeld));
        CHECK(abAfter == abBefore);
    }
    // Only the expected name may have appeared.
    for (int i = 0; i < cTemp; i++)
    {
        bool bTaken = false;
        for (int nTaken : hc.anTaken)
        {
            bTaken = bTaken || nTaken == i;
        }
        if (!bTaken && !(i == hc.nExpected && !g_strVersionDir.empty()))
        {
            CHECK(!Exists(InDir(strDir, TempName(i))));
        }
    }

    if (hHeld != NULL)
    {
        FreeLibrary(hHeld);
    }
    if (hOpen != INVALID_HANDLE_VALUE)
    {
        CloseHandle(hOpen);
    }
    RestorePending(abBefore);
    DeleteFileA(strHeld.c_str());
    for (int i = 0; i < cTemp; i++)
    {
        DeleteFileA(InDir(strDir, TempName(i)).c_str());
    }
}

static void TestFileInUse(const char *pszDllPath)
{
    const HeldCase aCases[] = {
        {"loaded DLL, 000 to 002 taken", HOLD_LOADED, {0, 1, 2, 4}, 3},
        {"loaded DLL, 000 free", HOLD_LOADED, {1, 2}, 0},
        {"open without delete sharing", HOLD_OPEN, {}, -1},
    };
    for (const HeldCase &hc : aCases)
    {
        RunHeldCase(hc, pszDllPath);
    }
}

// What GetVersionExA must report for the version the script set, and which
// version directory belongs to it.
struct VersionCase
{
    const char *pszName;
    DWORD dwPlatformId;
    DWORD dwMajor;
    DWORD dwMinor;
    const char *pszVersionSubdir; // NULL: the 9x family, no version directory
};

static const VersionCase aVersions[] = {
    {"nt40", VER_PLATFORM_WIN32_NT, 4, 0, "2"},
    {"win2k", VER_PLATFORM_WIN32_NT, 5, 0, "3"},
    {"winxp", VER_PLATFORM_WIN32_NT, 5, 1, "3"},
    {"win98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, NULL},
};

int main(int argc, char **argv)
{
    if (argc != 3)
    {
        printf("usage: %s nt40|win2k|winxp|win98 DLLPATH\n", argv[0]);
        return 2;
    }
    const VersionCase *pVersion = NULL;
    for (const VersionCase &vc : aVersions)
    {
        if (lstrcmpA(vc.pszName, argv[1]) == 0)
        {
            pVersion = &vc;
        }
    }
    if (pVersion == NULL)
    {
        printf("unknown version %s\n", argv[1]);
        return 2;
    }

    OSVERSIONINFOA osvi;
    ZeroMemory(&osvi, sizeof(osvi));
    osvi.dwOSVersionInfoSize = sizeof(osvi);
    CHECK(GetVersionExA(&osvi));
    CHECK(osvi.dwPlatformId == pVersion->dwPlatformId);
    CHECK(osvi.dwMajorVersion == pVersion->dwMajor);
    CHECK(osvi.dwMinorVersion == pVersion->dwMinor);
    if (g_cFailures != 0)
    {
        printf("Wine does not report %s (%lu.%lu platform %lu): the version setting did not apply\n", argv[1],
               osvi.dwMajorVersion, osvi.dwMinorVersion, osvi.dwPlatformId);
        return 1;
    }

    char szDriverDir[MAX_PATH];
    DWORD cbNeeded = 0;
    CHECK(GetPrinterDriverDirectoryA(NULL, NULL, 1, (LPBYTE)szDriverDir, sizeof(szDriverDir), &cbNeeded));
    g_strDriverDir = szDriverDir;
    const std::string strDir2 = InDir(g_strDriverDir, "2");
    const std::string strDir3 = InDir(g_strDriverDir, "3");
    CreateDirectoryA(strDir2.c_str(), NULL);
    CreateDirectoryA(strDir3.c_str(), NULL);
    if (pVersion->pszVersionSubdir == NULL)
    {
        g_strOtherDir = strDir3;
    }
    else
    {
        g_strVersionDir = InDir(g_strDriverDir, pVersion->pszVersionSubdir);
        g_strOtherDir = g_strVersionDir == strDir2 ? strDir3 : strDir2;
    }
    printf("driver directory %s, version directory %s\n", g_strDriverDir.c_str(),
           g_strVersionDir.empty() ? "(none)" : g_strVersionDir.c_str());

    HMODULE hDll = LoadLibraryA(argv[2]);
    CHECK(hDll != NULL);
    if (hDll == NULL)
    {
        return 1;
    }
    g_pfnDeleteOldFiles = (PFN_DELETEOLDFILES)(void *)GetProcAddress(hDll, "DeleteOldFiles");
    CHECK(g_pfnDeleteOldFiles != NULL);
    if (g_pfnDeleteOldFiles == NULL)
    {
        return 1;
    }

    TestLists();
    TestMissingFile();
    TestFileInUse(argv[2]);

    FreeLibrary(hDll);
    printf("%s: %s\n", argv[1], g_cFailures == 0 ? "all checks passed" : "FAILED");
    return g_cFailures == 0 ? 0 : 1;
}
