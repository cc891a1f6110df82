// setuptidy: a program without a window that the setup program starts to
// clean the per-maker folder under the Windows directory: it deletes a
// Setup.exe left without its Setup.inx, then removes the folder tree from
// the innermost directory outwards, each directory only if it is empty.
// Nothing is reported; the exit code is always 0.
#include <windows.h>

#include <algorithm>
#include <string>

#include "setuptidy.h"

static const char szCommonDir[] = "Common\\";
static const char szSetupExe[] = "\\Setup.exe";
static const char szSetupInx[] = "\\Setup.inx";

static void RemoveBlanks(std::string &str)
{
    str.erase(std::remove(str.begin(), str.end(), ' '), str.end());
}

void ParseCommandLine(LPCSTR pszCmdLine, std::string &strCompany, std::string &strFolder)
{
    const std::string strLine(pszCmdLine != NULL ? pszCmdLine : "");
    std::string strSwitch1;
    std::string strSwitch2;

    size_t iFirst = strLine.find('/');
    if (iFirst != std::string::npos)
    {
        size_t iSecond = strLine.find('/', iFirst + 1);
        if (iSecond == std::string::npos)
        {
            strSwitch1 = strLine.substr(iFirst);
        }
        else
        {
            strSwitch1 = strLine.substr(iFirst, iSecond - iFirst);
            strSwitch2 = strLine.substr(iSecond);
        }
    }
    RemoveBlanks(strSwitch1);
    RemoveBlanks(strSwitch2);

    bool bCompany = strSwitch1.find("/C") != std::string::npos || strSwitch1.find("/c") != std::string::npos;
    bool bFolder = strSwitch2.find("/F") != std::string::npos || strSwitch2.find("/f") != std::string::npos;
    if (bCompany && bFolder)
    {
        strCompany = strSwitch1.substr(2);
        strFolder = strSwitch2.substr(2);
    }
    else
    {
        strCompany = DEFAULT_COMPANY;
        strFolder = strSwitch1.empty() ? std::string() : strSwitch1.substr(1);
    }
}

// Joins up to four parts into a MAX_PATH buffer. A path that does not fit is
// never used shortened: FALSE, and the buffer is left empty.
static BOOL JoinPath(LPSTR pszPath, LPCSTR pszPart1, LPCSTR pszPart2, LPCSTR pszPart3 = "", LPCSTR pszPart4 = "")
{
    LPCSTR apszParts[] = {pszPart1, pszPart2, pszPart3, pszPart4};
    int cchTotal = 0;

    pszPath[0] = '\0';
    for (LPCSTR pszPart : apszParts)
    {
        int cchPart = lstrlenA(pszPart);
        if (cchPart >= MAX_PATH - cchTotal)
        {
            pszPath[0] = '\0';
            return FALSE;
        }
        CopyMemory(pszPath + cchTotal, pszPart, cchPart + 1);
        cchTotal += cchPart;
    }
    return TRUE;
}

BOOL DeleteOrphanSetup(LPCSTR pszFolderDir)
{
    char szExePath[MAX_PATH];
    char szInxPath[MAX_PATH];
    WIN32_FIND_DATAA findData;

    // The folder path ends in a backslash already; the doubled separator is
    // accepted by the file functions.
    if (!JoinPath(szExePath, pszFolderDir, szSetupExe) || !JoinPath(szInxPath, pszFolderDir, szSetupInx))
    {
        return FALSE;
    }

    HANDLE hFind = FindFirstFileA(szExePath, &findData);
    if (hFind == INVALID_HANDLE_VALUE)
    {
        return FALSE;
    }
    FindClose(hFind);

    // Setup.exe goes only when Setup.inx is known to be missing: a search
    // that fails for any other reason leaves it where it is.
    hFind = FindFirstFileA(szInxPath, &findData);
    if (hFind != INVALID_HANDLE_VALUE)
    {
        FindClose(hFind);
        return FALSE;
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND)
    {
        return FALSE;
    }
    return DeleteFileA(szExePath);
}

BOOL RemoveEmptyDirectory(LPCSTR pszDir)
{
    return RemoveDirectoryA(pszDir);
}

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    std::string strCompany;
    std::string strFolder;
    char szWindowsDir[MAX_PATH];
    char szCompanyDir[MAX_PATH];
    char szFolderDir[MAX_PATH];
    char szCommonPath[MAX_PATH];

    (void)hInstance;
    (void)hPrevInstance;
    (void)nShowCmd;

    ParseCommandLine(lpCmdLine, strCompany, strFolder);

    // An empty company name would make the Windows directory itself the
    // company directory: that is never ours to clean.
    UINT cchWindows = GetWindowsDirectoryA(szWindowsDir, MAX_PATH);
    if (cchWindows == 0 || cchWindows >= MAX_PATH || strCompany.empty())
    {
        return 0;
    }

    // Each directory extends the one before. One that does not fit is left
    // alone, with all below it: nothing is done with a shortened path.
    BOOL bCompany = JoinPath(szCompanyDir, szWindowsDir, "\\", strCompany.c_str(), "\\");
    BOOL bFolder = bCompany && JoinPath(szFolderDir, szCompanyDir, strFolder.c_str(), "\\");
    BOOL bCommon = bFolder && JoinPath(szCommonPath, szFolderDir, szCommonDir);

    if (bFolder)
    {
        DeleteOrphanSetup(szFolderDir);
    }
    if (bCommon)
    {
        RemoveEmptyDirectory(szCommonPath);
    }
    if (bFolder)
    {
        RemoveEmptyDirectory(szFolderDir);
    }
    if (bCompany)
    {
        RemoveEmptyDirectory(szCompanyDir);
    }
    return 0;
}
