// What the layer's tests share: a fresh emulated disk per test, and the
// probe-value idiom of Wine's conformance tests.
#pragma once

#include <w32emu.h>
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

// Put in the last error before a call, so that a call that leaves the last
// error alone is told apart from one that sets it.
const DWORD PROBE = 0xdeadbeef;

// Calls f with the probe in the last error; the result and the last error.
template <typename F>
auto Probe(F f) -> std::pair<decltype(f()), DWORD>
{
    SetLastError(PROBE);
    auto r = f();
    return {r, GetLastError()};
}

class LayerTest : public ::testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;

    // The host path of a Windows path on the emulated disk.
    std::string Host(const char *pszWinPath);
    // Host-side access, so that a test checks the layer with something
    // other than the layer.
    void Put(const char *pszWinPath, const std::string &content);
    std::string Get(const char *pszWinPath);
    bool HostExists(const char *pszWinPath);
    void MakeDir(const char *pszWinPath);

    HANDLE Open(const char *pszWinPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition = OPEN_EXISTING)
    {
        return CreateFileA(pszWinPath, dwAccess, dwShare, nullptr, dwDisposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    std::string m_root;

  private:
    DWORD m_cHandles = 0;
    DWORD m_cBlocks = 0;
    DWORD m_cModules = 0;
};

std::string Narrow(LPCWSTR psz); // ASCII test strings only
