#include "support.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

void LayerTest::SetUp()
{
    const char *pszTmp = getenv("TMPDIR");
    std::string templ = std::string(pszTmp && *pszTmp ? pszTmp : "/tmp") + "/w32emu-test-XXXXXX";
    ASSERT_NE(mkdtemp(&templ[0]), nullptr);
    m_root = templ;
    W32EmuSetRoot(m_root.c_str());
    W32EmuSetWindowsDir(nullptr);
    W32EmuSetVersion(VER_PLATFORM_WIN32_NT, 5, 1, 2600, TRUE);
    W32EmuResetFaults();
    W32EmuDebugClear();
    W32EmuPendingRenameClear();
    W32EmuRedirectClear();
    m_cHandles = W32EmuOpenHandleCount();
    m_cBlocks = W32EmuLiveGlobalBlocks();
    m_cModules = W32EmuLoadedModuleCount();
}

void LayerTest::TearDown()
{
    // What a test opens, allocates or loads, it must give back.
    EXPECT_EQ(W32EmuOpenHandleCount(), m_cHandles) << "handles left open";
    EXPECT_EQ(W32EmuLiveGlobalBlocks(), m_cBlocks) << "global blocks left";
    EXPECT_EQ(W32EmuLoadedModuleCount(), m_cModules) << "modules left loaded";
    W32EmuResetFaults();
    W32EmuRedirectClear();
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
    W32EmuSetRoot(nullptr);
}

std::string LayerTest::Host(const char *pszWinPath)
{
    char sz[4096];
    EXPECT_TRUE(W32EmuToHostPathA(pszWinPath, sz, sizeof sz)) << pszWinPath;
    return sz;
}

void LayerTest::Put(const char *pszWinPath, const std::string &content)
{
    std::filesystem::path host = Host(pszWinPath);
    std::filesystem::create_directories(host.parent_path());
    std::ofstream f(host, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(f) << pszWinPath;
    f.write(content.data(), (std::streamsize)content.size());
}

std::string LayerTest::Get(const char *pszWinPath)
{
    std::ifstream f(Host(pszWinPath), std::ios::binary);
    EXPECT_TRUE(f) << pszWinPath;
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool LayerTest::HostExists(const char *pszWinPath)
{
    struct stat st;
    return stat(Host(pszWinPath).c_str(), &st) == 0;
}

void LayerTest::MakeDir(const char *pszWinPath)
{
    ASSERT_EQ(mkdir(Host(pszWinPath).c_str(), 0777), 0) << pszWinPath;
}

std::string Narrow(LPCWSTR psz)
{
    std::string s;
    for (; psz && *psz; psz++)
    {
        s += (char)*psz;
    }
    return s;
}
