#include "module/object_heap.h"

#include <windows.h>

#include "base/test_seams.h"

namespace {
LONG volatile failuresAhead = 0;
}

void* AllocateObject(std::size_t size) noexcept
{
    if (failuresAhead > 0 && InterlockedDecrement(&failuresAhead) >= 0) return nullptr;
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void FreeObject(void* block) noexcept
{
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

void FailNextObjectAllocations(int count) noexcept { InterlockedExchange(&failuresAhead, count); }
