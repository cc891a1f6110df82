// setuptidy on the Win32 layer: its command-line rule, its cleaning run in
// process on an emulated Windows directory, and the built program started
// as the setup program starts it.
#include <gtest/gtest.h>

#include <windows.h>

#include <w32emu.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "setuptidy.h"

namespace
{

// ---- the command line ----------------------------------------------------------

struct ParseCase
{
    const char *pszLine;
    const char *pszCompany;
    const char *pszFolder;
};

TEST(ParseCommandLine, SwitchesAndDefaults)
{
    const ParseCase aCases[] = {
        {"/CAcme /FLaser", "Acme", "Laser"},
        {"/cAcme /fLaser", "Acme", "Laser"},
        {"/C Acme /F My Printer", "Acme", "MyPrinter"},
        {"  /CAcme   /FLaser  ", "Acme", "Laser"},
        {"junk /CAcme /FLaser", "Acme", "Laser"},
        {"/Laser", "Vantora", "Laser"},
        {"/ Laser Jet", "Vantora", "LaserJet"},
        {"/CAcme", "Vantora", "CAcme"},
        {"/FLaser /CAcme", "Vantora", "FLaser"},
        {"/CAcme /Fdir/sub", "Acme", "dir/sub"},
        {"/CAcme /XLaser", "Vantora", "CAcme"},
        {"/C\tAcme /FLaser", "\tAcme", "Laser"}, // only the blank 0x20 is dropped
        {"/C/F", "", ""},
        {"/", "Vantora", ""},
        {"no switch at all", "Vantora", ""},
        {"", "Vantora", ""},
    };
    for (const ParseCase &pc : aCases)
    {
        std::string strCompany = "stale";
        std::string strFolder = "stale";
        ParseCommandLine(pc.pszLine, strCompany, strFolder);
        EXPECT_EQ(strCompany, pc.pszCompany) << "'" << pc.pszLine << "'";
        EXPECT_EQ(strFolder, pc.pszFolder) << "'" << pc.pszLine << "'";
    }
}

TEST(ParseCommandLine, NullLineIsEmpty)
{
    std::string strCompany;
    std::string strFolder;
    ParseCommandLine(NULL, strCompany, strFolder);
    EXPECT_EQ(strCompany, DEFAULT_COMPANY);
    EXPECT_EQ(strFolder, "");
}

// ---- cleaning ------------------------------------------------------------------------

class SetupTidyTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        std::string strTemplate = (std::filesystem::temp_directory_path() / "setuptidy-XXXXXX").string();
        ASSERT_NE(mkdtemp(&strTemplate[0]), nullptr);
        m_strRoot = strTemplate;
        W32EmuSetRoot(m_strRoot.c_str());
        W32EmuResetFaults();
        char szWindows[MAX_PATH];
        ASSERT_NE(GetWindowsDirectoryA(szWindows, MAX_PATH), 0u);
        m_strWindows = szWindows;
        CreateDirectoryA(m_strWindows.c_str(), NULL);
        m_dwHandles = W32EmuOpenHandleCount();
    }

    void TearDown() override
    {
        EXPECT_EQ(W32EmuOpenHandleCount(), m_dwHandles) << "a search handle was left open";
        W32EmuResetFaults();
        std::error_code ec;
        std::filesystem::remove_all(m_strRoot, ec);
    }

    // A path under the Windows directory, '/' written for '\'.
    std::string Win(const std::string &strRel) const
    {
        std::string strPath = m_strWindows + "\\" + strRel;
        for (char &ch : strPath)
        {
            ch = ch == '/' ? '\\' : ch;
        }
        return strPath;
    }

    // A directory for a name ending in '/', else an empty file, with every
    // directory above it.
    void Make(const std::string &strRel) const
    {
        std::string strPath = Win(strRel);
        for (size_t i = m_strWindows.size() + 1; (i = strPath.find('\\', i)) != std::string::npos; i++)
        {
            CreateDirectoryA(strPath.substr(0, i).c_str(), NULL);
        }
        if (strPath.back() != '\\')
        {
            HANDLE hFile =
                CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
            ASSERT_NE(hFile, INVALID_HANDLE_VALUE) << strPath;
            CloseHandle(hFile);
        }
    }

    bool Exists(const std::string &strRel) const
    {
        return GetFileAttributesA(Win(strRel).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    static int Run(const char *pszLine)
    {
        std::string strLine(pszLine);
        return WinMain(NULL, NULL, &strLine[0], 10);
    }

    std::string m_strRoot;
    std::string m_strWindows;
    DWORD m_dwHandles = 0;
};

struct TidyCase
{
    const char *pszCase;
    const char *pszLine;
    std::vector<std::string> astrMake;
    std::vector<std::string> astrPresent;
    std::vector<std::string> astrAbsent;
};

const TidyCase aTidyCases[] = {
    {"company and folder", "/CAcme /FLaser", {"Acme/Laser/Setup.exe", "Acme/Laser/Common/"}, {}, {"Acme"}},
    {"Setup.inx beside Setup.exe",
     "/CAcme /FLaser",
     {"Acme/Laser/Setup.exe", "Acme/Laser/Setup.inx", "Acme/Laser/Common/"},
     {"Acme/Laser/Setup.exe", "Acme/Laser/Setup.inx"},
     {"Acme/Laser/Common"}},
    {"Setup.inx alone", "/CAcme /FLaser", {"Acme/Laser/Setup.inx"}, {"Acme/Laser/Setup.inx"}, {}},
    {"blanks dropped", "/C Acme /F My Printer", {"Acme/MyPrinter/Setup.exe"}, {}, {"Acme"}},
    {"default company", "/Laser", {"Vantora/Laser/Setup.exe", "Vantora/Laser/Common/"}, {}, {"Vantora"}},
    {"company switch alone",
     "/CAcme",
     {"Vantora/CAcme/Common/", "Acme/Laser/Common/"},
     {"Acme/Laser/Common"},
     {"Vantora"}},
    {"folder switch first",
     "/FLaser /CAcme",
     {"Vantora/FLaser/Setup.exe", "Acme/Laser/Setup.exe"},
     {"Acme/Laser/Setup.exe"},
     {"Vantora"}},
    {"folder with a slash",
     "/CAcme /Fdir/sub",
     {"Acme/dir/sub/Setup.exe", "Acme/dir/sub/Common/"},
     {"Acme/dir"},
     {"Acme/dir/sub"}},
    {"no argument", "", {"Vantora/Setup.exe", "Vantora/Common/"}, {}, {"Vantora"}},
    {"directories not empty",
     "/CAcme /FLaser",
     {"Acme/Laser/Setup.exe", "Acme/Laser/Common/readme.txt", "Acme/notes.txt"},
     {"Acme/Laser/Common/readme.txt", "Acme/notes.txt"},
     {"Acme/Laser/Setup.exe"}},
    {"only the innermost empty",
     "/CAcme /FLaser",
     {"Acme/Laser/Common/", "Acme/Other/"},
     {"Acme/Other"},
     {"Acme/Laser"}},
    {"nothing there", "/CAcme /FLaser", {}, {}, {"Acme"}},
    {"empty company name",
     "/C /FLaser",
     {"Laser/Setup.exe", "Laser/Common/", "Setup.exe", "Common/"},
     {"Laser/Setup.exe", "Laser/Common", "Setup.exe", "Common"},
     {}},
    {"empty company and folder", "/C/F", {"Setup.exe", "Common/"}, {"Setup.exe", "Common"}, {}},
};

TEST_F(SetupTidyTest, CleansTheFolderTree)
{
    for (const TidyCase &tc : aTidyCases)
    {
        SCOPED_TRACE(tc.pszCase);
        for (const std::string &strRel : tc.astrMake)
        {
            Make(strRel);
        }

        EXPECT_EQ(Run(tc.pszLine), 0);

        for (const std::string &strRel : tc.astrPresent)
        {
            EXPECT_TRUE(Exists(strRel)) << strRel << " was removed";
        }
        for (const std::string &strRel : tc.astrAbsent)
        {
            EXPECT_FALSE(Exists(strRel)) << strRel << " is still there";
        }
        for (const char *pszTop : {"Acme", "Vantora", "Laser", "Common", "Setup.exe"})
        {
            char szHost[4096];
            if (W32EmuToHostPathA(Win(pszTop).c_str(), szHost, sizeof(szHost)))
            {
                std::error_code ec;
                std::filesystem::remove_all(szHost, ec);
            }
        }
    }
}

TEST_F(SetupTidyTest, UnknownSetupInxKeepsSetupExe)
{
    // The search for Setup.inx fails for another reason than a missing file.
    Make("Acme/Laser/Setup.exe");
    W32EmuFailCall("FindFirstFileA", 2, ERROR_ACCESS_DENIED, 1);

    EXPECT_EQ(Run("/CAcme /FLaser"), 0);

    EXPECT_TRUE(Exists("Acme/Laser/Setup.exe"));
}

TEST_F(SetupTidyTest, FailuresAreNotReported)
{
    Make("Acme/Laser/Setup.exe");
    Make("Acme/Laser/Common/");
    W32EmuFailCall("DeleteFileA", 1, ERROR_ACCESS_DENIED, 0);
    W32EmuFailCall("RemoveDirectoryA", 1, ERROR_ACCESS_DENIED, 0);

    EXPECT_EQ(Run("/CAcme /FLaser"), 0);

    EXPECT_TRUE(Exists("Acme/Laser/Setup.exe"));
    EXPECT_EQ(W32EmuCallCount("RemoveDirectoryA"), 3u); // each directory is still tried
}

TEST_F(SetupTidyTest, NoWindowsDirectoryDoesNothing)
{
    Make("Vantora/Common/");
    W32EmuFailCall("GetWindowsDirectoryA", 1, ERROR_ACCESS_DENIED, 0);

    EXPECT_EQ(Run(""), 0);

    EXPECT_TRUE(Exists("Vantora/Common"));
    EXPECT_EQ(W32EmuCallCount("RemoveDirectoryA"), 0u);
}

// ---- names too long for a path -------------------------------------------------------

TEST_F(SetupTidyTest, CompanyTooLongIsLeftAlone)
{
    // "<windows>\" + company + "\" must fit in 259 characters. Cut to fit, the
    // company directory would be the trap directory.
    const size_t cchCut = 259 - (m_strWindows.size() + 1);
    const std::string strLong(cchCut + 2, 'k');
    Make(strLong.substr(0, cchCut) + "/");

    EXPECT_EQ(Run(("/C" + strLong + " /FLaser").c_str()), 0);

    EXPECT_TRUE(Exists(strLong.substr(0, cchCut)));
    EXPECT_EQ(W32EmuCallCount("RemoveDirectoryA"), 0u);
    EXPECT_EQ(W32EmuCallCount("FindFirstFileA"), 0u);
}

TEST_F(SetupTidyTest, FolderTooLongLeavesOnlyTheCompany)
{
    // The company directory fits and is tried; the folder directory does not.
    const size_t cchCut = 259 - Win("Acme/").size();
    const std::string strLong(cchCut + 2, 'y');
    Make("Acme/" + strLong.substr(0, cchCut) + "/");

    EXPECT_EQ(Run(("/CAcme /F" + strLong).c_str()), 0);

    EXPECT_TRUE(Exists("Acme/" + strLong.substr(0, cchCut)));
    EXPECT_EQ(W32EmuCallCount("RemoveDirectoryA"), 1u);
    EXPECT_EQ(W32EmuCallCount("FindFirstFileA"), 0u);
}

TEST_F(SetupTidyTest, FolderAtTheLimitStillCleans)
{
    // The folder directory fits exactly (259 characters with its backslash),
    // so it and the company are removed; Common and Setup.exe paths do not
    // fit and are not used.
    const size_t cchFolder = 259 - Win("Acme/").size() - 1;
    const std::string strFolder(cchFolder, 'z');
    Make("Acme/" + strFolder + "/");

    EXPECT_EQ(Run(("/CAcme /F" + strFolder).c_str()), 0);

    EXPECT_FALSE(Exists("Acme"));
    EXPECT_EQ(W32EmuCallCount("RemoveDirectoryA"), 2u);
    EXPECT_EQ(W32EmuCallCount("FindFirstFileA"), 0u);
}

TEST_F(SetupTidyTest, FunctionsReportWhatTheyDid)
{
    Make("Acme/Laser/Setup.exe");
    Make("Acme/Empty/");
    EXPECT_TRUE(DeleteOrphanSetup(Win("Acme/Laser/").c_str()));
    EXPECT_FALSE(DeleteOrphanSetup(Win("Acme/Laser/").c_str())); // gone now
    EXPECT_TRUE(RemoveEmptyDirectory(Win("Acme/Empty/").c_str()));
    EXPECT_FALSE(RemoveEmptyDirectory(Win("Acme/").c_str())); // Laser is in it
}

// ---- the program ------------------------------------------------------------------------

TEST_F(SetupTidyTest, ProgramJoinsItsArgumentsAsTheStartupCodeDoes)
{
    struct
    {
        std::vector<std::string> astrArgs;
        const char *pszGone;
        const char *pszKept;
    } aRuns[] = {
        {{"/C", "Acme", "/F", "My", "Printer"}, "Acme/MyPrinter", "Acme/Laser"},
        {{"/CAcme /FLaser"}, "Acme", "Vantora"}, // one argument with blanks in it
        {{}, "Vantora", ""},
    };
    Make("Acme/MyPrinter/Setup.exe");
    Make("Acme/Laser/Common/");
    Make("Vantora/Common/");
    for (const auto &run : aRuns)
    {
        std::string strCommand = "W32EMU_ROOT='" + m_strRoot + "' '" SETUPTIDY_EXE "'";
        for (const std::string &strArg : run.astrArgs)
        {
            strCommand += " '" + strArg + "'";
        }
        int nStatus = std::system(strCommand.c_str());
        ASSERT_TRUE(WIFEXITED(nStatus)) << strCommand;
        EXPECT_EQ(WEXITSTATUS(nStatus), 0) << strCommand;
        EXPECT_FALSE(Exists(run.pszGone)) << strCommand;
        if (*run.pszKept != '\0')
        {
            EXPECT_TRUE(Exists(run.pszKept)) << strCommand;
        }
    }
}

} // namespace
