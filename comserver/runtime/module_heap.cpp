// The module's private heaps and the allocator every part of the server uses.
#include "runtime/module_heap.h"

namespace {

// With extra heaps each block starts with this header; callers get the
// address just past it.
struct BlockHeader {
    HANDLE owner;
    DWORD reserved;
};
static_assert(sizeof(BlockHeader) == 8, "block header size");

// The largest power of two not above twice the processor count; none on a
// single processor.
DWORD ExtraHeapCount()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    if (info.dwNumberOfProcessors <= 1)
        return 0;
    const DWORD limit = 2 * info.dwNumberOfProcessors;
    DWORD count = 1;
    while (count <= limit / 2)
        count *= 2;
    return count;
}

BlockHeader* HeaderOf(void* block)
{
    return static_cast<BlockHeader*>(block) - 1;
}

// Private heaps: the base heap, plus a power-of-two number of extra heaps on
// machines with several processors, over which blocks are spread round-robin.
class CModuleHeaps {
public:
    constexpr CModuleHeaps() = default;
    void Create();
    void Destroy();
    void* Alloc(size_t size);
    void* Realloc(void* block, size_t size);
    void Free(void* block);

private:
    // Which heap the next block comes from.  Any thread may allocate: a
    // relaxed load and store (no locked instruction) may lose an update,
    // which only changes which heap serves a block; unsigned, it wraps.
    DWORD TakeNextHeap()
    {
        const DWORD next = __atomic_load_n(&nextHeap_, __ATOMIC_RELAXED);
        __atomic_store_n(&nextHeap_, next + 1, __ATOMIC_RELAXED);
        return next;
    }

    HANDLE baseHeap_ = nullptr;
    HANDLE* heaps_ = nullptr;  // null: the base heap serves alone
    DWORD heapMask_ = 0;       // number of extra heaps minus one
    DWORD nextHeap_ = 0;
};

constinit CModuleHeaps theHeaps;

}  // namespace

void CModuleHeaps::Create()
{
    baseHeap_ = HeapCreate(0, 0, 0);
    const DWORD count = ExtraHeapCount();
    if (!baseHeap_ || count == 0)
        return;
    HANDLE* heaps = static_cast<HANDLE*>(HeapAlloc(baseHeap_, 0, count * sizeof(HANDLE)));
    if (!heaps)
        return;  // the base heap serves alone
    for (DWORD i = 0; i < count; ++i) {
        heaps[i] = HeapCreate(0, 0, 0);
        if (!heaps[i]) {
            while (i > 0)
                HeapDestroy(heaps[--i]);
            HeapFree(baseHeap_, 0, heaps);
            return;
        }
    }
    heaps_ = heaps;
    heapMask_ = count - 1;
}

void CModuleHeaps::Destroy()
{
    if (!baseHeap_)
        return;
    if (heaps_) {
        for (DWORD i = 0; i <= heapMask_; ++i)
            HeapDestroy(heaps_[i]);
    }
    HeapDestroy(baseHeap_);
    baseHeap_ = nullptr;
    heaps_ = nullptr;
    heapMask_ = 0;
}

void* CModuleHeaps::Alloc(size_t size)
{
    if (!heaps_)
        return baseHeap_ ? HeapAlloc(baseHeap_, 0, size) : nullptr;
    const HANDLE heap = heaps_[TakeNextHeap() & heapMask_];
    if (size > MAXSIZE_T - sizeof(BlockHeader))
        return nullptr;
    BlockHeader* header = static_cast<BlockHeader*>(HeapAlloc(heap, 0, size + sizeof(BlockHeader)));
    if (!header)
        return nullptr;
    header->owner = heap;
    return header + 1;
}

void* CModuleHeaps::Realloc(void* block, size_t size)
{
    if (!block)
        return Alloc(size);
    if (!heaps_)
        return HeapReAlloc(baseHeap_, 0, block, size);
    if (size > MAXSIZE_T - sizeof(BlockHeader))
        return nullptr;
    BlockHeader* old = HeaderOf(block);
    BlockHeader* header = static_cast<BlockHeader*>(HeapReAlloc(old->owner, 0, old, size + sizeof(BlockHeader)));
    return header ? header + 1 : nullptr;
}

void CModuleHeaps::Free(void* block)
{
    if (!block)
        return;
    if (!heaps_) {
        HeapFree(baseHeap_, 0, block);
        return;
    }
    BlockHeader* header = HeaderOf(block);
    HeapFree(header->owner, 0, header);
}

void* ModuleAlloc(size_t size)
{
    return theHeaps.Alloc(size);
}

void* ModuleRealloc(void* block, size_t size)
{
    return theHeaps.Realloc(block, size);
}

void ModuleFree(void* block)
{
    theHeaps.Free(block);
}

void ModuleHeapsCreate(void)
{
    theHeaps.Create();
}

void ModuleHeapsDestroy(void)
{
    theHeaps.Destroy();
}
