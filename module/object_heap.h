#pragma once
// Allocation of the module's COM objects: exhaustion is a null result, never
// an exception. Tests can make the next allocations fail to reach the
// out-of-memory answers.
#include <cstddef>
#include <new>

void* AllocateObject(std::size_t size) noexcept;
void FreeObject(void* block) noexcept;

// Test seam: the next `count` object allocations fail. 0 restores normal work.
void FailNextObjectAllocations(int count) noexcept;

// Gives a COM class a nothrow operator new and a matching delete.
#define NORRVANE_OBJECT_HEAP                                                              \
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateObject(size); } \
    static void operator delete(void* block) noexcept { FreeObject(block); }
