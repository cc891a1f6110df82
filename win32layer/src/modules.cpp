// The module loader: LoadLibrary over dlopen, one reference-counted module
// per host file, and DllMain called at the first load and the last free as
// the Windows loader calls it.
#include "internal.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <map>

namespace w32emu
{
namespace
{

typedef BOOL(WINAPI *DLLMAIN)(HINSTANCE, DWORD, LPVOID);

struct Module
{
    void *pDl = nullptr;
    struct link_map *pLinkMap = nullptr;
    FileId id;
    DWORD cRefs = 0;
    DLLMAIN pfnDllMain = nullptr;
};

struct ModuleTable
{
    std::map<uintptr_t, Module> modules; // by HMODULE value
    uintptr_t next = 0x10000000;         // handles look like image bases and are never reused
};

ModuleTable &Modules()
{
    static ModuleTable &t = *new ModuleTable;
    return t;
}

// Held across a whole load or free, DllMain included, as the Windows loader
// lock is; the state lock is not held while DllMain runs.
std::recursive_mutex &LoaderMutex()
{
    static std::recursive_mutex &m = *new std::recursive_mutex;
    return m;
}

// dlsym also finds what a library's dependencies export; GetProcAddress
// finds only the module's own exports.
void *OwnSymbol(const Module &m, const char *pszName)
{
    void *p = dlsym(m.pDl, pszName);
    if (!p)
    {
        return nullptr;
    }
    Dl_info info;
    struct link_map *pLm = nullptr;
    if (!dladdr1(p, &info, (void **)&pLm, RTLD_DL_LINKMAP) || pLm != m.pLinkMap)
    {
        return nullptr;
    }
    return p;
}

DWORD DlopenError()
{
    const char *psz = dlerror();
    if (psz && strstr(psz, "undefined symbol"))
    {
        return ERROR_PROC_NOT_FOUND; // an import the process does not have
    }
    if (psz && strstr(psz, "cannot open shared object file"))
    {
        return ERROR_MOD_NOT_FOUND; // a dependency is missing
    }
    return ERROR_BAD_EXE_FORMAT;
}

HMODULE LoadImpl(LPCWSTR pszName)
{
    if (!pszName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (WStringView(pszName).find_first_of(u"\\/:") == WStringView::npos)
    {
        // The system's search for a bare module name is not emulated.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    HostPath hp;
    DWORD dwError = ResolvePath(pszName, 0, hp);
    if (dwError)
    {
        SetLastError(dwError == ERROR_PATH_NOT_FOUND ? ERROR_MOD_NOT_FOUND : dwError);
        return nullptr;
    }
    if (!hp.bExists || hp.IsDir() || hp.bTrailingOnFile)
    {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard<std::recursive_mutex> loader(LoaderMutex());
    {
        StateLock lock(StateMutex());
        for (auto &e : Modules().modules)
        {
            if (e.second.id == hp.Id())
            {
                e.second.cRefs++;
                return (HMODULE)e.first;
            }
        }
    }
    Module m;
    m.id = hp.Id();
    m.cRefs = 1;
    dlerror();
    m.pDl = dlopen(hp.host.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m.pDl)
    {
        SetLastError(DlopenError());
        return nullptr;
    }
    if (dlinfo(m.pDl, RTLD_DI_LINKMAP, &m.pLinkMap) != 0)
    {
        dlclose(m.pDl);
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    m.pfnDllMain = (DLLMAIN)OwnSymbol(m, "DllMain");
    uintptr_t h;
    {
        StateLock lock(StateMutex());
        ModuleTable &t = Modules();
        h = t.next;
        t.next += 0x10000;
        t.modules[h] = m;
    }
    if (m.pfnDllMain && !m.pfnDllMain((HINSTANCE)h, DLL_PROCESS_ATTACH, nullptr))
    {
        // A refused attach is followed by a detach, then the unload.
        m.pfnDllMain((HINSTANCE)h, DLL_PROCESS_DETACH, nullptr);
        {
            StateLock lock(StateMutex());
            Modules().modules.erase(h);
        }
        dlclose(m.pDl);
        SetLastError(ERROR_DLL_INIT_FAILED);
        return nullptr;
    }
    return (HMODULE)h;
}

bool FindModule(HMODULE h, Module &out)
{
    StateLock lock(StateMutex());
    auto it = Modules().modules.find((uintptr_t)h);
    if (it == Modules().modules.end())
    {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return false;
    }
    out = it->second;
    return true;
}

} // namespace

bool IsModuleImage(const FileId &id)
{
    StateLock lock(StateMutex());
    for (auto &e : Modules().modules)
    {
        if (e.second.id == id)
        {
            return true;
        }
    }
    return false;
}

} // namespace w32emu

using namespace w32emu;

WINBASEAPI HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName)
{
    if (CallFails("LoadLibraryW"))
    {
        return nullptr;
    }
    return LoadImpl(lpLibFileName);
}

WINBASEAPI HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    if (CallFails("LoadLibraryA"))
    {
        return nullptr;
    }
    WString name;
    if (!PathArgToWide(lpLibFileName, name))
    {
        return nullptr;
    }
    return LoadImpl(name.c_str());
}

WINBASEAPI FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    if (CallFails("GetProcAddress"))
    {
        return nullptr;
    }
    Module m;
    if (!FindModule(hModule, m))
    {
        return nullptr;
    }
    if (!((uintptr_t)lpProcName >> 16))
    {
        // Lookup by ordinal is not emulated: ELF has no ordinals.
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void *p = OwnSymbol(m, lpProcName);
    if (!p)
    {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return (FARPROC)p;
}

WINBASEAPI BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    std::lock_guard<std::recursive_mutex> loader(LoaderMutex());
    Module m;
    {
        StateLock lock(StateMutex());
        auto it = Modules().modules.find((uintptr_t)hLibModule);
        if (it == Modules().modules.end())
        {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        if (--it->second.cRefs)
        {
            return TRUE;
        }
        m = it->second;
    }
    if (m.pfnDllMain)
    {
        m.pfnDllMain((HINSTANCE)hLibModule, DLL_PROCESS_DETACH, nullptr);
    }
    {
        StateLock lock(StateMutex());
        Modules().modules.erase((uintptr_t)hLibModule);
    }
    dlclose(m.pDl);
    return TRUE;
}

WINBASEAPI BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule)
{
    // Threads are not announced to modules here, so there is nothing to turn off.
    Module m;
    return FindModule(hLibModule, m) ? TRUE : FALSE;
}

W32EMU_API DWORD W32EmuLoadedModuleCount(void)
{
    StateLock lock(StateMutex());
    return (DWORD)Modules().modules.size();
}
