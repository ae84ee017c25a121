#include "support/counting_malloc.h"

#include "base/test_seams.h"

STDMETHODIMP CountingMalloc::QueryInterface(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMalloc)) return E_NOINTERFACE;
    *ppv = static_cast<IMalloc*>(this);
    return S_OK;
}

// Blocks come from the shell's own task allocator, so that lists handed to
// the shell (and lists the shell hands back) stay interchangeable.
STDMETHODIMP_(void*) CountingMalloc::Alloc(SIZE_T size)
{
    if (size > largest) largest = size;
    if (++attempts_ == failAt) return nullptr;
    void* block = CoTaskMemAlloc(size);
    if (block) {
        ++allocations;
        live_.insert(block);
    }
    return block;
}

STDMETHODIMP_(void) CountingMalloc::Free(void* block)
{
    if (!block) return;
    if (live_.erase(block))
        ++frees;
    else
        ++foreignFrees;
    CoTaskMemFree(block);
}

STDMETHODIMP_(SIZE_T) CountingMalloc::GetSize(void*) { return static_cast<SIZE_T>(-1); }

ScopedCountingAllocator::ScopedCountingAllocator() { SetShellAllocatorForTests(&malloc); }
ScopedCountingAllocator::~ScopedCountingAllocator() { SetShellAllocatorForTests(nullptr); }
