#include "command/selection.h"

#include <cstddef>
#include <cstring>

#include "base/com_ref.h"
#include "base/system_routine.h"
#include "shellns/holders.h"
#include "shellns/id_list.h"

namespace {

// Counts and offsets come from another process's memory: read them without
// assuming alignment.
UINT ReadUint(const BYTE* at)
{
    UINT value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// True when a whole item ID list, terminator included, lies in the `available`
// bytes from `list` on. A count below 2 can never step forward: malformed.
bool IdListLiesWithin(const BYTE* list, SIZE_T available)
{
    SIZE_T used = 0;
    for (;;) {
        if (available - used < sizeof(USHORT)) return false;
        USHORT cb;
        std::memcpy(&cb, list + used, sizeof cb);
        if (cb == 0) return true;
        if (cb < sizeof(USHORT) || cb > available - used) return false;
        used += cb;
    }
}

// The folder's list and the item's list of a block holding a "Shell IDList
// Array" of exactly one item; false for any other count, and when the offsets
// or the lists they lead to do not lie within the block's `size` bytes.
bool LocateSingleItem(const BYTE* block, SIZE_T size, const BYTE** folder, const BYTE** item)
{
    const SIZE_T countEnd = offsetof(CIDA, aoffset);
    const SIZE_T offsetsEnd = countEnd + 2 * sizeof(UINT);
    if (size < countEnd || ReadUint(block) != 1 || size < offsetsEnd) return false;
    const UINT folderOffset = ReadUint(block + countEnd);
    const UINT itemOffset = ReadUint(block + countEnd + sizeof(UINT));
    if (folderOffset >= size || itemOffset >= size) return false;
    if (!IdListLiesWithin(block + folderOffset, size - folderOffset) ||
        !IdListLiesWithin(block + itemOffset, size - itemOffset))
        return false;
    *folder = block + folderOffset;
    *item = block + itemOffset;
    return true;
}

}  // namespace

ITEMIDLIST* ReadSelectionBlock(const BYTE* block, SIZE_T size)
{
    const BYTE* folder = nullptr;
    const BYTE* item = nullptr;
    if (!LocateSingleItem(block, size, &folder, &item)) return nullptr;
    IdListHolder folderCopy(IdListClone(reinterpret_cast<const ITEMIDLIST*>(folder)));
    IdListHolder itemCopy(IdListClone(reinterpret_cast<const ITEMIDLIST*>(item)));
    // A copy that failed must not be mistaken for a missing half.
    if (!folderCopy || !itemCopy) return nullptr;
    return IdListCombine(folderCopy.get(), itemCopy.get());
}

ITEMIDLIST* ReadSingleSelection(IDataObject* dataObject)
{
    if (!dataObject) return nullptr;
    FORMATETC format = {static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_SHELLIDLIST)), nullptr,
                        DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    if (dataObject->GetData(&format, &medium) != S_OK) return nullptr;

    ITEMIDLIST* selection = nullptr;
    const BYTE* block = medium.tymed == TYMED_HGLOBAL ? static_cast<const BYTE*>(GlobalLock(medium.hGlobal)) : nullptr;
    if (block) {
        selection = ReadSelectionBlock(block, GlobalSize(medium.hGlobal));
        GlobalUnlock(medium.hGlobal);
    }
    ReleaseStgMedium(&medium);
    return selection;
}

ITEMIDLIST* ReadSingleItem(IShellItemArray* items)
{
    DWORD count = 0;
    if (!items || items->GetCount(&count) != S_OK || count != 1) return nullptr;
    ComRef<IShellItem> item;
    if (items->GetItemAt(0, item.out()) != S_OK) return nullptr;
    // Systems before 6.0 lack it, and the DLL must still load there.
    const auto getIdList = FindSystemRoutine<HRESULT(WINAPI*)(IUnknown*, ITEMIDLIST**)>(L"shell32.dll",
                                                                                      "SHGetIDListFromObject");
    ITEMIDLIST* list = nullptr;
    if (!getIdList || getIdList(item.get(), &list) != S_OK) return nullptr;
    return list;
}
