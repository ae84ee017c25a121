#pragma once
// The one item the user selected, read from the data object that the shell
// hands to the handler, or from the item array it hands to the command.
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

// The absolute item ID list of the selected item when the data object's
// "Shell IDList Array" holds exactly one item; null otherwise, and also when
// any part of the array lies outside its memory block. The caller frees the
// list with ShellFree. The data object's references are left as they are.
ITEMIDLIST* ReadSingleSelection(IDataObject* dataObject);

// The same for a "Shell IDList Array" already in memory: `block` and its
// `size` in bytes. Nothing outside those bytes is read.
ITEMIDLIST* ReadSelectionBlock(const BYTE* block, SIZE_T size);

// The absolute item ID list of the one item of `items`; null when the array
// is null or holds any other number of items, or the item has no list. The
// list is the shell's own: the caller frees it with ShellFree all the same.
ITEMIDLIST* ReadSingleItem(IShellItemArray* items);
