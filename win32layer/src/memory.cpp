// Fixed global memory. Blocks are tracked, so that an unknown or freed
// pointer is refused instead of corrupting the heap, and so that tests can
// count what is left.
#include "internal.h"

#include <cstdlib>
#include <unordered_map>

namespace w32emu
{
namespace
{

// What a 32-bit process could ever get; larger requests fail as they would
// there, instead of reaching the host's allocator.
const SIZE_T CB_GLOBAL_MAX = 0x7FFF0000;
const UINT GMEM_VALID_FLAGS = 0x7FFF;

std::unordered_map<void *, SIZE_T> &Blocks()
{
    static std::unordered_map<void *, SIZE_T> &m = *new std::unordered_map<void *, SIZE_T>;
    return m;
}

} // namespace
} // namespace w32emu

using namespace w32emu;

WINBASEAPI HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes)
{
    if (CallFails("GlobalAlloc"))
    {
        return nullptr;
    }
    if (uFlags & ~GMEM_VALID_FLAGS)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (uFlags & GMEM_MOVEABLE)
    {
        // Movable blocks (handles to lock) are not emulated.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    if (dwBytes > CB_GLOBAL_MAX)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // A zero-byte block is still a distinct, valid pointer.
    size_t cb = dwBytes ? dwBytes : 1;
    void *p = (uFlags & GMEM_ZEROINIT) ? calloc(1, cb) : malloc(cb);
    if (!p)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    StateLock lock(StateMutex());
    Blocks()[p] = dwBytes;
    return p;
}

WINBASEAPI HGLOBAL WINAPI GlobalFree(HGLOBAL hMem)
{
    if (!hMem)
    {
        return nullptr;
    }
    {
        StateLock lock(StateMutex());
        auto it = Blocks().find(hMem);
        if (it == Blocks().end())
        {
            SetLastError(ERROR_INVALID_HANDLE);
            return hMem;
        }
        Blocks().erase(it);
    }
    free(hMem);
    return nullptr;
}

WINBASEAPI SIZE_T WINAPI GlobalSize(HGLOBAL hMem)
{
    StateLock lock(StateMutex());
    auto it = Blocks().find(hMem);
    if (it == Blocks().end())
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return it->second;
}

W32EMU_API DWORD W32EmuLiveGlobalBlocks(void)
{
    StateLock lock(StateMutex());
    return (DWORD)Blocks().size();
}
