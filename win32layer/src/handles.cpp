// The handle table of kernel objects (files, directory searches). Handle
// values are never reused, so a stale handle is always recognised, and never
// 0 or INVALID_HANDLE_VALUE.
#include "internal.h"

#include <map>

namespace w32emu
{
namespace
{

struct HandleTable
{
    std::map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    uintptr_t next = 0x100; // multiples of 4, as Windows hands them out
};

HandleTable &Handles()
{
    static HandleTable &t = *new HandleTable;
    return t;
}

} // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> obj)
{
    StateLock lock(StateMutex());
    HandleTable &t = Handles();
    t.next += 4;
    t.objects[t.next] = std::move(obj);
    return (HANDLE)t.next;
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE h, HandleKind kind)
{
    StateLock lock(StateMutex());
    auto &m = Handles().objects;
    auto it = m.find((uintptr_t)h);
    if (it == m.end() || it->second->kind != kind)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE h, HandleKind kind)
{
    StateLock lock(StateMutex());
    auto &m = Handles().objects;
    auto it = m.find((uintptr_t)h);
    if (it == m.end() || it->second->kind != kind)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    std::shared_ptr<KernelObject> obj = std::move(it->second);
    m.erase(it);
    return obj;
}

std::vector<std::shared_ptr<KernelObject>> HandlesOfKind(HandleKind kind)
{
    StateLock lock(StateMutex());
    std::vector<std::shared_ptr<KernelObject>> v;
    for (auto &e : Handles().objects)
    {
        if (e.second->kind == kind)
        {
            v.push_back(e.second);
        }
    }
    return v;
}

} // namespace w32emu

using namespace w32emu;

W32EMU_API DWORD W32EmuOpenHandleCount(void)
{
    StateLock lock(StateMutex());
    return (DWORD)Handles().objects.size();
}
