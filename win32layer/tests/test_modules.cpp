// The loader: reference counts, DllMain, exports.
#include "support.h"

#include <fstream>

namespace
{

typedef int(WINAPI *ADD)(int, int);
typedef int(WINAPI *COUNT)(void);
typedef void(WINAPI *SETERROR)(DWORD);

// An export as the function type it has (through void (*)(), the type that
// converts to every function type without a warning).
template <typename T>
T Proc(HMODULE h, const char *pszName)
{
    return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(h, pszName)));
}

class Modules : public LayerTest
{
  protected:
    void SetUp() override
    {
        LayerTest::SetUp();
        MakeDir("C:\\Mods");
        Copy(TESTMOD_PATH, "C:\\Mods\\TestMod.dll");
        Copy(TESTMOD_REFUSE_PATH, "C:\\Mods\\refuse.dll");
    }
    void Copy(const char *pszHostFrom, const char *pszWinTo)
    {
        std::ifstream in(pszHostFrom, std::ios::binary);
        ASSERT_TRUE(in) << pszHostFrom;
        std::ofstream(Host(pszWinTo), std::ios::binary) << in.rdbuf();
    }
    std::vector<std::string> Journal()
    {
        std::vector<std::string> v;
        for (DWORD i = 0; i < W32EmuDebugCount(); i++)
        {
            v.push_back(Narrow(W32EmuDebugAt(i)));
        }
        W32EmuDebugClear();
        return v;
    }
};

typedef std::vector<std::string> Lines;

