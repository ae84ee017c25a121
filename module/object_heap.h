#pragma once
// Allocation of the module's COM objects: exhaustion is a null result, never
// an exception. A test seam (base/test_seams.h) makes allocations fail.
#include <cstddef>
#include <new>

void* AllocateObject(std::size_t size) noexcept;
void FreeObject(void* block) noexcept;

// Gives a COM class a nothrow operator new and a matching delete.
#define NORRVANE_OBJECT_HEAP                                                              \
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateObject(size); } \
    static void operator delete(void* block) noexcept { FreeObject(block); }
