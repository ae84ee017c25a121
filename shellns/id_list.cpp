#include "shellns/id_list.h"

#include <objidl.h>
#include <shlobj.h>

#include <cstring>

#include "base/test_seams.h"

namespace {

// The shell's allocator, obtained on first use and never released. Objects of
// every apartment of the process may ask for it at once: it is published with
// a compare-and-exchange, and whoever loses the race gives back its own copy.
IMalloc* volatile shellAllocator = nullptr;

void* volatile* AllocatorSlot() { return reinterpret_cast<void* volatile*>(&shellAllocator); }

IMalloc* ObtainShellAllocator()
{
    IMalloc* current = static_cast<IMalloc*>(InterlockedCompareExchangePointer(AllocatorSlot(), nullptr, nullptr));
    if (current) return current;
    IMalloc* obtained = nullptr;
    if (SHGetMalloc(&obtained) != S_OK) return nullptr;
    current = static_cast<IMalloc*>(InterlockedCompareExchangePointer(AllocatorSlot(), obtained, nullptr));
    if (!current) return obtained;
    obtained->Release();
    return current;
}

// Item counts are read and written bytewise: a list may start at any address.
USHORT ItemSize(const void* item)
{
    USHORT size;
    std::memcpy(&size, item, sizeof size);
    return size;
}

void WriteTerminator(BYTE* at) { std::memset(at, 0, sizeof(USHORT)); }

const BYTE* Bytes(const ITEMIDLIST* list) { return reinterpret_cast<const BYTE*>(list); }

// A new list holding a copy of `size` bytes at `from` with a terminator written
// over its last two bytes, or null.
ITEMIDLIST* CopyClosed(const BYTE* from, UINT size)
{
    BYTE* copy = static_cast<BYTE*>(ShellAlloc(size));
    if (!copy) return nullptr;
    std::memcpy(copy, from, size - sizeof(USHORT));
    WriteTerminator(copy + size - sizeof(USHORT));
    return reinterpret_cast<ITEMIDLIST*>(copy);
}

const char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

void* ShellAlloc(ULONG size)
{
    IMalloc* allocator = ObtainShellAllocator();
    return allocator ? allocator->Alloc(size) : nullptr;
}

void ShellFree(void* block)
{
    if (!block) return;
    if (IMalloc* allocator = ObtainShellAllocator()) allocator->Free(block);
}

void SetShellAllocatorForTests(IMalloc* allocator) { InterlockedExchangePointer(AllocatorSlot(), allocator); }

const ITEMIDLIST* IdListNext(const ITEMIDLIST* item)
{
    if (!item) return nullptr;
    USHORT size = ItemSize(item);
    return size ? reinterpret_cast<const ITEMIDLIST*>(Bytes(item) + size) : nullptr;
}

UINT IdListSize(const ITEMIDLIST* list)
{
    if (!list) return 0;
    UINT size = sizeof(USHORT);
    for (const ITEMIDLIST* item = list; item; item = IdListNext(item)) size += ItemSize(item);
    return size;
}

ITEMIDLIST* IdListClone(const ITEMIDLIST* list)
{
    if (!list) return nullptr;
    UINT size = IdListSize(list);
    void* copy = ShellAlloc(size);
    if (copy) std::memcpy(copy, list, size);
    return static_cast<ITEMIDLIST*>(copy);
}

ITEMIDLIST* IdListCloneFirst(const ITEMIDLIST* list)
{
    if (!list) return nullptr;
    USHORT size = ItemSize(list);
    if (!size) return IdListClone(list);
    return CopyClosed(Bytes(list), size + sizeof(USHORT));
}

ITEMIDLIST* IdListSplitLast(const ITEMIDLIST* list, ITEMIDLIST** parent)
{
    if (parent) *parent = nullptr;
    if (!list) return nullptr;
    if (!ItemSize(list)) return IdListClone(list);

    const BYTE* last = Bytes(list);
    for (const BYTE* next = last + ItemSize(last); ItemSize(next); next += ItemSize(next)) last = next;
    UINT lastSize = ItemSize(last);
    UINT prefixSize = static_cast<UINT>(last - Bytes(list)) + sizeof(USHORT);

    // The two copies are made independently: either may fail alone.
    ITEMIDLIST* item = CopyClosed(last, lastSize + sizeof(USHORT));
    if (parent && prefixSize > sizeof(USHORT)) *parent = CopyClosed(Bytes(list), prefixSize);
    return item;
}

ITEMIDLIST* IdListCombine(const ITEMIDLIST* first, const ITEMIDLIST* second)
{
    if (!first) return IdListClone(second);
    if (!second) return IdListClone(first);
    UINT firstItems = IdListSize(first) - sizeof(USHORT);
    UINT secondSize = IdListSize(second);
    BYTE* joined = static_cast<BYTE*>(ShellAlloc(firstItems + secondSize));
    if (!joined) return nullptr;
    std::memcpy(joined, first, firstItems);
    std::memcpy(joined + firstItems, second, secondSize);
    return reinterpret_cast<ITEMIDLIST*>(joined);
}

BOOL IdListToHex(const ITEMIDLIST* list, wchar_t* destination, int capacity)
{
    // Not even the closing zero fits.
    if (capacity <= 0) return FALSE;
    UINT size = IdListSize(list);
    const BYTE* bytes = Bytes(list);
    for (UINT k = 0; k < size; ++k) {
        wchar_t* at = destination + 2 * k;
        // Two digits and the zero behind them must fit.
        if (2 * k + 3 > static_cast<UINT>(capacity)) {
            at[0] = L'\0';
            return FALSE;
        }
        at[0] = static_cast<wchar_t>(kHexDigits[bytes[k] >> 4]);
        at[1] = static_cast<wchar_t>(kHexDigits[bytes[k] & 0x0F]);
        at[2] = L'\0';
    }
    destination[2 * size] = L'\0';
    return TRUE;
}