TEST_F(Modules, OneModulePerFileWithDllMainAtFirstLoadAndLastFree)
{
    DWORD c0 = W32EmuLoadedModuleCount();
    auto [h1, e1] = Probe([] { return LoadLibraryW(u"C:\\Mods\\TestMod.dll"); });
    ASSERT_NE(h1, nullptr);
    EXPECT_EQ(e1, PROBE);
    // "testmod <reason> <reserved non-null>"
    EXPECT_EQ(Journal(), (Lines{"testmod 1 0"}));
    // Other spellings of the same file: the same module, no second attach.
    HMODULE h2 = LoadLibraryA("c:\\mods\\TESTMOD.DLL");
    HMODULE h3 = LoadLibraryW(u"C:/Mods/../Mods/testmod.dll");
    EXPECT_EQ(h2, h1);
    EXPECT_EQ(h3, h1);
    EXPECT_EQ(Journal(), Lines{});
    EXPECT_EQ(W32EmuLoadedModuleCount(), c0 + 1);
    auto count = Proc<COUNT>(h1, "TestModAttachCount");
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count(), 1);

    EXPECT_EQ(Probe([h1 = h1] { return FreeLibrary(h1); }), std::make_pair(TRUE, PROBE));
    EXPECT_EQ(Probe([&] { return FreeLibrary(h2); }), std::make_pair(TRUE, PROBE));
    EXPECT_EQ(Journal(), Lines{});
    EXPECT_EQ(Probe([&] { return FreeLibrary(h3); }), std::make_pair(TRUE, PROBE));
    EXPECT_EQ(Journal(), (Lines{"testmod 0 0"}));
    EXPECT_EQ(W32EmuLoadedModuleCount(), c0);
    // Now stale.
    EXPECT_EQ(Probe([h1 = h1] { return FreeLibrary(h1); }), std::make_pair(FALSE, (DWORD)ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(Probe([h1 = h1] { return GetProcAddress(h1, "TestModAdd"); }),
              std::make_pair((FARPROC) nullptr, (DWORD)ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(Probe([h1 = h1] { return DisableThreadLibraryCalls(h1); }),
              std::make_pair(FALSE, (DWORD)ERROR_MOD_NOT_FOUND));
    // A load after the last free is a new module, attached again.
    HMODULE h4 = LoadLibraryW(u"C:\\Mods\\TestMod.dll");
    ASSERT_NE(h4, nullptr);
    EXPECT_NE(h4, h1);
    EXPECT_EQ(Journal(), (Lines{"testmod 1 0"}));
    FreeLibrary(h4);
    W32EmuDebugClear();
}

TEST_F(Modules, TwoCopiesAreTwoModules)
{
    Copy(TESTMOD_PATH, "C:\\Mods\\copy.dll");
    HMODULE a = LoadLibraryW(u"C:\\Mods\\TestMod.dll");
    HMODULE b = LoadLibraryW(u"C:\\Mods\\copy.dll");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(Journal(), (Lines{"testmod 1 0", "testmod 1 0"}));
    FreeLibrary(a);
    FreeLibrary(b);
}

TEST_F(Modules, Exports)
{
    HMODULE h = LoadLibraryW(u"C:\\Mods\\TestMod.dll");
    ASSERT_NE(h, nullptr);
    auto [add, e1] = Probe([&] { return Proc<ADD>(h, "TestModAdd"); });
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(e1, PROBE);
    EXPECT_EQ(add(2, 3), 5);
    // Not exported, differently cased, by ordinal, and exported by a library
    // the module depends on: none is the module's export.
    for (const char *psz : {"NoSuchExport", "testmodadd", (const char *)(uintptr_t)1, "OutputDebugStringW"})
    {
        EXPECT_EQ(Probe([&] { return GetProcAddress(h, psz); }),
                  std::make_pair((FARPROC) nullptr, (DWORD)ERROR_PROC_NOT_FOUND));
    }
    EXPECT_EQ(Probe([&] { return DisableThreadLibraryCalls(h); }), std::make_pair(TRUE, PROBE));
    // The module sees the process's one last error.
    auto setError = Proc<SETERROR>(h, "TestModSetLastError");
    ASSERT_NE(setError, nullptr);
    SetLastError(0);
    setError(1234);
    EXPECT_EQ(GetLastError(), 1234u);
    FreeLibrary(h);
    W32EmuDebugClear();
}

TEST_F(Modules, RefusedAttach)
{
    DWORD c0 = W32EmuLoadedModuleCount();
    // DLL_PROCESS_ATTACH refused: DLL_PROCESS_DETACH follows, then the unload.
    EXPECT_EQ(Probe([] { return LoadLibraryW(u"C:\\Mods\\refuse.dll"); }),
              std::make_pair((HMODULE) nullptr, (DWORD)ERROR_DLL_INIT_FAILED));
    EXPECT_EQ(Journal(), (Lines{"testmod 1 0", "testmod 0 0"}));
    EXPECT_EQ(W32EmuLoadedModuleCount(), c0);
    EXPECT_TRUE(DeleteFileA("C:\\Mods\\refuse.dll"));
}

TEST_F(Modules, LoadFailures)
{
    Put("C:\\Mods\\text.dll", "not a module");
    struct
    {
        LPCWSTR psz;
        DWORD dwError;
    } cases[] = {
        {u"C:\\Mods\\missing.dll", ERROR_MOD_NOT_FOUND},
        {u"C:\\nodir\\missing.dll", ERROR_MOD_NOT_FOUND},
        {u"C:\\Mods", ERROR_MOD_NOT_FOUND},
        {u"C:\\Mods\\text.dll", ERROR_BAD_EXE_FORMAT},
        {u"testmod.dll", ERROR_CALL_NOT_IMPLEMENTED}, // the system's search is a gap
    };
    for (auto &c : cases)
    {
        EXPECT_EQ(Probe([&] { return LoadLibraryW(c.psz); }), std::make_pair((HMODULE) nullptr, c.dwError))
            << Narrow(c.psz);
    }
}

TEST_F(Modules, ALoadedImageCannotBeDeletedButCanBeRenamed)
{
    HMODULE h = LoadLibraryW(u"C:\\Mods\\TestMod.dll");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Probe([] { return DeleteFileA("C:\\Mods\\TestMod.dll"); }),
              std::make_pair(FALSE, (DWORD)ERROR_ACCESS_DENIED));
    EXPECT_EQ(Probe([] { return MoveFileExA("C:\\Mods\\TestMod.dll", "C:\\Mods\\old.dll", 0); }),
              std::make_pair(TRUE, PROBE));
    EXPECT_EQ(Probe([] { return DeleteFileA("C:\\Mods\\old.dll"); }),
              std::make_pair(FALSE, (DWORD)ERROR_ACCESS_DENIED));
    FreeLibrary(h);
    EXPECT_TRUE(DeleteFileA("C:\\Mods\\old.dll"));
    W32EmuDebugClear();
}

} // namespace
