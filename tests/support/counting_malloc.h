#pragma once
// An IMalloc that counts blocks given and taken back, and can refuse the n-th
// allocation, put in place of the shell's allocator for a test's scope.
#include <windows.h>
#include <objidl.h>

#include <set>

class CountingMalloc : public IMalloc {
public:
    int allocations = 0;
    int frees = 0;         // of blocks it gave
    int foreignFrees = 0;  // of blocks the shell made itself (GetIDList, ParseDisplayName)
    int failAt = 0;        // refuse the allocation with this number (from 1); 0: never
    SIZE_T largest = 0;    // the largest size asked for, given or refused

    // Blocks it gave that are not yet freed.
    int outstanding() const { return static_cast<int>(live_.size()); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(void*) Alloc(SIZE_T size) override;
    STDMETHODIMP_(void*) Realloc(void*, SIZE_T) override { return nullptr; }
    STDMETHODIMP_(void) Free(void* block) override;
    STDMETHODIMP_(SIZE_T) GetSize(void* block) override;
    STDMETHODIMP_(int) DidAlloc(void*) override { return -1; }
    STDMETHODIMP_(void) HeapMinimize() override {}

private:
    int attempts_ = 0;
    std::set<void*> live_;
};

// Puts a CountingMalloc in place of the shell's allocator while in scope.
class ScopedCountingAllocator {
public:
    ScopedCountingAllocator();
    ~ScopedCountingAllocator();
    CountingMalloc malloc;
};
