// The handle table of kernel objects (files, directory searches).
//
// Every call that reads or writes a file looks its handle up, from any
// thread, so a look-up takes no lock (PinHandle, internal.h): a handle names
// a slot and the slot's generation, and one atomic word per slot holds the
// generation, whether the handle is open, and how many references pin the
// object. A look-up pins with one compare-and-swap, its end unpins with one
// subtraction; closing clears the open bit and drops the handle's own
// reference, and whoever drops the last one destroys the object and frees
// the slot for a later generation. Only opening and that last release take
// the table's mutex, to hand slots out.
//
// A slot's next generation makes a new value, so a stale handle is always
// recognised (until a slot has been reused 2^32 times); values are never 0
// or INVALID_HANDLE_VALUE and are multiples of 4, as Windows hands them out.
#include "internal.h"

#include <mutex>

namespace w32emu
{

static_assert(sizeof(uintptr_t) == 8, "handle values carry a 32-bit generation above the slot number");

// Constant-initialised: no guard on the look-up path, usable until exit.
std::atomic<HandleSlot *> g_apHandleChunks[kHandleChunks];

namespace
{

struct SlotStore
{
    std::mutex mutex;        // the free list and the making of chunks
    uint32_t cSlotsUsed = 0; // slots ever handed out: 0..cSlotsUsed-1
    std::atomic<uint32_t> cOpen{0};
};

SlotStore &Store()
{
    static SlotStore &s = *new SlotStore; // never destroyed: usable until exit
    return s;
}

// The free slots' numbers, the last freed first.
std::vector<uint32_t> &FreeList()
{
    static std::vector<uint32_t> &v = *new std::vector<uint32_t>;
    return v;
}

HandleSlot *SlotAt(uint32_t index)
{
    HandleSlot *pChunk = g_apHandleChunks[index / kHandleSlotsPerChunk].load(std::memory_order_acquire);
    return pChunk ? &pChunk[index % kHandleSlotsPerChunk] : nullptr;
}

} // namespace

void FreeHandleSlot(HandleSlot *pSlot)
{
    delete pSlot->pObj; // closes the descriptor
    pSlot->pObj = nullptr;
    pSlot->fd = -1;
    SlotStore &s = Store();
    std::lock_guard<std::mutex> lock(s.mutex);
    FreeList().push_back(pSlot->index);
}

HANDLE InsertHandle(std::unique_ptr<KernelObject> obj)
{
    SlotStore &s = Store();
    HandleSlot *pSlot;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        std::vector<uint32_t> &free = FreeList();
        if (!free.empty())
        {
            pSlot = SlotAt(free.back());
            free.pop_back();
        }
        else
        {
            uint32_t index = s.cSlotsUsed;
            if (index / kHandleSlotsPerChunk >= kHandleChunks)
            {
                SetLastError(ERROR_TOO_MANY_OPEN_FILES);
                return nullptr;
            }
            std::atomic<HandleSlot *> &chunk = g_apHandleChunks[index / kHandleSlotsPerChunk];
            if (!chunk.load(std::memory_order_relaxed))
            {
                HandleSlot *pChunk = new HandleSlot[kHandleSlotsPerChunk];
                for (uint32_t i = 0; i < kHandleSlotsPerChunk; i++)
                {
                    pChunk[i].index = index / kHandleSlotsPerChunk * kHandleSlotsPerChunk + i;
                }
                chunk.store(pChunk, std::memory_order_release);
            }
            pSlot = SlotAt(index);
            s.cSlotsUsed = index + 1;
        }
    }
    // The slot is free: no reference, and no look-up can pin it, whatever
    // generation it is asked for. The next generation skips 0.
    uint32_t generation = (uint32_t)(pSlot->state.load(std::memory_order_relaxed) >> 32) + 1;
    if (generation == 0)
    {
        generation = 1;
    }
    pSlot->kind = obj->kind;
    if (obj->kind == HandleKind::File)
    {
        const FileObject *f = static_cast<const FileObject *>(obj.get());
        pSlot->fd = f->fd;
        pSlot->access = f->access;
        pSlot->bDirectory = f->bDirectory;
    }
    pSlot->pObj = obj.release();
    s.cOpen.fetch_add(1, std::memory_order_relaxed);
    pSlot->state.store(((uint64_t)generation << 32) | kHandleOpen | 1, std::memory_order_release);
    return (HANDLE)(((uintptr_t)generation << 32) | ((uintptr_t)pSlot->index << 2));
}

bool RemoveHandle(HANDLE h, HandleKind kind)
{
    HandleSlot *pSlot = PinHandle(h, kind);
    if (!pSlot)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    ObjectRef ref(pSlot); // unpins at the end: the object may go then
    uint64_t st = pSlot->state.load(std::memory_order_relaxed);
    for (;;)
    {
        if (!(st & kHandleOpen))
        {
            // Another thread closed the same handle first: for this call it
            // is no longer a handle.
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        // The open handle's own reference goes; the pin keeps the count
        // above zero.
        if (pSlot->state.compare_exchange_weak(st, (st & ~kHandleOpen) - 1, std::memory_order_acq_rel,
                                               std::memory_order_relaxed))
        {
            break;
        }
    }
    Store().cOpen.fetch_sub(1, std::memory_order_relaxed);
    return true;
}

std::vector<ObjectRef> HandlesOfKind(HandleKind kind)
{
    uint32_t cUsed;
    {
        SlotStore &s = Store();
        std::lock_guard<std::mutex> lock(s.mutex);
        cUsed = s.cSlotsUsed;
    }
    std::vector<ObjectRef> v;
    for (uint32_t i = 0; i < cUsed; i++)
    {
        HandleSlot *pSlot = SlotAt(i);
        uint64_t st = pSlot->state.load(std::memory_order_relaxed);
        // Pinned through the handle value of its current generation.
        HANDLE h = (HANDLE)((st & ~(uint64_t)0xFFFFFFFF) | ((uintptr_t)i << 2));
        if (HandleSlot *pPinned = PinHandle(h, kind))
        {
            v.emplace_back(pPinned);
        }
    }
    return v;
}

} // namespace w32emu

using namespace w32emu;

W32EMU_API DWORD W32EmuOpenHandleCount(void)
{
    return Store().cOpen.load(std::memory_order_relaxed);
}
