#pragma once
// Item ID lists: a run of items, each a 16-bit byte count (counting itself)
// and opaque data, closed by a zero count. No list (null), an empty list (the
// terminator alone) and a list of items are three distinct states. Lists may
// start at any byte address: nothing here assumes alignment.
//
// Every list returned here is new, belongs to the caller and is freed with
// ShellFree; inputs are never changed or freed.
#include <windows.h>
#include <shtypes.h>

// Blocks from the shell's allocator, obtained on first use and kept for the
// life of the process. Null when the allocator cannot be had or has no block.
void* ShellAlloc(ULONG size);
void ShellFree(void* block);

// The next item, or the terminator after the last item; null at the
// terminator and for null.
const ITEMIDLIST* IdListNext(const ITEMIDLIST* item);

// Bytes of the list, terminator included; 0 for null, 2 for an empty list.
UINT IdListSize(const ITEMIDLIST* list);

ITEMIDLIST* IdListClone(const ITEMIDLIST* list);

// The first item alone; a new empty list for an empty list; null for null.
ITEMIDLIST* IdListCloneFirst(const ITEMIDLIST* list);

// The last item alone (a new empty list for an empty list). `parent`, when
// given, receives all items but the last, or null when there are none. The
// two are allocated independently: either may be null on exhaustion.
ITEMIDLIST* IdListSplitLast(const ITEMIDLIST* list, ITEMIDLIST** parent);

// The items of `first` followed by those of `second`; a copy of the other
// when one is null; null when both are.
ITEMIDLIST* IdListCombine(const ITEMIDLIST* first, const ITEMIDLIST* second);

// Writes every byte of the list, terminator included, as two upper-case
// hexadecimal digits, then a zero. TRUE when all of it fitted in `capacity`
// characters; FALSE when it ran out.
BOOL IdListToHex(const ITEMIDLIST* list, wchar_t* destination, int capacity);
